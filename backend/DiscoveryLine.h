// The line a backend run without arguments prints for each attached RT-50
// (backend(7)), which lpinfo -v and printer set-up tools list.
#pragma once

#include "PrinterFinder.h"

#include <string>

namespace vantora_backend {

// Class, device URI, make and model, description with the serial number,
// device ID (led by MFG:VANTORA;MDL:RT-50; so that CUPS finds the PPD by
// its *1284DeviceID) and location. Empty for a printer whose serial cannot
// name a URI. Text from the printer is made safe for the quotes.
std::string DiscoveryLine(const FoundPrinter& printer);

}  // namespace vantora_backend
