#include "UsbPrinterPort.h"

#include "PrinterClaim.h"
#include "PrinterQueries.h"
#include "PrinterStatusCodes.h"
#include "UsbTransfer.h"

#include <algorithm>
#include <climits>

namespace {

// The most one write call sends.
constexpr size_t kWriteMax = 1024 * 1024;

}  // namespace

long ReadLifeCounter(libusb_device_handle* handle, bool patient)
{
    char value[kQueryValueSize];
    return GetTotalCount(handle, value, patient, sizeof value) > 0 ? LifeCounterOfAnswer(value) : -1;
}

WriteResult UsbPrinterPort::Write(const uint8_t* data, size_t length, unsigned int timeoutMs, size_t* took)
{
    *took = 0;
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return WriteResult::kGone;
    m_last = handle;
    int sent = 0;
    const int result = deviceWrite(handle, data, static_cast<int>(std::min(length, kWriteMax)), &sent, timeoutMs);
    ReleaseHandle();
    *took = sent > 0 ? static_cast<size_t>(sent) : 0;
    switch (result) {
    case 0:
        return *took == length ? WriteResult::kDone : WriteResult::kTimeout;
    case LIBUSB_ERROR_TIMEOUT:
        return WriteResult::kTimeout;
    case LIBUSB_ERROR_PIPE:
        return WriteResult::kHalted;
    case LIBUSB_ERROR_NO_DEVICE:
        return WriteResult::kGone;
    default:
        return WriteResult::kFailed;
    }
}

int64_t UsbPrinterPort::Status()
{
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return kStatusFailed;
    m_last = handle;
    const int64_t status = GetStatus(handle);
    ReleaseHandle();
    return status;
}

long UsbPrinterPort::Counter(bool patient)
{
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return -1;
    m_last = handle;
    const long counter = ReadLifeCounter(handle, patient);
    ReleaseHandle();
    return counter;
}

int UsbPrinterPort::Media()
{
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return -1;
    m_last = handle;
    char value[kQueryValueSize];
    const int length = GetMediaSize(handle, value, sizeof value);
    ReleaseHandle();
    const long code = length > 0 ? MediaCodeOfAnswer(value) : -1;
    return code >= 0 && code <= INT_MAX ? static_cast<int>(code) : -1;
}

bool UsbPrinterPort::Reset()
{
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return false;
    m_last = handle;
    const int result = SoftResetPrinter(handle);
    ReleaseHandle();
    return result == 0;
}

void UsbPrinterPort::ClearHalt()
{
    if (libusb_device_handle* handle = AcquireHandle()) {
        libusb_clear_halt(handle, kRt50EndpointOut);
        ReleaseHandle();
    }
}

bool UsbPrinterPort::Gone()
{
    libusb_device_handle* handle = AcquireHandle();
    if (handle == nullptr)
        return true;
    const bool gone = (m_last != nullptr && handle != m_last) || PrinterGone(handle);
    ReleaseHandle();
    return gone;
}
