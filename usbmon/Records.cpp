#include "Records.h"

#include <atomic>
#include <cstdarg>
#include <cstring>

namespace vantora_usbmon {

std::vector<thdata*> thDevData;
std::mutex m;
TurnMutex usb_openclose_mutex;
bool bSELinuxEnabled = false;

namespace {

// Workers wait out their cycles on g_stopWake with g_wakeMutex, which is
// neither m nor the USB section.
std::mutex g_wakeMutex;
std::condition_variable g_stopWake;

MonitorSettings g_settings;

std::atomic<long> g_usbSections{0};
std::atomic<int> g_sectionsNow{0};
std::atomic<int> g_mostSectionsAtOnce{0};
std::atomic<long> g_handOvers{0};
std::atomic<long> g_workersStarted{0};
std::atomic<long> g_workersEnded{0};

void VReport(const char* who, const char* format, va_list args)
{
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    FILE* out = g_settings.reports != nullptr ? g_settings.reports : stderr;
    if (who != nullptr)
        std::fprintf(out, "vantora_rt50_usbmon: %s: %s\n", who, line);
    else
        std::fprintf(out, "vantora_rt50_usbmon: %s\n", line);
    std::fflush(out);
}

}  // namespace

const MonitorSettings& GetMonitorSettings()
{
    return g_settings;
}

void SetMonitorSettings(const MonitorSettings& settings)
{
    g_settings = settings;
}

MonitorStats GetMonitorStats()
{
    MonitorStats stats;
    stats.usbSections = g_usbSections.load();
    stats.mostSectionsAtOnce = g_mostSectionsAtOnce.load();
    stats.handOvers = g_handOvers.load();
    stats.workersStarted = g_workersStarted.load();
    stats.workersEnded = g_workersEnded.load();
    return stats;
}

void ResetMonitorStats()
{
    g_usbSections = 0;
    g_sectionsNow = 0;
    g_mostSectionsAtOnce = 0;
    g_handOvers = 0;
    g_workersStarted = 0;
    g_workersEnded = 0;
}

void CountSectionEntered()
{
    ++g_usbSections;
}

void CountSectionHeld()
{
    const int now = ++g_sectionsNow;
    int most = g_mostSectionsAtOnce.load();
    while (now > most && !g_mostSectionsAtOnce.compare_exchange_weak(most, now)) {
    }
}

void CountHandOver()
{
    ++g_handOvers;
}

void CountSectionLeft()
{
    --g_sectionsNow;
}

void CountWorkerStarted()
{
    ++g_workersStarted;
}

void CountWorkerEnded()
{
    ++g_workersEnded;
}

void ReportFailure(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    VReport(nullptr, format, args);
    va_end(args);
}

void ReportOnce(thdata* record, ReportedFailure failure, const char* format, ...)
{
    if ((record->reported & failure) != 0)
        return;
    record->reported |= failure;
    char who[96];
    if (record->bSerialOk)
        std::snprintf(who, sizeof who, "printer %s", record->serial);
    else
        std::snprintf(who, sizeof who, "printer at USB bus %u device %u", record->bus, record->address);
    va_list args;
    va_start(args, format);
    VReport(who, format, args);
    va_end(args);
}

void ClearReported(thdata* record, ReportedFailure failure)
{
    record->reported &= ~static_cast<unsigned>(failure);
}

bool WaitCycle(thdata* record)
{
    std::unique_lock<std::mutex> lock(g_wakeMutex);
    return g_stopWake.wait_for(lock, g_settings.cycle, [record] { return record->bStop.load(); });
}

bool StopRequested(const thdata* record)
{
    return record->bStop.load();
}

void StopWorker(thdata* record)
{
    {
        // Set under the wake mutex, so that a worker between its look at
        // bStop and its wait cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        record->bStop = true;
    }
    g_stopWake.notify_all();
}

void PrintableCopy(const char* text, char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return;
    size_t used = 0;
    for (; text != nullptr && text[used] != '\0' && used + 1 < size; ++used) {
        const unsigned char c = static_cast<unsigned char>(text[used]);
        out[used] = (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
    }
    out[used] = '\0';
}

}  // namespace vantora_usbmon
