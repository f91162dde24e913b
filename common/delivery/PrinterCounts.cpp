#include "PrinterCounts.h"

#include "ExchangeFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_delivery {

namespace {

constexpr size_t kMaxCountBytes = 4096;
constexpr size_t kMaxSizeName = 31;
constexpr long kMaxCount = 1000000000L;

bool IsSizeName(const std::string& size)
{
    if (size.empty() || size.size() > kMaxSizeName || size == "total")
        return false;
    for (char c : size) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.' || c == '?'))
            return false;
    }
    return true;
}

// Makes the folder (and its parent) when missing; true when it is a folder
// of this user's that nobody else may enter.
bool UsableFolder(const std::string& folder)
{
    if (folder.empty() || folder[0] != '/')
        return false;
    if (mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        const size_t slash = folder.rfind('/');
        if (slash != std::string::npos && slash > 0)
            mkdir(folder.substr(0, slash).c_str(), 0755);
        mkdir(folder.c_str(), 0700);
    }
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

// The counts in `text`; false when a line is not "name=number".
bool Parse(const std::string& text, PrinterCount* count)
{
    PrinterCount parsed;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string name = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const long number = std::strtol(value.c_str(), nullptr, 10);
        if (name == "total")
            parsed.total = number;
        else if (IsSizeName(name))
            parsed.sizes[name] = number;
        else
            return false;
    }
    *count = parsed;
    return true;
}

bool ReadFile(const std::string& path, PrinterCount* count)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[kMaxCountBytes + 1];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    if (got < 0 || static_cast<size_t>(got) > kMaxCountBytes)
        return false;
    return Parse(std::string(buffer, static_cast<size_t>(got)), count);
}

}  // namespace

std::string PrinterCountsFolder()
{
    const char* folder = std::getenv(kPrinterCountsVariable);
    return folder != nullptr && folder[0] == '/' ? folder : kPrinterCountsFolder;
}

bool AddPrintedSheets(const std::string& folder, const std::string& serial, const std::string& size, long sheets)
{
    if (!vantora_exchange::IsValidSerial(serial.c_str()) || !IsSizeName(size) || sheets <= 0 || sheets > kMaxCount ||
        !UsableFolder(folder))
        return false;
    // Two programs may count on one printer at once (a job ending while
    // the next starts): the lock makes each addition whole.
    const std::string path = folder + "/" + serial;
    const int lock = open((folder + "/." + serial + ".lock").c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0)
        return false;
    bool written = false;
    if (flock(lock, LOCK_EX) == 0) {
        PrinterCount count;
        if (!ReadFile(path, &count) && access(path.c_str(), F_OK) == 0) {
            // A broken file is kept aside rather than counted over from zero.
            rename(path.c_str(), (path + ".broken").c_str());
        }
        count.total = std::min(kMaxCount, count.total + sheets);
        count.sizes[size] = std::min(kMaxCount, count.sizes[size] + sheets);
        std::string text = "total=" + std::to_string(count.total) + "\n";
        for (const auto& [name, number] : count.sizes)
            text += name + "=" + std::to_string(number) + "\n";
        const std::string temporary = folder + "/." + serial + ".new";
        unlink(temporary.c_str());
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            written = fsync(fd) == 0 && written;
            close(fd);
            written = written && rename(temporary.c_str(), path.c_str()) == 0;
            if (!written)
                unlink(temporary.c_str());
        }
    }
    close(lock);
    return written;
}

bool ReadPrinterCount(const std::string& folder, const std::string& serial, PrinterCount* count)
{
    if (!vantora_exchange::IsValidSerial(serial.c_str()))
        return false;
    return ReadFile(folder + "/" + serial, count);
}

}  // namespace vantora_delivery
