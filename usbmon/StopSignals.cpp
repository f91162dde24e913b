#include "StopSignals.h"

#include "HotplugLoop.h"

#include <pthread.h>
#include <signal.h>

namespace vantora_usbmon {

namespace {

sigset_t StopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void* WaitForStopSignals(void*)
{
    const sigset_t set = StopSignalSet();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) == 0)
            RequestMonitorStop();
    }
    return nullptr;
}

}  // namespace

bool StopOnSignals()
{
    const sigset_t set = StopSignalSet();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, WaitForStopSignals, nullptr) != 0)
        return false;
    pthread_detach(thread);
    return true;
}

}  // namespace vantora_usbmon
