// vantora_rt50_usbmon: notices RT-50 printers on USB, gives each a CUPS
// queue and, while the status window watches one, keeps its status file
// fresh. Runs as root until it is stopped (SIGTERM, SIGINT, SIGHUP), when it
// leaves every printer's status file in its offline form; takes no
// arguments in service.
//
//   --exchange-dir DIR   for tests: status and request files in DIR (an
//                        existing folder given by absolute path) instead of /tmp
//
// The environment variable VANTORA_RT50_FAILOVER may name another folder
// of failover marks than /var/lib/vantora-rt50/failover (the backend's too).
#include "HotplugLoop.h"
#include "Records.h"
#include "StopSignals.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    vantora_usbmon::MonitorSettings settings;
    for (int i = 1; i < argc; ++i) {
        struct stat info {};
        if (std::strcmp(argv[i], "--exchange-dir") == 0 && i + 1 < argc && argv[i + 1][0] == '/' &&
            stat(argv[i + 1], &info) == 0 && S_ISDIR(info.st_mode)) {
            settings.exchangeDir = argv[++i];
            continue;
        }
        std::fprintf(stderr, "usage: %s [--exchange-dir /ABSOLUTE/FOLDER]\n", argv[0]);
        return 2;
    }
    vantora_usbmon::SetMonitorSettings(settings);
    if (!vantora_usbmon::StopOnSignals()) {
        std::fprintf(stderr, "vantora_rt50_usbmon: cannot wait for stop signals\n");
        return 1;
    }
    return vantora_usbmon::RunMonitor();
}
