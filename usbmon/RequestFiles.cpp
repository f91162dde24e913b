#include "RequestFiles.h"

#include <dirent.h>
#include <unistd.h>

namespace vantora_usbmon {

namespace {

enum : int {
    kWatched = 1,
    kRefreshAsked = 2,
};

// Removes the record's refresh file.
void RemoveRefreshFile(const thdata* record, const char* dir)
{
    char path[vantora_exchange::kPathSize];
    if (vantora_exchange::ExchangeFilePath(vantora_exchange::kRefreshFile, dir, record->serial, path, sizeof path))
        unlink(path);
}

}  // namespace

int fileCheck(thdata* record)
{
    const char* dir = GetMonitorSettings().exchangeDir.c_str();
    const vantora_exchange::RequestFileNames names = vantora_exchange::BuildRequestFileNames(record->serial);
    int bits = 0;
    if (DIR* folder = opendir(dir)) {
        while (const dirent* entry = readdir(folder)) {
            switch (vantora_exchange::MatchRequestEntry(entry->d_name, names)) {
            case vantora_exchange::kWatchFile:
                bits |= kWatched;
                record->bUtilSeen = true;
                break;
            case vantora_exchange::kRefreshFile:
                bits |= kRefreshAsked;
                RemoveRefreshFile(record, dir);
                break;
            case vantora_exchange::kPauseFile:
                // The backend prints: leave the printer alone this cycle.
                record->bPaused = true;
                closedir(folder);
                record->bResumed = false;
                if (bits == 0) {
                    record->bUtilSeen = false;
                    record->bCountRead = false;
                }
                return 0;
            default:
                break;
            }
        }
        closedir(folder);
    }

    int result = bits;
    if (bits == 0) {
        // The watch period is over.
        record->bUtilSeen = false;
        record->bCountRead = false;
    } else if (bits == kRefreshAsked) {
        result = 0;
    }
    record->bResumed = false;
    if (record->bPaused) {
        record->bPaused = false;
        record->bResumed = true;
    }
    return result;
}

}  // namespace vantora_usbmon
