// What CUPS shows of a printer status code (the table of codes is
// PrinterStatusCodes.h): the printer-state-reasons keyword and the text of
// the INFO: line.
#pragma once

#include <cstdint>
#include <string>

namespace vantora_backend {

// The printer-state-reasons keyword of a status code with its severity
// suffix, or null while the printer is ready, printing or cooling.
// kStatusFailed (no answer) gives "offline-report".
const char* CupsReasonOfStatus(int64_t status);

// The INFO: text of a status code: what the printer does and, for an
// error, what the user does and the code, e.g. "Paper end: load paper and
// ribbon (printer status 1100)".
std::string StatusInfoText(int64_t status);

}  // namespace vantora_backend
