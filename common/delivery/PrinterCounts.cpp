#include "PrinterCounts.h"

#include "ExchangeFiles.h"
#include "PrivateFiles.h"

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

// The counts in `text`; false when a line is not "name=number".
bool Parse(const std::string& text, PrinterCount* count)
{
    PrinterCount parsed;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!vantora_exchange::SplitKeyLines(text, &pairs))
        return false;
    for (const auto& [name, value] : pairs) {
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
    std::string text;
    return vantora_exchange::ReadSmallFile(path, kMaxCountBytes, &text) && Parse(text, count);
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
        folder.empty() || folder[0] != '/' || !vantora_exchange::UsablePrivateFolder(folder, true))
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
        written = vantora_exchange::WriteFileWhole(path, folder + "/." + serial + ".new", text);
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
