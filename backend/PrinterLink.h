// The USB connection to the one RT-50 a job is for, found by its serial
// number among the attached RT-50s and held (interface 0 claimed) for the
// whole job.
#pragma once

#include <libusb.h>

#include <string>

namespace vantora_backend {

class PrinterLink {
public:
    enum Found {
        kOpened,   // found, opened and claimed: handle() is ready
        kAbsent,   // no attached RT-50 has this serial
        kBusy,     // it is there, but another program holds it (the daemon, another queue's job)
    };

    PrinterLink(libusb_context* context, std::string serial);
    ~PrinterLink() { Close(); }
    PrinterLink(const PrinterLink&) = delete;
    PrinterLink& operator=(const PrinterLink&) = delete;

    // One look over the bus. A printer that holds its interface free is
    // asked for its serial number; one that is busy is recognised by its
    // USB serial string.
    Found TryOpen();

    libusb_device_handle* handle() const { return m_handle; }
    const std::string& serial() const { return m_serial; }

    // Releases and closes the printer (after an unplug as well).
    void Close();

    // The printer class SOFT_RESET request: the printer forgets the packet
    // it was receiving, an unread reply and the sheet not yet started, and
    // clears halted endpoints. 0 or a libusb error.
    int SoftReset();

private:
    libusb_context* m_context;
    std::string m_serial;
    libusb_device_handle* m_handle = nullptr;
};

}  // namespace vantora_backend
