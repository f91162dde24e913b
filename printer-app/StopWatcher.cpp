#include "StopWatcher.h"

#include "AppStop.h"
#include "PrinterRegistry.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The longest wait for the jobs being printed to end: a transfer in flight
// ends within its time-out.
constexpr auto kJobsEndWithin = std::chrono::seconds(15);

pappl_system_t* g_system = nullptr;
std::string g_stateFile;
std::thread g_watcher;
std::atomic<bool> g_ending{false};

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

void CountProcessing(pappl_job_t* job, void* count)
{
    if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
        ++*static_cast<int*>(count);
}

void PausePrinter(pappl_printer_t* printer, void*)
{
    // A paused printer starts no queued job; the pause is not part of the
    // saved state.
    papplPrinterPause(printer);
}

void CountPrinterJobs(pappl_printer_t* printer, void* count)
{
    papplPrinterIterateActiveJobs(printer, CountProcessing, count, 1, 0);
}

int ProcessingJobs()
{
    int count = 0;
    papplSystemIteratePrinters(g_system, CountPrinterJobs, &count);
    return count;
}

[[noreturn]] void StopApplication(int signal)
{
    papplLog(g_system, PAPPL_LOGLEVEL_INFO, "Stopping on signal %d.", signal);
    papplSystemIteratePrinters(g_system, PausePrinter, nullptr);
    StopKeepingJobs();
    const auto deadline = std::chrono::steady_clock::now() + kJobsEndWithin;
    while (ProcessingJobs() > KeptJobs() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!papplSystemSaveState(g_system, g_stateFile.c_str()))
        papplLog(g_system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state to \"%s\".", g_stateFile.c_str());
    StopPrinterRegistry();
    papplLog(g_system, PAPPL_LOGLEVEL_INFO, "Stopped.");
    std::fflush(nullptr);
    // PAPPL's own end would wait for the queued jobs and free the system
    // under threads that still run; the process ends here instead.
    _exit(0);
}

void WatchStopSignals()
{
    const sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) == 0) {
        if (g_ending)
            return;
        StopApplication(signal);
    }
}

}  // namespace

void BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool StartStopWatcher(pappl_system_t* system, const std::string& stateFile)
{
    const sigset_t set = StopSignals();
    g_system = system;
    g_stateFile = stateFile;
    g_ending = false;
    try {
        g_watcher = std::thread(WatchStopSignals);
    } catch (...) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return false;
    }
    return true;
}

void EndStopWatcher()
{
    if (!g_watcher.joinable())
        return;
    g_ending = true;
    pthread_kill(g_watcher.native_handle(), SIGTERM);
    g_watcher.join();
}

bool RequeueInterruptedJobs(const std::string& stateFile)
{
    // PAPPL writes one "Job ..." line per job, its state as state="N".
    std::ifstream in(stateFile);
    if (!in)
        return true;   // no state yet
    std::string text;
    std::string line;
    int requeued = 0;
    const std::string processing = " state=\"" + std::to_string(IPP_JSTATE_PROCESSING) + "\"";
    const std::string pending = " state=\"" + std::to_string(IPP_JSTATE_PENDING) + "\"";
    while (std::getline(in, line)) {
        const size_t at = line.find(processing);
        if (line.rfind("Job ", 0) == 0 && at != std::string::npos) {
            line.replace(at, processing.size(), pending);
            ++requeued;
        }
        text += line;
        text += '\n';
    }
    in.close();
    if (requeued == 0)
        return true;
    struct stat info {};
    if (stat(stateFile.c_str(), &info) != 0)
        return false;
    const std::string temporary = stateFile + ".new";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, info.st_mode & 0777);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    close(fd);
    if (!written || rename(temporary.c_str(), stateFile.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
