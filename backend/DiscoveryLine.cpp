#include "DiscoveryLine.h"

#include "ExchangeFiles.h"

namespace vantora_backend {

namespace {

// Text from the printer inside a quoted field of a discovery line: printable
// ASCII only, and no quote or backslash that would end or escape the field.
std::string Quotable(const std::string& text)
{
    std::string safe;
    for (char c : text)
        safe.push_back(c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? c : '?');
    return safe;
}

}  // namespace

std::string DiscoveryLine(const FoundPrinter& printer)
{
    char uri[vantora_exchange::kPathSize];
    if (!printer.serialValid || !vantora_exchange::DeviceUriForSerial(printer.serial.c_str(), uri, sizeof uri))
        return std::string();
    const std::string makeModel = "VANTORA " + Quotable(printer.model);
    return std::string("direct ") + uri + " \"" + makeModel + "\" \"" + makeModel + " (serial " +
           printer.serial + ")\" \"" + Quotable(printer.deviceId) + "\" \"\"";
}

}  // namespace vantora_backend
