#include "PrivateFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vantora_exchange {

bool UsablePrivateFolder(const std::string& folder, bool make)
{
    if (folder.empty())
        return false;
    if (make && mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        // The package's folder may not exist yet either.
        const size_t slash = folder.rfind('/');
        if (slash != std::string::npos && slash > 0)
            mkdir(folder.substr(0, slash).c_str(), 0755);
        mkdir(folder.c_str(), 0700);
    }
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string* text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<char> buffer(maxBytes + 1);
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    close(fd);
    if (got < 0 || static_cast<size_t>(got) > maxBytes)
        return false;
    text->assign(buffer.data(), static_cast<size_t>(got));
    return true;
}

bool WriteFileWhole(const std::string& path, const std::string& temporary, const std::string& text)
{
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // On disk before it replaces the old file: a record is what keeps a
    // sheet from printing twice after a power cut.
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool SplitKeyLines(const std::string& text, std::vector<std::pair<std::string, std::string>>* pairs)
{
    bool whole = true;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const size_t equals = text.find('=', at);
        if (equals == std::string::npos || equals >= end)
            whole = false;
        else
            pairs->emplace_back(text.substr(at, equals - at), text.substr(equals + 1, end - equals - 1));
        at = end + 1;
    }
    return whole;
}

}  // namespace vantora_exchange
