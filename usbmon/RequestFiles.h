// The request files a worker looks for each cycle in the exchange folder,
// each by its exact name: the window's watch and refresh files and the
// backend's pause file. A few lstat calls a cycle, whatever else the folder
// holds.
#pragma once

#include "Records.h"

namespace vantora_usbmon {

// Request bits for the record's printer: 0 nothing to do (also while the
// pause file is there), 1 the window watches, 3 it watches and wants a
// fresh total count. The refresh file RT-50_<S>_TC_UTIL is also the watch
// file of the printer "<S>_TC", so it counts as a refresh, and is deleted,
// only while the window watches this printer; otherwise it is left alone.
// A pause file counts only while it is a live backend's (JudgeMarker); one
// a killed backend left is removed, with the job start files such backends
// left. Keeps the record's watch period (bUtilSeen, bCountRead) and pause
// state (bPaused, bResumed: true for the one cycle after the pause ended).
int fileCheck(thdata* record);

// True when a live backend's pause file asks for the record's printer.
bool BackendWaits(const thdata* record);

// Removes the pause and job start files in `dir` that killed backends left
// behind (RemoveLeftOverMarker), and nothing else. The number removed.
int SweepLeftOverMarkers(const char* dir);

}  // namespace vantora_usbmon
