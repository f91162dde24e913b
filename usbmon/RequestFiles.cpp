#include "RequestFiles.h"

#include "OwnedFile.h"

#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_usbmon {

namespace {

enum : int {
    kWatched = 1,
    kRefreshAsked = 2,
};

bool Exists(const char* path)
{
    struct stat info {};
    return lstat(path, &info) == 0;
}

// The watch period ends: the next one reads the count again.
void EndWatchPeriod(thdata* record)
{
    record->bUtilSeen = false;
    record->bCountRead = false;
}

}  // namespace

int fileCheck(thdata* record)
{
    using namespace vantora_exchange;
    const char* dir = GetMonitorSettings().exchangeDir.c_str();
    char watch[kPathSize], refresh[kPathSize], pause[kPathSize];
    if (!ExchangeFilePath(kWatchFile, dir, record->serial, watch, sizeof watch) ||
        !ExchangeFilePath(kRefreshFile, dir, record->serial, refresh, sizeof refresh) ||
        !ExchangeFilePath(kPauseFile, dir, record->serial, pause, sizeof pause))
        return 0;

    bool paused = false;
    switch (JudgeMarker(pause)) {
    case kMarkerLive:
        paused = true;
        break;
    case kMarkerLeftOver:
        // A killed backend's: its job start file is left over as well.
        if (RemoveLeftOverMarker(pause))
            SweepLeftOverMarkers(dir);
        break;
    default:
        break;
    }
    const bool watched = Exists(watch);
    if (paused) {
        // The backend prints: leave the printer alone this cycle, and keep
        // a refresh request for after the pause.
        record->bPaused = true;
        record->bResumed = false;
        if (!watched)
            EndWatchPeriod(record);
        return 0;
    }

    int bits = 0;
    if (watched) {
        bits = kWatched;
        record->bUtilSeen = true;
        if (unlink(refresh) == 0)
            bits |= kRefreshAsked;
    } else {
        EndWatchPeriod(record);
    }
    record->bResumed = false;
    if (record->bPaused) {
        record->bPaused = false;
        record->bResumed = true;
    }
    return bits;
}

bool BackendWaits(const thdata* record)
{
    char pause[vantora_exchange::kPathSize];
    return vantora_exchange::ExchangeFilePath(vantora_exchange::kPauseFile, GetMonitorSettings().exchangeDir.c_str(),
                                              record->serial, pause, sizeof pause) &&
           vantora_exchange::JudgeMarker(pause) == vantora_exchange::kMarkerLive;
}

int SweepLeftOverMarkers(const char* dir)
{
    DIR* folder = dir != nullptr ? opendir(dir) : nullptr;
    if (folder == nullptr)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(folder)) {
        if (vantora_exchange::IsBackendMarkerName(entry->d_name) &&
            vantora_exchange::RemoveLeftOverMarker(std::string(dir) + "/" + entry->d_name))
            ++removed;
    }
    closedir(folder);
    return removed;
}

}  // namespace vantora_usbmon
