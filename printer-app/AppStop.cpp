#include "AppStop.h"

#include <atomic>

namespace {

// The process-wide stop: read by every job's sheet and wait.
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_keepJobs{false};
std::atomic<int> g_keptJobs{0};

}  // namespace

void StopAllSheets()
{
    g_stopping = true;
}

bool AppStopping()
{
    return g_stopping;
}

void StopKeepingJobs()
{
    g_keepJobs = true;
    g_stopping = true;
}

bool KeepingJobs()
{
    return g_keepJobs;
}

void CountKeptJob()
{
    ++g_keptJobs;
}

int KeptJobs()
{
    return g_keptJobs;
}
