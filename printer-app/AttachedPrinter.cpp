#include "AttachedPrinter.h"

#include "MediaSizes.h"
#include "PrintWatch.h"
#include "PrinterClaim.h"
#include "Rt50Driver.h"
#include "SheetSender.h"
#include "UsbTransfer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::mutex g_timingMutex;
SheetTiming g_timing;
std::atomic<bool> g_stopping{false};

using Clock = std::chrono::steady_clock;

bool Canceled(bool (*canceled)(void*), void* data)
{
    return AttachedPrinter::Stopping() || (canceled != nullptr && canceled(data));
}

}  // namespace

// The sender's way to the printer: the handle the registry attached, under
// the I/O lock for each exchange; a printer that left is waited for until
// the registry attaches it again.
class AttachedPrinter::SheetPort : public PrinterPort {
public:
    SheetPort(AttachedPrinter& link, bool (*canceled)(void*), void* data) : m_link(link), m_canceled(canceled), m_data(data) {}

    libusb_device_handle* Lock() override
    {
        m_link.m_io.lock();
        std::lock_guard<std::mutex> lock(m_link.m_state);
        if (m_link.m_handle == nullptr || m_link.m_gone) {
            m_link.m_io.unlock();
            return nullptr;
        }
        return m_link.m_handle;
    }
    void Unlock() override { m_link.m_io.unlock(); }

    Return AwaitReturn(libusb_device_handle* lost) override
    {
        if (lost != nullptr)
            m_link.MarkGone(lost);
        return m_link.WaitForHandle(m_canceled, m_data) ? Return::kBack : Return::kCanceled;
    }

    bool Canceled() override { return ::Canceled(m_canceled, m_data); }
    bool JobCanceled() const { return m_canceled != nullptr && m_canceled(m_data); }
    void ShowStatus(int64_t status) override { m_link.Publish(status, nullptr); }

private:
    AttachedPrinter& m_link;
    bool (*m_canceled)(void*);
    void* m_data;
};

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
    // PAPPL frees a deleted printer right after: nobody may still use it.
    m_printerFree.wait(lock, [this] { return m_printerUsers == 0; });
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

long AttachedPrinter::ReadCounter(libusb_device_handle* handle, int64_t status)
{
    // A printer saving power answers its life counter only after a long
    // pause: it is not asked then.
    char value[kQueryValueSize];
    if (status == kStatusFailed || status == 900 || GetTotalCount(handle, value, false, sizeof value) <= 0)
        return -1;
    const long number = LifeCounterOfAnswer(value);
    if (number >= 0) {
        std::lock_guard<std::mutex> lock(m_state);
        m_facts.lifeCounter = number;
    }
    return number;
}

int AttachedPrinter::WaitForPrint(SheetPort& port, long counterBefore)
{
    const SheetTiming timing = Timing();
    PrintWatch watch(counterBefore, 1);
    int64_t lastStatus = kStatusFailed;
    Clock::time_point since = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timing.pollMs));
        // The printer keeps a sheet it has whole: a cancel only stops the
        // waiting for it, and an application that stops counts it delivered.
        if (Stopping())
            return 0;
        if (port.JobCanceled())
            return ECANCELED;
        int64_t status = kStatusFailed;
        long counter = -1;
        bool gone = false;
        libusb_device_handle* handle = port.Lock();
        if (handle != nullptr) {
            status = GetStatus(handle);
            counter = ReadCounter(handle, status);
            gone = status == kStatusFailed && PrinterGone(handle);
            port.Unlock();
        }
        if (handle == nullptr || gone) {
            // Left: the sheet it holds is looked for once it is back.
            if (port.AwaitReturn(handle) != PrinterPort::Return::kBack)
                return Stopping() ? 0 : ECANCELED;
            continue;
        }
        if (status != lastStatus) {
            lastStatus = status;
            since = Clock::now();
            Publish(status, nullptr);
        }
        switch (watch.Judge(status, counter)) {
        case PrintWatch::kPrinted:
            return 0;
        case PrintWatch::kLost:
            return EAGAIN;
        case PrintWatch::kPrinting:
            break;
        }
        if (Clock::now() - since > std::chrono::milliseconds(timing.printLimitMs))
            return ETIMEDOUT;
    }
}

int AttachedPrinter::PrintSheet(const unsigned char* data, size_t length, bool (*canceled)(void*), void* cancelData)
{
    const SheetTiming timing = Timing();
    SendTiming sending;
    sending.transferTimeoutMs = timing.writeTimeoutMs;
    sending.statusIntervalMs = timing.pollMs;
    sending.stallLimitMs = 0;   // a full buffer is waited out while the job lasts
    SheetPort port(*this, canceled, cancelData);
    for (;;) {
        if (!WaitForHandle(canceled, cancelData))
            return ECANCELED;
        // The life counter before the sheet tells when it is printed; a
        // packet cut off by an earlier failed write is cleared first.
        long before = -1;
        if (libusb_device_handle* handle = port.Lock()) {
            bool needsReset;
            {
                std::lock_guard<std::mutex> lock(m_state);
                needsReset = m_needsReset;
            }
            if (needsReset)
                SoftReset(handle);
            before = ReadCounter(handle, GetStatus(handle));
            port.Unlock();
        }
        SheetSender sender(port, sending);
        sender.Append(data, length);
        sender.EndData();
        const SheetSender::Outcome outcome = sender.Run();
        if (outcome != SheetSender::kSheetTaken) {
            sender.LeavePrinterClean();
            if (outcome == SheetSender::kCanceled)
                return ECANCELED;
            return outcome == SheetSender::kGaveUp ? EIO : EINVAL;
        }
        const int printed = WaitForPrint(port, before);
        if (printed != EAGAIN)
            return printed;
        // Dropped after an error: the sheet goes again.
    }
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
        if (m_inJob || m_gone || m_handle == nullptr)
            return false;
        handle = m_handle;
        needsReset = m_needsReset;
    }
    std::unique_lock<std::mutex> io(m_io, std::try_to_lock);
    if (!io.owns_lock())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        if (m_inJob || m_handle != handle)
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
        ReadCounter(handle, status);
    }
    io.unlock();
    Publish(status, status != kStatusFailed ? &media : nullptr);
    return status != kStatusFailed;
}

void AttachedPrinter::Publish(int64_t status, const MediaState* media)
{
    pappl_printer_t* printer;
    MediaState shown;
    int ready = -1;
    bool readyChanged = false;
    bool suppliesChanged = false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_facts.status = status;
        if (media != nullptr)
            m_facts.media = *media;
        shown = m_facts.media;
        printer = m_printer;
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
    papplPrinterSetReasons(printer, add, kDeviceReasons & ~add);
    if (suppliesChanged)
        RefreshPrinterAttributes(printer, shown);
    if (readyChanged) {
        pappl_media_col_t col = MediaCol(ready, true);
        papplPrinterSetReadyMedia(printer, 1, &col);
    }
}
