// The request files a worker looks for each cycle in the exchange folder:
// the window's watch and refresh files and the backend's pause file.
#pragma once

#include "Records.h"

namespace vantora_usbmon {

// Request bits found for the record's printer, by name prefix: 0 nothing to
// do (also while the pause file is there, and for a refresh file alone),
// 1 the window watches, 3 it watches and wants a fresh total count. A
// refresh file is deleted as soon as it is seen. Keeps the record's watch
// period (bUtilSeen, bCountRead) and pause state (bPaused, bResumed: true
// for the one cycle after the pause file went away).
int fileCheck(thdata* record);

}  // namespace vantora_usbmon
