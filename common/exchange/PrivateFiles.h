// Small files of root's in a folder only their owner may enter (job
// records, failover marks, printers' counts): the folder's checks, a
// bounded read and a whole write. Other users can neither read nor plant
// such a file, since the folder is checked before it is believed.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vantora_exchange {

// True when `folder` is a folder of this user's that nobody else may enter.
// With `make`, a missing folder is made (0700), and its parent (0755) when
// that is missing too.
bool UsablePrivateFolder(const std::string& folder, bool make);

// Reads `path` (never through a symbolic link) into `text`; false when it
// cannot be opened or read, or holds more than `maxBytes`.
bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string* text);

// Writes `text` to `path` whole: into `temporary` (made anew, 0600), then
// renamed into place. False, with nothing left behind, when it could not.
bool WriteFileWhole(const std::string& path, const std::string& temporary, const std::string& text);

// The "key=value" lines of `text`, in order, into `pairs` (the value may
// hold further '='). False when a line has no '='; the lines that have one
// are in `pairs` all the same.
bool SplitKeyLines(const std::string& text, std::vector<std::pair<std::string, std::string>>* pairs);

}  // namespace vantora_exchange
