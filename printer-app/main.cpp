// vantora-rt50-printer-app: every RT-50 on USB as a driverless IPP
// Everywhere printer, with PAPPL's command line (server, devices,
// drivers, add, status, ...).
#include "AppSystem.h"
#include "DeviceList.h"
#include "Rt50Driver.h"

#include <cstring>

int main(int argc, char* argv[])
{
    // PAPPL's own device listing aborts without Avahi; only USB counts here.
    if (argc == 2 && std::strcmp(argv[1], "devices") == 0)
        return ListRt50Devices(stdout);
    const int status = papplMainloop(argc, argv, VANTORA_VERSION, "VANTORA RT-50 Printer Application", 1,
                                     kRt50Drivers, Rt50AutoAdd, Rt50DriverCallback, nullptr, nullptr,
                                     CreateAppSystem, nullptr, nullptr);
    EndAppSystem();
    return status;
}
