// The USB connection to the one RT-50 a job is for, found by its serial
// number among the attached RT-50s and held (interface 0 claimed) for the
// whole job.
#pragma once

#include "PrinterFinder.h"

#include <libusb.h>

#include <string>

namespace vantora_backend {

class PrinterConnection {
public:
    PrinterConnection(libusb_context* context, std::string serial);
    ~PrinterConnection() { Close(); }
    PrinterConnection(const PrinterConnection&) = delete;
    PrinterConnection& operator=(const PrinterConnection&) = delete;

    // One look over the bus (OpenPrinterBySerial); kOpened: handle() is ready.
    Lookup TryOpen();

    libusb_device_handle* handle() const { return m_handle; }
    const std::string& serial() const { return m_serial; }

    // Releases and closes the printer (after an unplug as well).
    void Close();

private:
    libusb_context* m_context;
    std::string m_serial;
    libusb_device_handle* m_handle = nullptr;
};

}  // namespace vantora_backend
