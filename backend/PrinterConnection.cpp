#include "PrinterConnection.h"

#include "PrinterClaim.h"

#include <utility>

namespace vantora_backend {

PrinterConnection::PrinterConnection(libusb_context* context, std::string serial)
    : m_context(context), m_serial(std::move(serial))
{
}

Lookup PrinterConnection::TryOpen()
{
    Close();
    return OpenPrinterBySerial(m_context, m_serial, &m_handle);
}

void PrinterConnection::Close()
{
    ReleasePrinter(m_handle);
    m_handle = nullptr;
}

}  // namespace vantora_backend
