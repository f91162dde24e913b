// What a worker does with its printer open and claimed: read the serial
// number, confirm the maker and model, have the queue registered, write the
// status file.
#pragma once

#include "Records.h"

namespace vantora_usbmon {

// Reads the serial (up to 10 attempts, until one gives a value) while it is
// not known, checks the product string and device ID while the model is not
// confirmed, registers the queue while there is none, then writes the
// status file. A printer whose serial cannot name files, or whose identity
// does not match, stays unidentified: no queue, no status file.
void getPrinterInfo(thdata* record);

}  // namespace vantora_usbmon
