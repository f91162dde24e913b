// Runs the helper programs of the daemon (lpadmin, getenforce, chcon) with
// an argument vector, never through a shell: a serial number or a path is
// one argument, whatever characters it holds.
#pragma once

#include <cstddef>

namespace vantora_usbmon {

// Runs `argv[0]`, looked up in PATH, with the null-terminated argument
// vector `argv`, and waits for it. Its output goes where the daemon's goes.
// Returns its exit status (0 success), or -1 when it could not be started
// or was ended by a signal.
int RunProgram(const char* const* argv);

// As RunProgram, with the program's standard output read into `out`
// (`size` bytes, terminated; whatever does not fit is read and dropped).
int RunProgramOutput(const char* const* argv, char* out, size_t size);

// True when `getenforce` runs and its first line begins with "Enforcing".
// Any failure counts as not enforcing.
bool isSELinuxEnabled();

}  // namespace vantora_usbmon
