#include "JobRecord.h"

#include "ExchangeFiles.h"
#include "PrivateFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxRecordBytes = 512;
constexpr char kJobPrefix[] = "job-";
constexpr char kPrinterPrefix[] = "printer-";

bool IsUuid(const char* uuid)
{
    constexpr char kUrn[] = "urn:uuid:";
    if (uuid == nullptr || std::strncmp(uuid, kUrn, sizeof kUrn - 1) != 0)
        return false;
    const char* id = uuid + sizeof kUrn - 1;
    if (std::strlen(id) != 36)
        return false;
    for (int i = 0; i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = id[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool IsJobId(const char* id)
{
    const size_t length = id != nullptr ? strnlen(id, 10) : 0;
    return length > 0 && length <= 9 && std::strspn(id, "0123456789") == length;
}

// A number of the record; false for anything but an optional minus and up
// to 18 digits.
bool ParseNumber(const std::string& text, long* value)
{
    const size_t digits = text.size() - (text.rfind('-', 0) == 0 ? 1 : 0);
    if (digits == 0 || digits > 18 || text.find_first_not_of("-0123456789", 0) != std::string::npos ||
        text.find('-', 1) != std::string::npos)
        return false;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

JobRecords::JobRecords(std::string folder) : m_folder(std::move(folder))
{
    m_usable = vantora_exchange::UsablePrivateFolder(m_folder, true);
}

bool JobRecords::Choose(const char* jobId, const char* uuid)
{
    m_job.clear();
    if (!m_usable || !IsJobId(jobId) || !IsUuid(uuid))
        return false;
    m_job = std::string(kJobPrefix) + jobId + "-" + (uuid + 9);
    return true;
}

bool JobRecords::Write(const std::string& name, const std::string& text)
{
    if (!m_usable || name.empty())
        return false;
    const std::string path = m_folder + "/" + name;
    return vantora_exchange::WriteFileWhole(path, path + ".new", text);
}

bool JobRecords::Read(const std::string& name, std::string* text) const
{
    return m_usable && !name.empty() && vantora_exchange::ReadSmallFile(m_folder + "/" + name, kMaxRecordBytes, text) &&
           !text->empty();
}

bool JobRecords::Load(JobRecord* record) const
{
    std::string text;
    if (!Read(m_job, &text))
        return false;
    JobRecord loaded;
    bool sawPrinted = false;
    bool sawCounted = false;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!vantora_exchange::SplitKeyLines(text, &pairs))
        return false;
    for (const auto& [key, value] : pairs) {
        long number = 0;
        if (key == "serial") {
            if (!vantora_exchange::IsValidSerial(value.c_str()))
                return false;
            loaded.serial = value;
        } else if (key == "printed" || key == "taken" || key == "counted") {
            if (!ParseNumber(value, &number) || number < 0 || number > 1000000)
                return false;
            (key == "printed" ? loaded.printed : key == "taken" ? loaded.taken : loaded.counted) =
                static_cast<int>(number);
            sawPrinted = sawPrinted || key == "printed";
            sawCounted = sawCounted || key == "counted";
        } else if (key == "mark" || key == "scheduler") {
            if (!ParseNumber(value, &number) || number < (key == "mark" ? -1 : 0))
                return false;
            (key == "mark" ? loaded.mark : loaded.scheduler) = number;
        }
    }
    if (!sawPrinted || loaded.taken < loaded.printed)
        return false;
    // A record of a version that kept no counts: what it knew printed was
    // counted as it printed.
    if (!sawCounted)
        loaded.counted = loaded.printed;
    *record = loaded;
    return true;
}

bool JobRecords::Save(const JobRecord& record)
{
    char text[kMaxRecordBytes];
    std::snprintf(text, sizeof text, "serial=%s\nprinted=%d\ntaken=%d\nmark=%ld\nscheduler=%ld\ncounted=%d\n",
                  vantora_exchange::IsValidSerial(record.serial.c_str()) ? record.serial.c_str() : "", record.printed,
                  record.taken, record.mark, record.scheduler, record.counted);
    return Write(m_job, text);
}

void JobRecords::Remove()
{
    if (m_usable && !m_job.empty())
        unlink((m_folder + "/" + m_job).c_str());
}

long JobRecords::HandoffMark(const std::string& serial) const
{
    std::string text;
    long mark = -1;
    if (!vantora_exchange::IsValidSerial(serial.c_str()) || !Read(kPrinterPrefix + serial, &text) ||
        text.rfind("mark=", 0) != 0)
        return -1;
    const size_t end = text.find('\n');
    if (!ParseNumber(text.substr(5, end == std::string::npos ? std::string::npos : end - 5), &mark))
        return -1;
    return mark;
}

void JobRecords::SetHandoffMark(const std::string& serial, long mark)
{
    if (!vantora_exchange::IsValidSerial(serial.c_str()))
        return;
    if (mark < 0) {
        if (m_usable)
            unlink((m_folder + "/" + kPrinterPrefix + serial).c_str());
        return;
    }
    Write(kPrinterPrefix + serial, "mark=" + std::to_string(mark) + "\n");
}

void JobRecords::CleanOld(long maxAgeSeconds)
{
    if (!m_usable)
        return;
    DIR* dir = opendir(m_folder.c_str());
    if (dir == nullptr)
        return;
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kJobPrefix, 0) != 0 && name.rfind(kPrinterPrefix, 0) != 0)
            continue;
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            now - info.st_mtime > maxAgeSeconds)
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}
