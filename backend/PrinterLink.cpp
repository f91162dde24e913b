#include "PrinterLink.h"

#include "PrinterClaim.h"

#include <utility>

namespace vantora_backend {

PrinterLink::PrinterLink(libusb_context* context, std::string serial)
    : m_context(context), m_serial(std::move(serial))
{
}

Lookup PrinterLink::TryOpen()
{
    Close();
    return OpenPrinterBySerial(m_context, m_serial, &m_handle);
}

void PrinterLink::Close()
{
    ReleasePrinter(m_handle);
    m_handle = nullptr;
}

}  // namespace vantora_backend
