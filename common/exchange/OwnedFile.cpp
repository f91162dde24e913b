#include "OwnedFile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_exchange {

namespace {

// A marker holds a process id and a line feed; anything longer is not ours.
constexpr size_t kMarkerMax = 24;

// The process id a marker file holds, or 0 when it holds anything else.
pid_t MarkerPid(const char* text, size_t length)
{
    if (length < 2 || text[length - 1] != '\n')
        return 0;
    long pid = 0;
    for (size_t i = 0; i + 1 < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        pid = pid * 10 + (text[i] - '0');
        if (pid > INT_MAX)
            return 0;
    }
    return static_cast<pid_t>(pid);
}

// True when process `pid` has ended but is not yet reaped (a zombie: a
// backend the scheduler killed as it stopped, whose new parent has not
// waited for it yet).
bool Ended(pid_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[512];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0)
        return false;
    text[length] = '\0';
    // "pid (name) S ...": the name may hold anything, so the state follows the last ')'.
    const char* end = std::strrchr(text, ')');
    return end != nullptr && end[1] == ' ' && (end[2] == 'Z' || end[2] == 'X');
}

}  // namespace

MarkerState JudgeMarker(const std::string& path)
{
    struct stat named {};
    if (lstat(path.c_str(), &named) != 0)
        return errno == ENOENT ? kMarkerAbsent : kMarkerForeign;
    if (!S_ISREG(named.st_mode) || (named.st_uid != 0 && named.st_uid != geteuid()) || named.st_nlink != 1 ||
        named.st_size > static_cast<off_t>(kMarkerMax))
        return kMarkerForeign;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return kMarkerForeign;
    struct stat opened {};
    char text[kMarkerMax + 1];
    ssize_t length = -1;
    if (fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
        length = read(fd, text, kMarkerMax);
    close(fd);
    const pid_t pid = length > 0 ? MarkerPid(text, static_cast<size_t>(length)) : 0;
    if (pid <= 0)
        return kMarkerForeign;
    if (pid == getpid() || ((kill(pid, 0) == 0 || errno != ESRCH) && !Ended(pid)))
        return kMarkerLive;
    return kMarkerLeftOver;
}

bool RemoveLeftOverMarker(const std::string& path)
{
    // Only root or this user may remove a marker from a sticky folder such
    // as /tmp, so nobody else can put another file under the name between
    // the last look and the unlink.
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0 || JudgeMarker(path) != kMarkerLeftOver)
        return false;
    struct stat now {};
    return lstat(path.c_str(), &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
           unlink(path.c_str()) == 0;
}

OwnedFile::Result OwnedFile::Create(const std::string& path)
{
    if (m_owned && m_path == path)
        return kCreated;
    Remove();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[kMarkerMax];
            const int length = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
            struct stat info {};
            const bool written = write(fd, text, static_cast<size_t>(length)) == length;
            const bool known = fstat(fd, &info) == 0;
            fchmod(fd, 0644);   // whatever the umask, readers need no more
            if (!known) {
                close(fd);
                unlink(path.c_str());
                return kFailed;
            }
            m_fd = fd;
            (void)written;   // the name is the signal; the id only helps clean up after a kill
            m_path = path;
            m_device = info.st_dev;
            m_inode = info.st_ino;
            m_owned = true;
            return kCreated;
        }
        if (errno != EEXIST)
            return kFailed;
        // Only a left-over of a killed backend is replaced.
        if (attempt > 0 || !RemoveLeftOverMarker(path))
            return kExists;
    }
    return kExists;
}

bool OwnedFile::Remove()
{
    if (!m_owned)
        return true;
    m_owned = false;
    struct stat info {};
    bool removed = true;
    if (lstat(m_path.c_str(), &info) != 0)
        removed = errno == ENOENT;
    else if (S_ISREG(info.st_mode) && info.st_dev == m_device && info.st_ino == m_inode)
        removed = unlink(m_path.c_str()) == 0 || errno == ENOENT;
    // else: not ours any more, someone else's now
    close(m_fd);
    m_fd = -1;
    return removed;
}

}  // namespace vantora_exchange
