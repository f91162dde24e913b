// The readers of the job records and the printers' hand-off marks: any
// bytes in the files of a records folder.
#include "JobRecord.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kRecord[] = "/job-12-0b6ad2b4-7a0e-3b1c-5f3e-1d2c3b4a5f60";
constexpr char kMark[] = "/printer-S1";

std::string g_top;

// Leaves nothing behind in /tmp.
void RemoveFolder()
{
    const std::string folder = g_top + "/jobs";
    unlink((folder + kRecord).c_str());
    unlink((folder + kMark).c_str());
    rmdir(folder.c_str());
    rmdir(g_top.c_str());
}

// One private folder for the whole run.
const std::string& Folder()
{
    static const std::string folder = [] {
        char name[] = "/tmp/fuzzrec.XXXXXX";
        const char* made = mkdtemp(name);
        if (made == nullptr)
            std::abort();
        g_top = made;
        std::atexit(RemoveFolder);
        return g_top + "/jobs";
    }();
    return folder;
}

void Put(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JobRecords records(Folder());
    if (!records.Usable() || !records.Choose("12", "urn:uuid:0b6ad2b4-7a0e-3b1c-5f3e-1d2c3b4a5f60"))
        std::abort();
    Put(Folder() + kRecord, data, size);
    JobRecord record;
    if (records.Load(&record) && (record.taken < record.printed || record.printed < 0))
        std::abort();
    Put(Folder() + kMark, data, size);
    (void)records.HandoffMark("S1");
    return 0;
}
