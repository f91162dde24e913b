#include "PrinterLink.h"

#include "MediaSizes.h"
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

using Clock = std::chrono::steady_clock;

void Pause(unsigned int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Canceled(bool (*canceled)(void*), void* data)
{
    return canceled != nullptr && canceled(data);
}

// A printer that shows an error keeps its state until someone acts; a
// status of printing or cooling just means "later".
bool IsErrorStatus(int64_t status)
{
    return status != kStatusFailed && ReasonsForStatus(status) != PAPPL_PREASON_NONE;
}

}  // namespace

int SoftResetPrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int result = libusb_control_transfer(handle, 0x21, 2, 0, kRt50Interface, nullptr, 0,
                                               GetUsbTimeouts().deviceIdMs);
    return result < 0 ? result : 0;
}

void PrinterLink::SetTiming(const SheetTiming& timing)
{
    std::lock_guard<std::mutex> lock(g_timingMutex);
    g_timing = timing;
}

SheetTiming PrinterLink::Timing()
{
    std::lock_guard<std::mutex> lock(g_timingMutex);
    return g_timing;
}

PrinterLink::PrinterLink(const std::string& serial)
    : m_serial(serial)
{
    m_facts.serial = serial;
}

PrinterLink::~PrinterLink()
{
    DetachAll();
}

void PrinterLink::Attach(libusb_device* device, libusb_device_handle* handle, const char* firmware,
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
    if (old != nullptr) {
        libusb_release_interface(old, kRt50Interface);
        libusb_close(old);
    }
    if (oldDevice != nullptr)
        libusb_unref_device(oldDevice);
    m_arrived.notify_all();
}

void PrinterLink::Detach(libusb_device* device)
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

void PrinterLink::DetachAll()
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
    if (handle != nullptr) {
        libusb_release_interface(handle, kRt50Interface);
        libusb_close(handle);
    }
    if (device != nullptr) {
        libusb_unref_device(device);
        Publish(kStatusFailed, nullptr);
    }
}

bool PrinterLink::Online() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_handle != nullptr && !m_gone;
}

PrinterFacts PrinterLink::Facts() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_facts;
}

void PrinterLink::SetPrinter(pappl_printer_t* printer)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_printer = printer;
        m_readyIndex = -2;
    }
}

pappl_printer_t* PrinterLink::Printer() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_printer;
}

bool PrinterLink::BeginJob()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_inJob)
        return false;
    m_inJob = true;
    return true;
}

void PrinterLink::EndJob()
{
    std::lock_guard<std::mutex> lock(m_state);
    m_inJob = false;
}

libusb_device_handle* PrinterLink::WaitForHandle(bool (*canceled)(void*), void* cancelData)
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
            return nullptr;
        m_arrived.wait_for(lock, std::chrono::milliseconds(Timing().pollMs));
    }
    return m_handle;
}

void PrinterLink::MarkGone(libusb_device_handle* handle)
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_handle == handle)
        m_gone = true;
}

void PrinterLink::SoftReset(libusb_device_handle* handle)
{
    // Whatever the printer made of the cut-off packet is dropped; a halted
    // endpoint is cleared with it.
    SoftResetPrinter(handle);
    std::lock_guard<std::mutex> lock(m_state);
    m_needsReset = false;
}

bool PrinterLink::ReadCounter(libusb_device_handle* handle, int64_t status, long long* counter)
{
    char value[kQueryValueSize];
    // In power-saving mode the printer answers its life counter only
    // after a pause.
    if (GetTotalCount(handle, value, status == 900, sizeof value) <= 0)
        return false;
    char* end = nullptr;
    const long long number = std::strtoll(value, &end, 10);
    if (end == value || number < 0)
        return false;
    *counter = number;
    std::lock_guard<std::mutex> lock(m_state);
    m_facts.lifeCounter = number;
    return true;
}

PrinterLink::SendResult PrinterLink::SendWhole(libusb_device_handle* handle, const unsigned char* data, size_t length,
                                               bool (*canceled)(void*), void* cancelData)
{
    const unsigned int timeoutMs = Timing().writeTimeoutMs;
    size_t offset = 0;
    while (offset < length) {
        const size_t rest = length - offset;
        const int chunk = rest > (1u << 30) ? (1 << 30) : static_cast<int>(rest);
        int sent = 0;
        const int result = deviceWrite(handle, data + offset, chunk, &sent, timeoutMs);
        if (sent > 0)
            offset += static_cast<size_t>(sent);
        if (result == 0)
            continue;
        if (result == LIBUSB_ERROR_TIMEOUT) {
            // The printer's buffer is full while it prints: wait on,
            // unless the job is cancelled.
            if (!Canceled(canceled, cancelData))
                continue;
            if (offset > 0)
                SoftReset(handle);
            return SendResult::kCanceled;
        }
        // Unplugged, halted or broken: part of the sheet may sit in the
        // printer; it is reset before the sheet goes again.
        {
            std::lock_guard<std::mutex> lock(m_state);
            m_needsReset = true;
        }
        if (result == LIBUSB_ERROR_PIPE)
            libusb_clear_halt(handle, kRt50EndpointOut);
        else
            MarkGone(handle);
        return SendResult::kGone;
    }
    return SendResult::kSent;
}

int PrinterLink::PrintSheet(const unsigned char* data, size_t length, bool (*canceled)(void*), void* cancelData)
{
    const SheetTiming timing = Timing();
    long long target = -1;  // life counter once the sheet is printed; -1 unknown
    for (;;) {
        libusb_device_handle* handle = WaitForHandle(canceled, cancelData);
        if (handle == nullptr)
            return ECANCELED;

        // Ready for the sheet? A sheet sent before the printer left may
        // have been printed after all.
        std::unique_lock<std::mutex> io(m_io);
        bool needsReset;
        {
            std::lock_guard<std::mutex> lock(m_state);
            needsReset = m_needsReset;
            if (m_handle != handle || m_gone)
                continue;
        }
        if (needsReset)
            SoftReset(handle);
        const int64_t status = GetStatus(handle);
        long long counter = -1;
        const bool haveCounter = status != kStatusFailed && ReadCounter(handle, status, &counter);
        if (haveCounter && target >= 0 && counter >= target) {
            io.unlock();
            Publish(status, nullptr);
            return 0;
        }
        if (!StatusAcceptsSheet(status)) {
            io.unlock();
            Publish(status, nullptr);
            if (Canceled(canceled, cancelData))
                return ECANCELED;
            Pause(timing.pollMs);
            continue;
        }
        if (haveCounter && target < 0)
            target = counter + 1;
        const SendResult sent = SendWhole(handle, data, length, canceled, cancelData);
        io.unlock();
        if (sent == SendResult::kCanceled)
            return ECANCELED;
        if (sent == SendResult::kGone)
            continue;

        // Sent: wait for the print. An error status that clears again
        // without the counter rising means the sheet was refused.
        Publish(1, nullptr);
        bool sawError = false;
        bool sawPrinting = false;
        auto since = Clock::now();
        int64_t lastStatus = 1;
        for (;;) {
            Pause(timing.pollMs);
            {
                std::lock_guard<std::mutex> lock(m_state);
                if (m_handle != handle || m_gone)
                    break;  // left: look again once it is back
            }
            int64_t now;
            long long printed = -1;
            bool counted;
            {
                std::lock_guard<std::mutex> ioAgain(m_io);
                now = GetStatus(handle);
                counted = now != kStatusFailed && target >= 0 && ReadCounter(handle, now, &printed);
            }
            if (now != lastStatus) {
                lastStatus = now;
                since = Clock::now();
                Publish(now, nullptr);
            }
            if (counted && printed >= target)
                return 0;
            if (now == 1)
                sawPrinting = true;
            if (IsErrorStatus(now))
                sawError = true;
            if (StatusAcceptsSheet(now)) {
                // Without a counter, printing and back to waiting is all
                // there is to go by.
                if (target < 0 && sawPrinting)
                    return 0;
                if (sawError)
                    break;  // refused: send it again
            }
            if (Clock::now() - since > std::chrono::milliseconds(timing.printLimitMs))
                return ETIMEDOUT;
            // The printer keeps a sheet it has whole; a cancel only stops
            // the waiting for it.
            if (Canceled(canceled, cancelData))
                return ECANCELED;
        }
    }
}

ssize_t PrinterLink::WriteRaw(const void* data, size_t length)
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

bool PrinterLink::Poll()
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
        if (status != 900) {
            long long counter;
            ReadCounter(handle, status, &counter);
        }
    }
    io.unlock();
    Publish(status, status != kStatusFailed ? &media : nullptr);
    return status != kStatusFailed;
}

void PrinterLink::Publish(int64_t status, const MediaState* media)
{
    pappl_printer_t* printer;
    MediaState shown;
    int ready = -1;
    bool readyChanged = false;
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
    }
    if (printer == nullptr)
        return;
    // The media count's reasons only while the printer answers.
    pappl_preason_t add = ReasonsForStatus(status);
    if (status != kStatusFailed)
        add |= ReasonsForMedia(shown);
    papplPrinterSetReasons(printer, add, kDeviceReasons & ~add);
    if (media != nullptr) {
        pappl_supply_t supply;
        MediaSupplies(shown, &supply);
        papplPrinterSetSupplies(printer, 1, &supply);
    }
    if (readyChanged) {
        pappl_media_col_t col;
        std::memset(&col, 0, sizeof col);
        const MediaSize& size = kMediaSizes[ready];
        std::snprintf(col.size_name, sizeof col.size_name, "%s", size.pwgName);
        col.size_width = size.width;
        col.size_length = size.length;
        std::snprintf(col.source, sizeof col.source, "main");
        std::snprintf(col.type, sizeof col.type, "photographic-glossy");
        papplPrinterSetReadyMedia(printer, 1, &col);
    }
}
