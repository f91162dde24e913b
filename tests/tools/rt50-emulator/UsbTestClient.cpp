#include "UsbTestClient.h"

#include "CommandPackets.h"
#include "ReplyPackets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace rt50test {

namespace {
constexpr uint16_t kVendor = 0x3A7F;
constexpr uint16_t kProduct = 0x000C;
constexpr unsigned char kOut = 0x01;
constexpr unsigned char kIn = 0x82;
}  // namespace

UsbClient::UsbClient() = default;

UsbClient::~UsbClient()
{
    Close();
    if (m_lastArrived != nullptr)
        libusb_unref_device(m_lastArrived);
    if (m_context != nullptr) {
        if (m_callback != 0)
            libusb_hotplug_deregister_callback(m_context, m_callback);
        libusb_exit(m_context);
    }
}

int UsbClient::OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                         void* self)
{
    UsbClient* client = static_cast<UsbClient*>(self);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        ++client->m_arrivals;
        if (client->m_lastArrived != nullptr)
            libusb_unref_device(client->m_lastArrived);
        client->m_lastArrived = libusb_ref_device(device);
    } else {
        ++client->m_departures;
    }
    return 0;
}

bool UsbClient::Start()
{
    if (libusb_init(&m_context) != 0)
        return false;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return false;
    return libusb_hotplug_register_callback(
               m_context,
               static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                 LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
               LIBUSB_HOTPLUG_ENUMERATE, kVendor, kProduct, LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug,
               this, &m_callback) == 0;
}

int UsbClient::Open(libusb_device* device)
{
    Close();
    if (device == nullptr)
        device = m_lastArrived;
    if (device == nullptr)
        return LIBUSB_ERROR_NO_DEVICE;
    int result = libusb_open(device, &m_handle);
    if (result != 0) {
        m_handle = nullptr;
        return result;
    }
    m_detached = false;
    if (libusb_kernel_driver_active(m_handle, 0) == 1) {
        result = libusb_detach_kernel_driver(m_handle, 0);
        if (result != 0)
            return result;
        m_detached = true;
    }
    return libusb_claim_interface(m_handle, 0);
}

void UsbClient::Close()
{
    if (m_handle != nullptr) {
        libusb_release_interface(m_handle, 0);
        libusb_close(m_handle);
        m_handle = nullptr;
    }
}

Reply UsbClient::Query(const char* command, const char* param, unsigned timeoutMs)
{
    Reply reply;
    DeviceCmd cmd;
    cmd.MakeCmd(command, param, -1, nullptr);
    int sent = 0;
    reply.result = libusb_bulk_transfer(m_handle, kOut, const_cast<unsigned char*>(cmd.GetBuffer()),
                                        cmd.GetLength(), &sent, timeoutMs);
    if (reply.result != 0)
        return reply;
    DeviceRecv recv(std::strcmp(command, "STATUS") == 0 ? 8 : -1, nullptr);
    if (recv.Alloc() != kProtoOk)
        return reply;
    int got = 0;
    reply.result = libusb_bulk_transfer(m_handle, kIn, recv.GetBuffer(), DeviceRecv::kHeaderSize, &got, timeoutMs);
    if (reply.result != 0)
        return reply;
    reply.header.assign(reinterpret_cast<char*>(recv.GetBuffer()), static_cast<size_t>(got));
    const int length = _ReplyDataLength(recv.GetBuffer(), recv.GetBufferLength());
    if (length < 0)
        return reply;
    reply.result = libusb_bulk_transfer(m_handle, kIn, recv.GetBuffer() + DeviceRecv::kHeaderSize, length, &got,
                                        timeoutMs);
    if (reply.result != 0 || recv.CheckData() != kProtoOk)
        return reply;
    char value[DeviceRecv::kVariableArea];
    recv.GetEffectiveDataAsString(value, sizeof value);
    reply.value = value;
    return reply;
}

int UsbClient::Send(const std::vector<uint8_t>& bytes, unsigned timeoutMs)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const int chunk = static_cast<int>(std::min<size_t>(65536, bytes.size() - at));
        int sent = 0;
        const int result = libusb_bulk_transfer(m_handle, kOut,
                                                const_cast<unsigned char*>(bytes.data() + at),
                                                chunk, &sent, timeoutMs);
        if (result != 0)
            return result;
        at += static_cast<size_t>(sent);
    }
    return 0;
}

std::string UsbClient::DeviceId(int* result)
{
    unsigned char buffer[1024] = {};
    const int got = libusb_control_transfer(m_handle, 0xA1, 0, 0, 0, buffer, sizeof buffer, 1000);
    if (result != nullptr)
        *result = got;
    if (got < 2)
        return std::string();
    const int length = std::min(got, buffer[0] << 8 | buffer[1]);
    return length > 2 ? std::string(reinterpret_cast<char*>(buffer) + 2, static_cast<size_t>(length - 2))
                      : std::string();
}

std::string UsbClient::StringDescriptor(uint8_t index)
{
    unsigned char text[256] = {};
    const int got = libusb_get_string_descriptor_ascii(m_handle, index, text, sizeof text);
    return got > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(got)) : std::string();
}

std::vector<uint8_t> Packet(const char* command, const char* param,
                            const std::vector<uint8_t>& payload)
{
    DeviceCmd cmd;
    cmd.MakeCmd(command, param, static_cast<int>(payload.size()),
                payload.empty() ? nullptr : payload.data());
    return std::vector<uint8_t>(cmd.GetBuffer(), cmd.GetBuffer() + cmd.GetLength());
}

std::vector<uint8_t> SheetJob(int width, int height, int multicut)
{
    auto text = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); };
    std::vector<uint8_t> job;
    auto add = [&](const std::vector<uint8_t>& packet) { job.insert(job.end(), packet.begin(), packet.end()); };
    std::vector<uint8_t> clock = text("20260102030405");
    clock.push_back('\r');
    clock.push_back(0);
    add(Packet("CNTRL", "SET_SYS_TIME", clock));
    add(Packet("CNTRL", "CUTTER", text("00000000")));
    add(Packet("CNTRL", "OVERCOAT", text("00000001")));
    add(Packet("CNTRL", "BUFFCNTRL", text("00000001")));
    add(Packet("CNTRL", "PRINTSPEED", text("00000000")));
    add(Packet("CNTRL", "DECURL", text("020000000000")));
    char size[16];
    std::snprintf(size, sizeof size, "%08d", multicut);
    add(Packet("IMAGE", "MULTICUT", text(size)));
    // A picture whose left half is red and right half blue, on white rows
    // at the top: yellow carries blue, magenta green, cyan red.
    auto channel = [width](int which) {
        return [width, which](int x, int y) -> uint8_t {
            if (y < 4)
                return 255;
            const bool left = x < width / 2;
            const uint8_t r = left ? 255 : 0, g = 0, b = left ? 0 : 255;
            return which == 0 ? b : which == 1 ? g : r;
        };
    };
    add(Packet("IMAGE", "YPLANE", PlaneBitmap(width, height, channel(0))));
    add(Packet("IMAGE", "MPLANE", PlaneBitmap(width, height, channel(1))));
    add(Packet("IMAGE", "CPLANE", PlaneBitmap(width, height, channel(2))));
    add(Packet("CNTRL", "START"));
    return job;
}

}  // namespace rt50test
