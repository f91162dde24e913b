// The two files the backend keeps while it prints: the job start file
// Print_<job id>.log, which tells the raster filter that its job may go on,
// and the pause file Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=<S>,
// which keeps the USB monitor daemon off the printer. Both live in the
// exchange folder (/tmp) and are made and removed as OwnedFile does.
#pragma once

#include "OwnedFile.h"

#include <string>

namespace vantora_backend {

using vantora_exchange::OwnedFile;

class JobFiles {
public:
    // `folder`: the exchange folder (vantora_exchange::kExchangeDir outside tests).
    explicit JobFiles(std::string folder);

    // Creates the job start file of `jobId`. False when the id cannot name
    // the file or the file could not be made; a file that exists already
    // (another scheduler's job of the same id) serves the filter as well
    // and counts as success, but stays someone else's.
    bool StartJob(const char* jobId);

    // Makes sure the pause file of `serial` is there and ours. Another
    // backend's pause file (a second queue of the same printer) is left to
    // it; call again later to take over once it is gone. True when ours.
    bool HoldPause(const char* serial);

    // Removes both files, as far as they are still ours.
    void RemoveAll();

    // The exchange folder the files are made in.
    const std::string& folder() const { return m_folder; }
    bool pauseHeld() const { return m_pause.owned(); }
    bool startFileOwned() const { return m_start.owned(); }

private:
    std::string m_folder;
    OwnedFile m_start;
    OwnedFile m_pause;
};

}  // namespace vantora_backend
