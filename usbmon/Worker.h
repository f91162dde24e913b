// The worker of one printer: one cycle after another until the printer
// leaves, then the offline status file.
#pragma once

#include "Records.h"

#include <libusb.h>

namespace vantora_usbmon {

// Thread entry; `arg` is the printer's thdata. Each cycle: look for request
// files (once the serial is known); when the printer needs attention (not
// yet identified or registered, or watched), open and claim it inside the
// USB section and run getPrinterInfo; else, when the class keeper is due a
// read (classRead, or quickRead while the printer shows an error or its
// queue waits to start again), read its status and media only, never while
// a backend holds the printer; then wait one cycle. When bStop is
// set it writes the offline status file, marks the record ended, wakes the
// main loop through `context` and returns null.
void* thread_function(void* arg);

// The libusb context whose event handling the main loop does; set by it
// before any worker starts.
void SetWorkerContext(libusb_context* context);

}  // namespace vantora_usbmon
