#include "PrinterLink.h"

#include "PrinterProbe.h"

#include <utility>

namespace vantora_backend {

PrinterLink::PrinterLink(libusb_context* context, std::string serial)
    : m_context(context), m_serial(std::move(serial))
{
}

PrinterLink::Found PrinterLink::TryOpen()
{
    Close();
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    Found found = kAbsent;
    for (ssize_t i = 0; i < count && found != kOpened; ++i) {
        ProbedPrinter printer;
        libusb_device_handle* handle = nullptr;
        if (ProbePrinter(list[i], &printer, &handle) != 0 || printer.serial != m_serial) {
            ReleasePrinter(handle);
            continue;
        }
        if (handle != nullptr) {
            m_handle = handle;
            found = kOpened;
        } else if (printer.busy) {
            found = kBusy;
        }
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return found;
}

void PrinterLink::Close()
{
    ReleasePrinter(m_handle);
    m_handle = nullptr;
}

int PrinterLink::SoftReset()
{
    if (m_handle == nullptr)
        return LIBUSB_ERROR_NO_DEVICE;
    return SoftResetPrinter(m_handle);
}

}  // namespace vantora_backend
