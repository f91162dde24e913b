// Starts the probe program in one of its modes that claim the printer and
// wait to be killed ("hold", "hold-mid-request"), as another process holding
// the printer.
#pragma once

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace rt50test {

// The probe's process ID once it says it holds the printer, or -1 (a probe
// that failed is waited for). `ownSession`: in a session of its own, as a
// daemon is.
inline pid_t StartHoldingProbe(const std::string& mode, bool ownSession = false)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownSession)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string program = RT50_PROBE_PATH;
    std::string way = mode;
    char* argv[] = {program.data(), way.data(), nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, program.c_str(), &actions, &attributes, argv, environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    char said[16] = {};
    const ssize_t n = child > 0 ? read(out[0], said, sizeof said - 1) : 0;
    close(out[0]);
    if (child > 0 && std::string(said, n > 0 ? static_cast<size_t>(n) : 0) != "holding\n") {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        child = -1;
    }
    return child;
}

}  // namespace rt50test
