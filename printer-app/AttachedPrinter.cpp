#include "AttachedPrinter.h"

#include "MediaSets.h"
#include "MediaSizes.h"
#include "PrinterClaim.h"
#include "Rt50Driver.h"
#include "PrinterStatusCodes.h"
#include "SheetSender.h"
#include "UsbPrinterPort.h"
#include "UsbTransfer.h"

#include <cups/cups.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

std::mutex g_timingMutex;
SheetTiming g_timing;
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_keepJobs{false};
std::atomic<int> g_keptJobs{0};

using Clock = std::chrono::steady_clock;

bool Canceled(bool (*canceled)(void*), void* data)
{
    return AttachedPrinter::Stopping() || (canceled != nullptr && canceled(data));
}

}  // namespace

// The sender's way to the printer: the handle the registry attached, under
// the I/O lock for each exchange; a printer that left is waited for until
// the registry attaches it again.
class AttachedPrinter::SheetPort : public UsbPrinterPort {
public:
    SheetPort(AttachedPrinter& link, pappl_job_t* job, bool (*canceled)(void*), void* data)
        : m_link(link), m_job(job), m_canceled(canceled), m_data(data)
    {
    }

    Return AwaitReturn() override
    {
        if (LastHandle() != nullptr)
            m_link.MarkGone(LastHandle());
        if (!m_link.WaitForHandle(m_canceled, m_data))
            return Return::kCanceled;
        NewPlug();
        return Return::kBack;
    }

    bool Canceled() override { return ::Canceled(m_canceled, m_data); }
    void ShowStatus(int64_t status) override { m_link.Publish(status, nullptr); }
    void ShowMediaNeeded(int multicut, int loaded) override
    {
        m_link.SetMediaNeeded(multicut != 0);
        if (m_job == nullptr)
            return;
        if (multicut != 0)
            papplJobSetMessage(m_job, "Media needed: the %s page needs %s (loaded: %d).", PageSizeOfMulticut(multicut),
                               MediaNeededFor(multicut), loaded);
        else
            papplJobSetMessage(m_job, "Printing.");
    }

protected:
    libusb_device_handle* AcquireHandle() override
    {
        m_link.m_io.lock();
        std::lock_guard<std::mutex> lock(m_link.m_state);
        if (m_link.m_handle == nullptr || m_link.m_gone) {
            m_link.m_io.unlock();
            return nullptr;
        }
        return m_link.m_handle;
    }
    void ReleaseHandle() override { m_link.m_io.unlock(); }

private:
    AttachedPrinter& m_link;
    pappl_job_t* m_job;
    bool (*m_canceled)(void*);
    void* m_data;
};

std::mutex g_recordsMutex;
std::string g_recordsFolder;

JobSheets::JobSheets(pappl_job_t* job) : m_records(AttachedPrinter::RecordsFolder())
{
    if (job != nullptr) {
        const std::string id = std::to_string(papplJobGetID(job));
        m_records.CleanOld(kJobRecordMaxAge);
        m_recorded = m_records.Choose(id.c_str(), RecordUuid(job).c_str());
    }
    m_resumed = !m_recorded || !m_records.Load(&m_before);
    m_skip = m_before.printed;
}

JobSheets::~JobSheets()
{
    if (m_holding != nullptr)
        m_holding->LetGoOfJob(this);
}

std::string JobSheets::RecordUuid(pappl_job_t* job)
{
    if (job == nullptr)
        return "";
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const char* system = printer != nullptr ? papplSystemGetUUID(papplPrinterGetSystem(printer)) : nullptr;
    const std::string identity = std::string(system != nullptr ? system : "") + ":" +
                                 std::to_string(printer != nullptr ? papplPrinterGetID(printer) : 0) + ":" +
                                 std::to_string(papplJobGetID(job)) + ":" +
                                 std::to_string(static_cast<long long>(papplJobGetTimeCreated(job)));
    unsigned char hash[32];
    if (cupsHashData("sha2-256", identity.data(), identity.size(), hash, sizeof hash) < 16)
        return "";
    // A name-based uuid: version and variant bits set as RFC 4122 says.
    hash[6] = static_cast<unsigned char>((hash[6] & 0x0f) | 0x50);
    hash[8] = static_cast<unsigned char>((hash[8] & 0x3f) | 0x80);
    char text[48];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", hash[0], hash[1],
                  hash[2], hash[3], hash[4], hash[5], hash[6], hash[7], hash[8], hash[9], hash[10], hash[11], hash[12],
                  hash[13], hash[14], hash[15]);
    return text;
}

JobRecord JobSheets::Combined(const JobRecord& sheet) const
{
    // Earlier sheets known printed let this sheet's printed count on.
    JobRecord record;
    record.serial = sheet.serial;
    record.taken = m_done.taken + sheet.taken;
    record.printed = m_done.printed == m_done.taken ? m_done.printed + sheet.printed : m_done.printed;
    record.mark = sheet.taken > 0 ? sheet.mark : m_done.mark;
    return record;
}

void JobSheets::Keep(const JobRecord& sheet)
{
    if (m_recorded)
        m_records.Save(Combined(sheet));
}

void JobSheets::Finished()
{
    if (m_recorded)
        m_records.Remove();
}

void AttachedPrinter::SetRecordsFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    g_recordsFolder = folder;
}

std::string AttachedPrinter::RecordsFolder()
{
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    return g_recordsFolder;
}

void AttachedPrinter::SetTiming(const SheetTiming& timing)
{
    std::lock_guard<std::mutex> lock(g_timingMutex);
    g_timing = timing;
}

SheetTiming AttachedPrinter::Timing()
{
    std::lock_guard<std::mutex> lock(g_timingMutex);
    return g_timing;
}

void AttachedPrinter::StopAll()
{
    g_stopping = true;
}

bool AttachedPrinter::Stopping()
{
    return g_stopping;
}

void AttachedPrinter::StopKeepingJobs()
{
    g_keepJobs = true;
    g_stopping = true;
}

int AttachedPrinter::KeptJobs()
{
    return g_keptJobs;
}

AttachedPrinter::AttachedPrinter(const std::string& serial)
    : m_serial(serial)
{
    m_facts.serial = serial;
}

AttachedPrinter::~AttachedPrinter()
{
    DetachAll();
}

void AttachedPrinter::Attach(libusb_device* device, libusb_device_handle* handle, const char* firmware,
                         const char* deviceId)
{
    libusb_device_handle* old = nullptr;
    libusb_device* oldDevice = nullptr;
    {
        std::lock_guard<std::mutex> io(m_io);
        std::lock_guard<std::mutex> lock(m_state);
        old = m_handle;
        oldDevice = m_device;
        m_device = libusb_ref_device(device);
        m_handle = handle;
        m_gone = false;
        // A fresh plug starts the printer's command stream afresh.
        m_needsReset = false;
        m_facts.online = true;
        m_facts.firmware = firmware != nullptr ? firmware : "";
        m_facts.deviceId = deviceId != nullptr ? deviceId : "";
    }
    ReleasePrinter(old);
    if (oldDevice != nullptr)
        libusb_unref_device(oldDevice);
    m_arrived.notify_all();
}

void AttachedPrinter::Detach(libusb_device* device)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        if (m_device != device)
            return;
        m_gone = true;
        m_facts.online = false;
    }
    DetachAll();
}

void AttachedPrinter::DetachAll()
{
    libusb_device_handle* handle = nullptr;
    libusb_device* device = nullptr;
    {
        // Transfers of a departed printer end at once; a job's waits do
        // not hold the I/O lock.
        std::lock_guard<std::mutex> io(m_io);
        std::lock_guard<std::mutex> lock(m_state);
        handle = m_handle;
        device = m_device;
        m_handle = nullptr;
        m_device = nullptr;
        m_gone = true;
        m_facts.online = false;
        m_facts.status = kStatusFailed;
    }
    ReleasePrinter(handle);
    if (device != nullptr) {
        libusb_unref_device(device);
        Publish(kStatusFailed, nullptr);
    }
}

bool AttachedPrinter::Online() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_handle != nullptr && !m_gone;
}

PrinterFacts AttachedPrinter::Facts() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_facts;
}

void AttachedPrinter::SetPrinter(pappl_printer_t* printer)
{
    std::unique_lock<std::mutex> lock(m_state);
    m_printer = printer;
    m_readyIndex = -2;
    m_suppliesShown = false;
    m_mediaNeededShown = false;
    // PAPPL frees a deleted printer right after: nobody may still use it.
    m_printerFree.wait(lock, [this] { return m_printerUsers == 0; });
}

void AttachedPrinter::ShowLastPoll()
{
    int64_t status;
    MediaState media;
    {
        std::lock_guard<std::mutex> lock(m_state);
        status = m_facts.status;
        media = m_facts.media;
    }
    if (status != kStatusFailed)
        Publish(status, &media);
}

pappl_printer_t* AttachedPrinter::AcquireShownPrinter()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_printer != nullptr)
        ++m_printerUsers;
    return m_printer;
}

void AttachedPrinter::ReleaseShownPrinter()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (--m_printerUsers == 0)
        m_printerFree.notify_all();
}

pappl_printer_t* AttachedPrinter::Printer() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_printer;
}

bool AttachedPrinter::BeginJob()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_inJob)
        return false;
    m_inJob = true;
    return true;
}

void AttachedPrinter::EndJob()
{
    std::lock_guard<std::mutex> lock(m_state);
    m_inJob = false;
}

bool AttachedPrinter::WaitForHandle(bool (*canceled)(void*), void* cancelData)
{
    bool reported = false;
    std::unique_lock<std::mutex> lock(m_state);
    while (m_handle == nullptr || m_gone) {
        if (!reported) {
            reported = true;
            lock.unlock();
            Publish(kStatusFailed, nullptr);
            lock.lock();
            continue;
        }
        if (Canceled(canceled, cancelData))
            return false;
        m_arrived.wait_for(lock, std::chrono::milliseconds(Timing().pollMs));
    }
    return true;
}

void AttachedPrinter::MarkGone(libusb_device_handle* handle)
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_handle == handle)
        m_gone = true;
}

void AttachedPrinter::SoftReset(libusb_device_handle* handle)
{
    // Whatever the printer made of the cut-off packet is dropped; a halted
    // endpoint is cleared with it.
    SoftResetPrinter(handle);
    std::lock_guard<std::mutex> lock(m_state);
    m_needsReset = false;
}

bool AttachedPrinter::HoldForJob(JobSheets* sheets, bool (*canceled)(void*), void* cancelData)
{
    // Two jobs of one printer may run at once (PAPPL starts the next job
    // before the first one's thread has marked the printer busy): their
    // sheets take turns by job, never interleave.
    std::unique_lock<std::mutex> lock(m_state);
    while (m_jobHolder != nullptr && m_jobHolder != sheets) {
        if (Canceled(canceled, cancelData))
            return false;
        m_jobDone.wait_for(lock, std::chrono::milliseconds(Timing().pollMs));
    }
    m_jobHolder = sheets;
    sheets->m_holding = this;
    return true;
}

void AttachedPrinter::LetGoOfJob(JobSheets* sheets)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        if (m_jobHolder == sheets)
            m_jobHolder = nullptr;
    }
    sheets->m_holding = nullptr;
    m_jobDone.notify_all();
}

int AttachedPrinter::PrintSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                                bool (*canceled)(void*), void* cancelData)
{
    const int result = SendSheet(data, length, sheets, job, canceled, cancelData);
    if (result == ECANCELED && g_keepJobs && !(canceled != nullptr && canceled(cancelData))) {
        // The application stops keeping its jobs: this one must not end
        // (PAPPL would finish it as aborted and drop its document). It
        // waits here until the process ends.
        ++g_keptJobs;
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return result;
}

int AttachedPrinter::SendSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                               bool (*canceled)(void*), void* cancelData)
{
    if (sheets != nullptr && !HoldForJob(sheets, canceled, cancelData))
        return ECANCELED;
    const SheetTiming timing = Timing();
    SendTiming sending;
    sending.transferTimeoutMs = timing.writeTimeoutMs;
    sending.statusIntervalMs = timing.pollMs;
    sending.stallLimitMs = 0;   // a full buffer is waited out while the job lasts
    sending.progressLimitMs = timing.printLimitMs;
    SheetPort port(*this, job, canceled, cancelData);
    const int sheet = sheets != nullptr ? ++sheets->m_sheet : 1;
    for (;;) {
        if (!WaitForHandle(canceled, cancelData))
            return ECANCELED;
        // A packet cut off by an earlier failed raw write is cleared first.
        bool needsReset;
        {
            std::lock_guard<std::mutex> lock(m_state);
            needsReset = m_needsReset;
        }
        if (needsReset && port.Reset()) {
            std::lock_guard<std::mutex> lock(m_state);
            m_needsReset = false;
        }
        if (sheets != nullptr && !sheets->m_resumed) {
            // The earlier run's last sheets may still be in the printer.
            SheetSender settling(port, sending);
            if (settling.ResumeFrom(sheets->m_before, m_serial) != SheetSender::kNeedData)
                return ECANCELED;
            sheets->m_skip = settling.Delivered(m_serial).printed;
            sheets->m_done.serial = m_serial;
            sheets->m_done.printed = sheets->m_done.taken = sheets->m_skip;
            sheets->m_resumed = true;
        }
        if (sheets != nullptr && sheet <= sheets->m_skip)
            return 0;   // printed by an earlier run
        SheetSender sender(port, sending);
        if (sheets != nullptr && sheets->m_done.printed < sheets->m_done.taken)
            sender.SetHandoffMark(sheets->m_done.mark);   // an earlier sheet may still print
        sender.Append(data, length);
        sender.EndData();
        SheetSender::Outcome outcome = sender.Run();
        if (outcome == SheetSender::kSheetTaken) {
            if (sheets != nullptr)
                sheets->Keep(sender.Delivered(m_serial));
            outcome = sender.AwaitPrinted();
            // The printer keeps a sheet it has whole: an application that
            // stops counts it delivered (its record says taken, not printed).
            if (outcome == SheetSender::kCanceled && Stopping())
                outcome = SheetSender::kPrinted;
        } else {
            sender.LeavePrinterClean();
        }
        if (sheets != nullptr && outcome != SheetSender::kLost) {
            const JobRecord delivered = sender.Delivered(m_serial);
            sheets->Keep(delivered);
            if (outcome == SheetSender::kPrinted)
                sheets->m_done = sheets->Combined(delivered);
        }
        SetMediaNeeded(false);
        switch (outcome) {
        case SheetSender::kPrinted:
            return 0;
        case SheetSender::kLost:
            continue;   // dropped after an error: the sheet goes again
        case SheetSender::kCanceled:
            return ECANCELED;
        case SheetSender::kNoProgress:
            return ETIMEDOUT;
        case SheetSender::kGaveUp:
            return EIO;
        default:
            return EINVAL;   // not one sheet of the filter's
        }
    }
}

void AttachedPrinter::SetMediaNeeded(bool needed)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_mediaNeeded = needed;
    }
    ShowMediaNeeded();
}

void AttachedPrinter::SetQueueNeedsMedia(bool needed)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_queueNeedsMedia = needed;
    }
    ShowMediaNeeded();
}

void AttachedPrinter::ShowMediaNeeded()
{
    std::lock_guard<std::mutex> showing(m_showing);
    pappl_printer_t* printer;
    bool needed;
    {
        std::lock_guard<std::mutex> lock(m_state);
        needed = m_mediaNeeded || m_queueNeedsMedia;
        if (m_mediaNeededShown == needed || m_printer == nullptr)
            return;
        m_mediaNeededShown = needed;
        printer = m_printer;
        ++m_printerUsers;
    }
    papplPrinterSetReasons(printer, needed ? PAPPL_PREASON_MEDIA_NEEDED : PAPPL_PREASON_NONE,
                           needed ? PAPPL_PREASON_NONE : PAPPL_PREASON_MEDIA_NEEDED);
    ReleaseShownPrinter();
}

ssize_t AttachedPrinter::WriteRaw(const void* data, size_t length)
{
    libusb_device_handle* handle;
    {
        std::lock_guard<std::mutex> lock(m_state);
        handle = m_gone ? nullptr : m_handle;
    }
    if (handle == nullptr || length > (1u << 30))
        return -1;
    std::lock_guard<std::mutex> io(m_io);
    int sent = 0;
    const int result = deviceWrite(handle, data, static_cast<int>(length), &sent, Timing().writeTimeoutMs);
    if (result != 0) {
        std::lock_guard<std::mutex> lock(m_state);
        m_needsReset = true;
        if (result == LIBUSB_ERROR_NO_DEVICE)
            m_gone = true;
    }
    return sent > 0 ? sent : (result == 0 ? 0 : -1);
}

bool AttachedPrinter::Poll()
{
    libusb_device_handle* handle;
    bool needsReset;
    {
        std::lock_guard<std::mutex> lock(m_state);
        // PAPPL keeps the device open while any job waits, so a printer
        // with queued jobs is polled between them (no job's sheets under way).
        if ((m_inJob && m_jobHolder != nullptr) || m_gone || m_handle == nullptr)
            return false;
        handle = m_handle;
        needsReset = m_needsReset;
    }
    std::unique_lock<std::mutex> io(m_io, std::try_to_lock);
    if (!io.owns_lock())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        if ((m_inJob && m_jobHolder != nullptr) || m_handle != handle)
            return false;
    }
    if (needsReset)
        SoftReset(handle);
    const int64_t status = GetStatus(handle);
    MediaState media;
    if (status != kStatusFailed) {
        char size[kQueryValueSize], initial[kQueryValueSize], remaining[kQueryValueSize];
        const bool sized = GetMediaSize(handle, size, sizeof size) >= 0;
        const bool counted = GetMediaInitial(handle, initial, sizeof initial) >= 0;
        const bool left = GetMediaRemain(handle, remaining, sizeof remaining) >= 0;
        media = ParseMediaState(sized ? size : nullptr, counted ? initial : nullptr, left ? remaining : nullptr);
        if (vantora_exchange::CounterAnswersPromptly(status)) {
            const long counter = ReadLifeCounter(handle, false);
            std::lock_guard<std::mutex> lock(m_state);
            if (counter >= 0)
                m_facts.lifeCounter = counter;
        }
    }
    io.unlock();
    Publish(status, status != kStatusFailed ? &media : nullptr);
    return status != kStatusFailed;
}

void AttachedPrinter::Publish(int64_t status, const MediaState* media)
{
    std::lock_guard<std::mutex> showing(m_showing);
    pappl_printer_t* printer;
    MediaState shown;
    int ready = -1;
    bool readyChanged = false;
    bool suppliesChanged = false;
    bool mediaNeeded = false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_facts.status = status;
        if (media != nullptr)
            m_facts.media = *media;
        shown = m_facts.media;
        printer = m_printer;
        mediaNeeded = m_mediaNeeded || m_queueNeedsMedia;
        m_mediaNeededShown = mediaNeeded;
        ready = ReadyMediaIndex(shown.mediaCode);
        readyChanged = media != nullptr && ready >= 0 && ready != m_readyIndex;
        if (readyChanged)
            m_readyIndex = ready;
        suppliesChanged = media != nullptr && (!m_suppliesShown || shown.remaining != m_shownSupply.remaining ||
                                               shown.initial != m_shownSupply.initial);
        if (suppliesChanged) {
            m_suppliesShown = true;
            m_shownSupply = shown;
        }
        if (printer != nullptr)
            ++m_printerUsers;
    }
    if (printer == nullptr)
        return;
    struct Release {
        AttachedPrinter* link;
        ~Release() { link->ReleaseShownPrinter(); }
    } release{this};
    // The media count's reasons only while the printer answers.
    pappl_preason_t add = ReasonsForStatus(status);
    if (status != kStatusFailed)
        add |= ReasonsForMedia(shown);
    if (mediaNeeded)
        add |= PAPPL_PREASON_MEDIA_NEEDED;
    papplPrinterSetReasons(printer, add, kDeviceReasons & ~add);
    if (suppliesChanged)
        RefreshPrinterAttributes(printer, shown);
    if (readyChanged) {
        pappl_media_col_t col = MediaCol(ready, true);
        papplPrinterSetReadyMedia(printer, 1, &col);
    }
}
