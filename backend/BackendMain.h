// The backend program vantora-zpxbackend as a function, so that tests run
// it in-process: discovery without arguments, a print job with the CUPS
// backend arguments (backend(7)).
#pragma once

#include <cstdio>

namespace vantora_backend {

// argv[0] or DEVICE_URI carries the device URI
// "vantora-zpxbackend://VANTORA/RT-50?serial=<S>"; argv[1..5] are job id,
// user, title, copies and options; argv[6], when given, the job file (else
// standard input). Messages go to `messages` (standard error in the
// program). Returns the exit code: CUPS_BACKEND_OK, _FAILED (bad
// arguments, unreadable job), _RETRY (printer lost or not taking data) or
// _STOP (a device URI that names no RT-50 serial).
int RunBackend(int argc, char** argv, FILE* messages, FILE* listing);

}  // namespace vantora_backend
