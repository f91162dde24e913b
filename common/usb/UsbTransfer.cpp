#include "UsbTransfer.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::atomic<unsigned int> g_bulkMs{UsbTimeouts().bulkMs};
std::atomic<unsigned int> g_deviceIdMs{UsbTimeouts().deviceIdMs};
std::atomic<unsigned int> g_replyWaitMs{UsbTimeouts().replyWaitMs};

constexpr int kHeaderSize = DeviceRecv::kHeaderSize;
// A device ID reply of this many bytes or fewer (length bytes included)
// cannot name a maker and a model.
constexpr size_t kShortestDeviceId = 13;
// libusb refuses control transfers with more data on Linux.
constexpr uint16_t kLargestControlTransfer = 4096;

// Size of the next OUT transfer for `remaining` bytes: anything of 512 bytes
// or more keeps its last 256 bytes back for a transfer of their own, and no
// transfer exceeds 64 KiB.
int ChunkSize(int remaining)
{
    if (remaining < 512)
        return remaining;
    const int chunk = remaining - 256;
    return chunk > 65535 ? 65536 : chunk;
}

// One bulk transfer; *count gets the bytes moved whatever the result.
int Bulk(libusb_device_handle* handle, unsigned char endpoint, void* data, int length,
         int* count, unsigned int timeoutMs)
{
    int moved = 0;
    const int result = libusb_bulk_transfer(handle, endpoint, static_cast<unsigned char*>(data),
                                            length, &moved, timeoutMs);
    if (count != nullptr)
        *count = moved;
    return result;
}

}  // namespace

UsbTimeouts GetUsbTimeouts()
{
    UsbTimeouts timeouts;
    timeouts.bulkMs = g_bulkMs.load();
    timeouts.deviceIdMs = g_deviceIdMs.load();
    timeouts.replyWaitMs = g_replyWaitMs.load();
    return timeouts;
}

void SetUsbTimeouts(const UsbTimeouts& timeouts)
{
    g_bulkMs = timeouts.bulkMs;
    g_deviceIdMs = timeouts.deviceIdMs;
    g_replyWaitMs = timeouts.replyWaitMs;
}

int deviceWrite(libusb_device_handle* handle, const void* data, int length, int* sent,
                unsigned int timeoutMs)
{
    if (sent != nullptr)
        *sent = 0;
    if (handle == nullptr || data == nullptr || length <= 0)
        return kProtoInvalid;
    // libusb does not write to an OUT buffer; its interface is not const.
    unsigned char* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    int offset = 0;
    while (offset < length) {
        int moved = 0;
        int result = Bulk(handle, kRt50EndpointOut, bytes + offset, ChunkSize(length - offset),
                          &moved, timeoutMs);
        offset += moved;
        if (sent != nullptr)
            *sent = offset;
        // A transfer that reports success without taking a byte would repeat
        // for ever.
        if (result == 0 && moved <= 0)
            result = LIBUSB_ERROR_IO;
        if (result != 0)
            return result;
    }
    return kProtoOk;
}

int deviceWrite(libusb_device_handle* handle, const void* data, int length)
{
    return deviceWrite(handle, data, length, nullptr, g_bulkMs.load());
}

int deviceWrite(libusb_device_handle* handle, DeviceCmd* command)
{
    if (command == nullptr)
        return kProtoInvalid;
    return deviceWrite(handle, command->GetBuffer(), command->GetLength());
}

int deviceRead(libusb_device_handle* handle, void* buffer, int length, int* received)
{
    if (received != nullptr)
        *received = 0;
    if (handle == nullptr || buffer == nullptr || length <= kHeaderSize)
        return kProtoInvalid;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    const unsigned int timeoutMs = g_bulkMs.load();
    int got = 0;
    int result = Bulk(handle, kRt50EndpointIn, bytes, kHeaderSize, &got, timeoutMs);
    if (result != 0)
        return result;
    // The header is checked as received: a short one is refused even when
    // the caller's buffer still holds digits from before.
    if (got != kHeaderSize)
        return kProtoInvalid;
    const int announced = _ReplyDataLength(bytes, length);
    if (announced < 0)
        return kProtoInvalid;
    result = Bulk(handle, kRt50EndpointIn, bytes + kHeaderSize, announced, &got, timeoutMs);
    if (result == 0 && received != nullptr)
        *received = got + kHeaderSize;
    return result;
}

int deviceRead(libusb_device_handle* handle, DeviceRecv* reply)
{
    if (reply == nullptr)
        return kProtoInvalid;
    reply->Free();
    const int allocated = reply->Alloc();
    if (allocated != kProtoOk)
        return allocated;
    return deviceRead(handle, reply->GetBuffer(), reply->GetBufferLength(), nullptr);
}

int DeviceIO_T(libusb_device_handle* handle, DeviceCmd* command, DeviceRecv* reply, bool wait)
{
    if (handle == nullptr || reply == nullptr)
        return kProtoInvalid;
    int result = deviceWrite(handle, command);
    if (result != kProtoOk)
        return result;
    if (wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_replyWaitMs.load()));
    result = deviceRead(handle, reply);
    if (result != kProtoOk)
        return result;
    return reply->CheckData();
}

int DeviceIO(libusb_device_handle* handle, DeviceCmd* command, DeviceRecv* reply)
{
    return DeviceIO_T(handle, command, reply, false);
}

int USB_Write(libusb_device_handle* handle, const void* data, int length, int* count)
{
    if (count != nullptr)
        *count = 0;
    if (handle == nullptr || data == nullptr || length <= 0)
        return kProtoInvalid;
    return Bulk(handle, kRt50EndpointOut, const_cast<void*>(data), length, count, g_bulkMs.load());
}

int USB_Read(libusb_device_handle* handle, void* data, int length, int* count)
{
    if (count != nullptr)
        *count = 0;
    if (handle == nullptr || data == nullptr || length <= 0)
        return kProtoInvalid;
    return Bulk(handle, kRt50EndpointIn, data, length, count, g_bulkMs.load());
}

int UnpackDeviceId(char* buffer, size_t size, int received)
{
    if (buffer == nullptr || size == 0)
        return -1;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
    size_t length = 0;
    if (received >= 2) {
        length = static_cast<size_t>(bytes[0] << 8 | bytes[1]);
        if (length <= kShortestDeviceId || length > size)
            length = static_cast<size_t>(bytes[1] << 8 | bytes[0]);
        // Bytes the device did not send are not part of its ID.
        if (length > size)
            length = size;
        if (length > static_cast<size_t>(received))
            length = static_cast<size_t>(received);
    }
    if (length <= kShortestDeviceId) {
        buffer[0] = '\0';
        return -1;
    }
    std::memmove(buffer, buffer + 2, length - 2);
    buffer[length - 2] = '\0';
    return 0;
}

int get_device_id(libusb_device_handle* handle, char* buffer, unsigned long size)
{
    if (buffer == nullptr || size == 0)
        return -1;
    buffer[0] = '\0';
    if (handle == nullptr)
        return -1;
    // A larger buffer asks for as much as one control transfer carries.
    const uint16_t wanted = size > kLargestControlTransfer ? kLargestControlTransfer
                                                            : static_cast<uint16_t>(size);
    const int received = libusb_control_transfer(handle, kDeviceIdRequestType, kDeviceIdRequest, 0, 0,
                                                 reinterpret_cast<unsigned char*>(buffer), wanted,
                                                 g_deviceIdMs.load());
    if (received < 0) {
        buffer[0] = '\0';
        return -1;
    }
    return UnpackDeviceId(buffer, static_cast<size_t>(size), received);
}
