#include "StatusFileStore.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_exchange {

namespace {

bool WriteAll(int fd, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t wrote = write(fd, text, length);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = EIO;
            return false;
        }
        text += wrote;
        length -= static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

int WriteExchangeText(const char* path, const char* text, size_t length, RelabelFile relabel)
{
    if (path == nullptr || text == nullptr)
        return EINVAL;
    // ".<name>.XXXXXX" beside the file: the rename stays inside one folder.
    char temporary[PATH_MAX];
    const char* slash = std::strrchr(path, '/');
    const int dirLength = slash != nullptr ? static_cast<int>(slash - path) : 0;
    const char* name = slash != nullptr ? slash + 1 : path;
    const int made = slash != nullptr
                         ? std::snprintf(temporary, sizeof temporary, "%.*s/.%s.XXXXXX", dirLength, path, name)
                         : std::snprintf(temporary, sizeof temporary, ".%s.XXXXXX", name);
    if (made < 0 || static_cast<size_t>(made) >= sizeof temporary)
        return ENAMETOOLONG;

    const int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    if (relabel != nullptr)
        relabel("tmp_t", temporary);
    // The umask must not take the window's read access (nor another
    // user's window's) away: the mode is set on the descriptor.
    bool ok = fchmod(fd, 0666) == 0 && WriteAll(fd, text, length);
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && relabel != nullptr)
        relabel("cupsd_tmp_t", temporary);
    if (ok && rename(temporary, path) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary);
        return error != 0 ? error : EIO;
    }
    return 0;
}

int WriteStatusFile(const char* path, const StatusFileValues& values, RelabelFile relabel)
{
    char text[kStatusTextSize];
    const int length = FormatStatusFile(values, text, sizeof text);
    if (length < 0)
        return EINVAL;
    return WriteExchangeText(path, text, static_cast<size_t>(length), relabel);
}

bool ReadStatusFileCount(const char* path, int* count)
{
    if (path == nullptr || count == nullptr)
        return false;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    char text[kStatusTextSize + 1];
    ssize_t got = -1;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
        (info.st_uid == 0 || info.st_uid == geteuid()) && info.st_size <= kStatusTextSize) {
        got = read(fd, text, kStatusTextSize);
    }
    close(fd);
    if (got <= 0)
        return false;
    text[got] = '\0';

    static const char kKey[] = "\nTOTAL_COUNT=\"";
    const char* at = std::strstr(text, kKey);
    if (at == nullptr)
        return false;
    const char* digits = at + sizeof kKey - 1;
    const size_t length = std::strspn(digits, "0123456789");
    if (length == 0 || length > 9 || digits[length] != '"')
        return false;
    int value = 0;
    for (size_t i = 0; i < length; ++i)
        value = value * 10 + (digits[i] - '0');
    *count = value;
    return true;
}

}  // namespace vantora_exchange
