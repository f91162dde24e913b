#include "ProgramRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantora_usbmon {

namespace {

// Waits for `child`; its exit status, or -1 after a signal.
int WaitFor(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts argv with standard output on `outFd` (or the daemon's own when it
// is negative). The child's pid, or -1.
pid_t Spawn(const char* const* argv, int outFd)
{
    if (argv == nullptr || argv[0] == nullptr)
        return -1;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // The daemon blocks its stop signals for a thread of its own; the
    // program gets them as usual.
    sigset_t none;
    sigemptyset(&none);
    bool ok = posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
              posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK) == 0;
    if (ok && outFd >= 0)
        ok = posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO) == 0;
    pid_t child = -1;
    // posix_spawnp does not change the strings it is given.
    if (ok && posix_spawnp(&child, argv[0], &actions, &attributes, const_cast<char* const*>(argv), environ) != 0)
        child = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

}  // namespace

int RunProgram(const char* const* argv)
{
    const pid_t child = Spawn(argv, -1);
    return child < 0 ? -1 : WaitFor(child);
}

int RunProgramOutput(const char* const* argv, char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return -1;
    out[0] = '\0';
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = Spawn(argv, pipeFds[1]);
    close(pipeFds[1]);
    if (child < 0) {
        close(pipeFds[0]);
        return -1;
    }
    size_t used = 0;
    char chunk[256];
    for (;;) {
        const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        const size_t keep = std::min(static_cast<size_t>(got), size - 1 - used);
        std::memcpy(out + used, chunk, keep);
        used += keep;
    }
    out[used] = '\0';
    close(pipeFds[0]);
    return WaitFor(child);
}

bool isSELinuxEnabled()
{
    const char* const argv[] = {"getenforce", nullptr};
    char line[32];
    if (RunProgramOutput(argv, line, sizeof line) < 0)
        return false;
    return std::strncmp(line, "Enforcing", 9) == 0;
}

}  // namespace vantora_usbmon
