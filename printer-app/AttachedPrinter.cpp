// The attached printer's handle: attach and detach as the registry sees
// the printer come and go, the wait of a job for it, and the polls of an
// idle printer.
#include "AttachedPrinter.h"

#include "AppStop.h"
#include "PrinterClaim.h"
#include "UsbPrinterPort.h"
#include "UsbTransfer.h"

#include <chrono>

bool AttachedPrinter::Ends(bool (*canceled)(void*), void* data)
{
    return AppStopping() || (canceled != nullptr && canceled(data));
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
        if (Ends(canceled, cancelData))
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

bool AttachedPrinter::Poll()
{
    libusb_device_handle* handle;
    {
        std::lock_guard<std::mutex> lock(m_state);
        // PAPPL keeps the device open while any job waits, so a printer
        // with queued jobs is polled between them (no job's sheets under way).
        if ((m_inJob && m_jobHolder != nullptr) || m_gone || m_handle == nullptr)
            return false;
        handle = m_handle;
    }
    std::unique_lock<std::mutex> io(m_io, std::try_to_lock);
    if (!io.owns_lock())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        if ((m_inJob && m_jobHolder != nullptr) || m_handle != handle)
            return false;
    }
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

