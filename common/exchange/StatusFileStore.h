// Writing and reading back a printer's status file RT-50_<serial>.log in
// the exchange folder. The USB monitor daemon writes it while the window
// watches an idle printer, the backend while it holds the printer for a job;
// both write it here, the one way:
//
// a temporary file ".RT-50_<serial>.log.XXXXXX" is created exclusively
// beside the status file, given mode 0666 on its descriptor, written whole,
// relabelled when the caller asks (SELinux), and renamed over the status
// file. So a planted link is never followed, another user's file is never
// written into or truncated (it is replaced), no temporary file is left
// behind, and the window never reads half a file.
#pragma once

#include "ExchangeFiles.h"

#include <cstddef>

namespace vantora_exchange {

// Relabels the file `path` to the SELinux type `type` ("tmp_t" before it is
// filled, "cupsd_tmp_t" after); null when nothing is relabelled.
using RelabelFile = void (*)(const char* type, const char* path);

// Writes `length` bytes of `text` as the file `path` in the way above.
// Returns 0, or the errno value of the step that failed (EINVAL for a null
// argument, ENAMETOOLONG for a path too long); the file at `path` is then
// left as it was.
int WriteExchangeText(const char* path, const char* text, size_t length, RelabelFile relabel);

// Renders `values` (FormatStatusFile) and writes them as the status file
// `path`. 0 or an errno value as WriteExchangeText.
int WriteStatusFile(const char* path, const StatusFileValues& values, RelabelFile relabel);

// Reads the total count a status file carries (TOTAL_COUNT, 0 or more), for
// the daemon to carry on a count the backend read during a job. Only a file
// that one of the package's writers made counts: a regular file with one
// link, owned by root or by this process's user, of at most
// kStatusTextSize bytes, opened without following a link. False, with
// *count untouched, for anything else, for an empty count or one that is
// not 1 to 9 digits.
bool ReadStatusFileCount(const char* path, int* count);

}  // namespace vantora_exchange
