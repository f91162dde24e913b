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

// The device ID as CUPS matches it against the PPDs' *1284DeviceID: the
// RT-50 names its fields with the long keys (MANUFACTURER, MODEL, ...),
// which CUPS's driver search does not take, and mixing both kinds makes it
// find nothing. Each long key becomes its short one; others stay.
std::string MatchableDeviceId(const std::string& deviceId)
{
    static const char* const kKeys[][2] = {
        {"MANUFACTURER", "MFG"}, {"MODEL", "MDL"}, {"COMMAND SET", "CMD"},
        {"DESCRIPTION", "DES"}, {"CLASS", "CLS"}, {"SERIALNUMBER", "SN"},
    };
    std::string matchable;
    size_t at = 0;
    while (at < deviceId.size()) {
        size_t end = deviceId.find(';', at);
        if (end == std::string::npos)
            end = deviceId.size();
        std::string field = deviceId.substr(at, end - at);
        at = end + 1;
        const size_t colon = field.find(':');
        if (colon != std::string::npos) {
            for (const auto& key : kKeys) {
                if (field.compare(0, colon, key[0]) == 0)
                    field = key[1] + field.substr(colon);
            }
        }
        if (!field.empty())
            matchable += field + ";";
    }
    return matchable;
}

}  // namespace

std::string DiscoveryLine(const FoundPrinter& printer)
{
    char uri[vantora_exchange::kPathSize];
    if (!printer.serialValid || !vantora_exchange::DeviceUriForSerial(printer.serial.c_str(), uri, sizeof uri))
        return std::string();
    const std::string makeModel = "VANTORA " + Quotable(printer.model);
    return std::string("direct ") + uri + " \"" + makeModel + "\" \"" + makeModel + " (serial " +
           printer.serial + ")\" \"" + Quotable(MatchableDeviceId(printer.deviceId)) + "\" \"\"";
}

}  // namespace vantora_backend
