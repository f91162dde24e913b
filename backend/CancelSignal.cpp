#include "CancelSignal.h"

#include <csignal>
#include <cstring>

namespace vantora_backend {

namespace {

volatile sig_atomic_t g_cancel = 0;

void OnTerminate(int)
{
    g_cancel = 1;
}

}  // namespace

void InstallCancelHandler()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;   // no SA_RESTART: a read of the job data returns EINTR
    sigaction(SIGTERM, &action, nullptr);

    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

bool CancelRequested()
{
    return g_cancel != 0;
}

void RequestCancel()
{
    g_cancel = 1;
}

void ClearCancel()
{
    g_cancel = 0;
}

}  // namespace vantora_backend
