#include "PrinterQueries.h"

#include "UsbTransfer.h"

#include <cstdlib>
#include <cstring>

namespace {

// Expected data length of the STATUS reply.
constexpr int kStatusReplyLength = 8;

// Result of this thread's last exchange, for LastQueryResult.
thread_local int t_lastResult = kProtoOk;

// Asks `command`/`param` and copies the reply's value into `value`. Returns
// the value's length, or -1 (value empty) when the exchange failed.
int QueryText(libusb_device_handle* handle, const char* command, const char* param, char* value,
              size_t size, bool wait)
{
    if (value == nullptr || size == 0)
        return -1;
    value[0] = '\0';
    if (handle == nullptr)
        return -1;
    DeviceCmd cmd;
    cmd.MakeCmd(command, param, -1, nullptr);
    DeviceRecv reply(-1, nullptr);
    int result = DeviceIO_T(handle, &cmd, &reply, wait);
    t_lastResult = result;
    if (result == kProtoOk)
        result = reply.GetEffectiveDataAsString(value, size);
    reply.Free();
    cmd.Free();
    if (result != kProtoOk) {
        value[0] = '\0';
        return -1;
    }
    return static_cast<int>(std::strlen(value));
}

}  // namespace

int64_t GetStatus(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return kStatusFailed;
    DeviceCmd cmd;
    cmd.MakeCmd("STATUS", nullptr, -1, nullptr);
    DeviceRecv reply(kStatusReplyLength, nullptr);
    int64_t status = kStatusFailed;
    t_lastResult = DeviceIO(handle, &cmd, &reply);
    if (t_lastResult == kProtoOk) {
        // The reply buffer ends in two zero bytes, so strtol stops inside it.
        const long number = std::strtol(reinterpret_cast<const char*>(reply.GetBuffer()) +
                                            DeviceRecv::kHeaderSize,
                                        nullptr, 10);
        // Status codes are 32-bit: the number is cut to 32 bits, so no reply
        // can produce kStatusFailed.
        status = static_cast<int32_t>(static_cast<uint32_t>(number));
    }
    reply.Free();
    cmd.Free();
    return status;
}

int LastQueryResult()
{
    return t_lastResult;
}

int GetSerialNo(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "SERIAL_NUMBER", value, size, false);
}

int GetMediaSize(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "MEDIA", value, size, false);
}

int GetMediaClass(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "MEDIA_CLASS_RFID", value, size, false);
}

int GetMediaInitial(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "MQTY_DEFAULT", value, size, false);
}

int GetMediaRemain(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "MQTY", value, size, false);
}

int GetMediaRemainHalf(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "RQTY", value, size, false);
}

int GetFirmVersion(libusb_device_handle* handle, char* value, size_t size)
{
    return QueryText(handle, "INFO", "FVER", value, size, false);
}

int GetTotalCount(libusb_device_handle* handle, char* value, bool wait, size_t size)
{
    return QueryText(handle, "MNT_RD", "COUNTER_LIFE", value, size, wait);
}

namespace {

// The number after the first `skip` characters of an answer made of digits
// only, or -1.
long NumberAfter(const char* value, size_t skip)
{
    constexpr size_t kMaxDigits = 9;
    if (value == nullptr)
        return -1;
    const size_t length = strnlen(value, kQueryValueSize);
    if (length <= skip || length >= kQueryValueSize)
        return -1;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] < '0' || value[i] > '9')
            return -1;
    }
    const char* digits = value + skip;
    // Leading zeros do not count towards the limit.
    while (*digits == '0' && digits[1] != '\0')
        ++digits;
    if (std::strlen(digits) > kMaxDigits)
        return -1;
    return std::strtol(digits, nullptr, 10);
}

}  // namespace

long MediaCountOfAnswer(const char* value)
{
    return NumberAfter(value, 4);
}

long MediaCodeOfAnswer(const char* value)
{
    return NumberAfter(value, 2);
}

long LifeCounterOfAnswer(const char* value)
{
    return NumberAfter(value, 2);
}
