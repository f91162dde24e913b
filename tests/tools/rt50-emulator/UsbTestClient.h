// A plain libusb client of the emulated printer, as the daemon and the
// backend use it: hot-plug, open, detach, claim, bulk exchanges, control
// requests. Shared by the in-process tests and the client program.
#pragma once

#include "PlaneBitmap.h"

#include <libusb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rt50test {

// One reply packet as read from the printer.
struct Reply {
    int result = 0;          // 0, or the libusb error of the failing transfer
    std::string header;      // the 8 header bytes as received
    std::string value;       // data up to the carriage return; empty for a refused reply
};

class UsbClient {
public:
    UsbClient();
    ~UsbClient();

    // libusb_init and hot-plug registration (with enumeration of present
    // printers). False when libusb or hot-plug is unavailable.
    bool Start();

    // Handles libusb events for up to `ms` milliseconds or until `done`.
    template <typename Done>
    bool WaitFor(int ms, Done done);

    int Arrivals() const { return m_arrivals; }
    int Departures() const { return m_departures; }
    libusb_device* LastArrived() const { return m_lastArrived; }

    // Opens the printer that arrived last (or `device`), detaches a kernel
    // driver and claims interface 0. 0 or a libusb error code.
    int Open(libusb_device* device = nullptr);
    void Close();
    libusb_device_handle* handle() const { return m_handle; }
    bool detachedDriver() const { return m_detached; }

    // One command packet out, one reply packet in (header, then data), read
    // and judged as the daemon does with DeviceRecv: STATUS expects 8 data
    // bytes, every other query a variable length.
    Reply Query(const char* command, const char* param, unsigned timeoutMs = 1000);
    // Bulk OUT of a whole block in chunks of at most 64 KiB.
    int Send(const std::vector<uint8_t>& bytes, unsigned timeoutMs = 2000);
    // The IEEE 1284 device ID (without its length bytes), or empty.
    std::string DeviceId(int* result = nullptr);
    std::string StringDescriptor(uint8_t index);

    libusb_context* context() const { return m_context; }

private:
    static int OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void*);

    libusb_context* m_context = nullptr;
    libusb_hotplug_callback_handle m_callback = 0;
    libusb_device* m_lastArrived = nullptr;
    libusb_device_handle* m_handle = nullptr;
    int m_arrivals = 0;
    int m_departures = 0;
    bool m_detached = false;
};

template <typename Done>
bool UsbClient::WaitFor(int ms, Done done)
{
    for (int waited = 0; waited <= ms; waited += 10) {
        if (done())
            return true;
        timeval tv = {0, 10000};
        libusb_handle_events_timeout_completed(m_context, &tv, nullptr);
    }
    return done();
}

// A command packet with an optional payload.
std::vector<uint8_t> Packet(const char* command, const char* param,
                            const std::vector<uint8_t>& payload = {});

// The plane packets' bitmap file: width x height 8-bit rows, bottom row
// first, filled by `pixel(x, y)` with y counted from the top.
template <typename Pixel>
std::vector<uint8_t> PlaneBitmap(int width, int height, Pixel pixel);

// A whole one-sheet job as the filter writes it.
std::vector<uint8_t> SheetJob(int width, int height, int multicut = 48);

}  // namespace rt50test

#include "UsbTestClient.inl"
