#include "FailoverMarks.h"

#include "ExchangeFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_exchange {

namespace {

constexpr size_t kMaxMarkBytes = 4096;
constexpr size_t kMaxQueueName = 127;

// Makes the folder (and its parent) when missing; true when it is a folder
// of this user's that nobody else may enter.
bool UsableFolder(const std::string& folder, bool make)
{
    if (folder.empty() || folder[0] != '/')
        return false;
    if (make && mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        const size_t slash = folder.rfind('/');
        if (slash != std::string::npos && slash > 0)
            mkdir(folder.substr(0, slash).c_str(), 0755);
        mkdir(folder.c_str(), 0700);
    }
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

// A text fit for one line of the mark: control characters become spaces.
std::string OneLine(const std::string& text)
{
    std::string line = text.substr(0, 512);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return line;
}

// Reads the mark file of `serial`; false when it is missing, too large or broken.
bool ReadMark(const std::string& folder, const std::string& serial, FailoverMark* mark)
{
    const int fd = open((folder + "/" + serial).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[kMaxMarkBytes + 1];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    if (got <= 0 || static_cast<size_t>(got) > kMaxMarkBytes)
        return false;
    const std::string text(buffer, static_cast<size_t>(got));
    FailoverMark loaded;
    loaded.serial = serial;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        if (key == "queue")
            loaded.queue = line.substr(equals + 1);
        else if (key == "reason")
            loaded.reason = line.substr(equals + 1);
    }
    if (loaded.queue.empty() || loaded.queue.size() > kMaxQueueName)
        return false;
    *mark = loaded;
    return true;
}

}  // namespace

std::string FailoverFolder()
{
    const char* folder = std::getenv(kFailoverFolderVariable);
    return folder != nullptr && folder[0] == '/' ? folder : kFailoverFolder;
}

bool WriteFailoverMark(const std::string& folder, const FailoverMark& mark)
{
    if (!IsValidSerial(mark.serial.c_str()) || mark.queue.empty() || mark.queue.size() > kMaxQueueName ||
        mark.queue.find_first_of("\n\r") != std::string::npos || !UsableFolder(folder, true))
        return false;
    const std::string text = "queue=" + mark.queue + "\nreason=" + OneLine(mark.reason) + "\n";
    const std::string path = folder + "/" + mark.serial;
    const std::string temporary = folder + "/." + mark.serial + ".new";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<FailoverMark> ReadFailoverMarks(const std::string& folder)
{
    std::vector<FailoverMark> marks;
    if (!UsableFolder(folder, false))
        return marks;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return marks;
    while (const dirent* entry = readdir(dir)) {
        FailoverMark mark;
        if (IsValidSerial(entry->d_name) && entry->d_name[0] != '.' && ReadMark(folder, entry->d_name, &mark))
            marks.push_back(mark);
    }
    closedir(dir);
    return marks;
}

bool RemoveFailoverMark(const std::string& folder, const std::string& serial)
{
    if (!IsValidSerial(serial.c_str()) || !UsableFolder(folder, false))
        return true;
    return unlink((folder + "/" + serial).c_str()) == 0 || errno == ENOENT;
}

}  // namespace vantora_exchange
