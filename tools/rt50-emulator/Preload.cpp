#include "Preload.h"

#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace rt50emu {

namespace {

constexpr char kPreload[] = "libumockdev-preload.so.0";
// Ahead of umockdev's library: each client's hot-plug socket gets a name of
// its own (EventSockets.cpp).
constexpr char kEvents[] = RT50_EVENTS_PRELOAD;
constexpr char kOriginalVar[] = "RT50_EMULATOR_USER_PRELOAD";
constexpr char kReexecVar[] = "RT50_EMULATOR_REEXEC";

// The path of the AddressSanitizer runtime loaded into this process, if any:
// it has to come first in LD_PRELOAD.
int FindAsan(struct dl_phdr_info* info, size_t, void* found)
{
    if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "libasan.so") != nullptr) {
        *static_cast<std::string*>(found) = info->dlpi_name;
        return 1;
    }
    return 0;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool RunningPreloaded()
{
    return Env("LD_PRELOAD").find("libumockdev-preload") != std::string::npos;
}

std::string ChildPreload()
{
    std::string preload = std::string(kEvents) + ":" + kPreload;
    const std::string user = std::getenv(kOriginalVar) ? Env(kOriginalVar) : Env("LD_PRELOAD");
    if (!user.empty() && user.find("libumockdev-preload") == std::string::npos)
        preload += ":" + user;
    return preload;
}

bool EnsurePreloaded(char** argv)
{
    if (RunningPreloaded()) {
        // Programs started from here may re-execute themselves in turn.
        unsetenv(kReexecVar);
        return true;
    }
    if (!Env(kReexecVar).empty())
        return false;
    std::string asan;
    dl_iterate_phdr(FindAsan, &asan);
    const std::string user = Env("LD_PRELOAD");
    const std::string own = std::string(kEvents) + ":" + kPreload;
    std::string preload = asan.empty() ? own : asan + ":" + own;
    if (!user.empty())
        preload += ":" + user;
    setenv(kOriginalVar, user.c_str(), 1);
    setenv(kReexecVar, "1", 1);
    setenv("LD_PRELOAD", preload.c_str(), 1);
    // Sanitized clients started later may get the preload library first.
    std::string asanOptions = Env("ASAN_OPTIONS");
    if (asanOptions.find("verify_asan_link_order") == std::string::npos) {
        asanOptions += asanOptions.empty() ? "" : ":";
        asanOptions += "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    }
    execv("/proc/self/exe", argv);
    return false;
}

}  // namespace rt50emu
