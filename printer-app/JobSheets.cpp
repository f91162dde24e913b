// A job's sheets on its attached printer: the job's record of what an
// earlier run printed, the turns of two jobs on one printer, and each sheet
// sent whole through SheetSender and waited for until printed.
#include "AttachedPrinter.h"

#include "AppStop.h"
#include "MediaSets.h"
#include "MediaSizes.h"
#include "SheetSender.h"
#include "UsbPrinterPort.h"

#include <cups/cups.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

std::mutex g_timingMutex;
SheetTiming g_timing;
std::mutex g_recordsMutex;
std::string g_recordsFolder;

}  // namespace

// The sender's way to the printer: the handle the registry attached, under
// the I/O lock for each exchange; a printer that left is waited for until
// the registry attaches it again.
class AttachedPrinter::SheetPort : public UsbPrinterPort {
public:
    SheetPort(AttachedPrinter& attached, pappl_job_t* job, bool (*canceled)(void*), void* data)
        : m_attached(attached), m_job(job), m_canceled(canceled), m_data(data)
    {
    }

    Return AwaitReturn() override
    {
        if (LastHandle() != nullptr)
            m_attached.MarkGone(LastHandle());
        if (!m_attached.WaitForHandle(m_canceled, m_data))
            return Return::kCanceled;
        NewPlug();
        return Return::kBack;
    }

    bool Canceled() override { return AttachedPrinter::Ends(m_canceled, m_data); }
    void ShowStatus(int64_t status) override { m_attached.Publish(status, nullptr); }
    void ShowMediaNeeded(int multicut, int loaded) override
    {
        m_attached.SetMediaNeeded(multicut != 0);
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
        m_attached.m_io.lock();
        std::lock_guard<std::mutex> lock(m_attached.m_state);
        if (m_attached.m_handle == nullptr || m_attached.m_gone) {
            m_attached.m_io.unlock();
            return nullptr;
        }
        return m_attached.m_handle;
    }
    void ReleaseHandle() override { m_attached.m_io.unlock(); }

private:
    AttachedPrinter& m_attached;
    pappl_job_t* m_job;
    bool (*m_canceled)(void*);
    void* m_data;
};

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

bool AttachedPrinter::HoldForJob(JobSheets* sheets, bool (*canceled)(void*), void* cancelData)
{
    // Two jobs of one printer may run at once (PAPPL starts the next job
    // before the first one's thread has marked the printer busy): their
    // sheets take turns by job, never interleave.
    std::unique_lock<std::mutex> lock(m_state);
    while (m_jobHolder != nullptr && m_jobHolder != sheets) {
        if (Ends(canceled, cancelData))
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
    if (result == ECANCELED && KeepingJobs() && !(canceled != nullptr && canceled(cancelData))) {
        // The application stops keeping its jobs: this one must not end
        // (PAPPL would finish it as aborted and drop its document). It
        // waits here until the process ends.
        CountKeptJob();
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
            if (outcome == SheetSender::kCanceled && AppStopping())
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

