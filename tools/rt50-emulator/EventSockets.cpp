// Preloaded into the clients of the emulated printers, ahead of umockdev's
// preload library: each client gets its own hot-plug events.
//
// umockdev's library binds each client's netlink socket to a Unix socket
// "event<descriptor>" in the testbed, after removing whatever has that name,
// and the testbed sends each event to every "event[0-9]*" there. Two
// clients whose sockets have the same descriptor number (every backend
// that the scheduler starts does) would take each other's events for good.
// Here every such socket is renamed to a name of its own as soon as it is
// bound ("event<descriptor>-<pid>-<n>"), under a lock that all clients
// share, so that no later bind can remove it. The emulator removes the
// sockets of clients that have ended.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

using BindFunction = int (*)(int, const struct sockaddr*, socklen_t);

std::atomic<unsigned> g_renamed{0};

}  // namespace

extern "C" __attribute__((visibility("default"))) int bind(int fd, const struct sockaddr* address, socklen_t length)
{
    static const BindFunction next = reinterpret_cast<BindFunction>(dlsym(RTLD_NEXT, "bind"));
    if (next == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    const char* testbed = std::getenv("UMOCKDEV_DIR");
    if (testbed == nullptr || address == nullptr || address->sa_family != AF_NETLINK)
        return next(fd, address, length);
    char path[256];
    char lockPath[256];
    if (std::snprintf(path, sizeof path, "%s/event%d", testbed, fd) >= static_cast<int>(sizeof path) ||
        std::snprintf(lockPath, sizeof lockPath, "%s/event-lock", testbed) >= static_cast<int>(sizeof lockPath))
        return next(fd, address, length);
    const int lock = open(lockPath, O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    const int result = next(fd, address, length);
    const int saved = errno;
    struct stat info {};
    if (result == 0 && lstat(path, &info) == 0 && S_ISSOCK(info.st_mode)) {
        char unique[300];
        std::snprintf(unique, sizeof unique, "%s-%ld-%u", path, static_cast<long>(getpid()), g_renamed++);
        rename(path, unique);
    }
    if (lock >= 0) {
        flock(lock, LOCK_UN);
        close(lock);
    }
    errno = saved;
    return result;
}
