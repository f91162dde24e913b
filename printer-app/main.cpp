// vantora-rt50-printer-app: every RT-50 on USB as a driverless IPP
// Everywhere printer, with PAPPL's command line (server, devices,
// drivers, add, status, ...).
#include "AppSystem.h"
#include "DeviceList.h"
#include "PhotoCage.h"
#include "Rt50Driver.h"

#include <cstring>

int main(int argc, char* argv[])
{
    // Photos are decoded by this program started again as a caged service.
    if (vantora_photo::IsPhotoDecoderCall(argc, argv))
        return vantora_photo::PhotoDecoderMain(argc, argv);
    // PAPPL's own device listing aborts without Avahi; only USB counts here.
    if (argc == 2 && std::strcmp(argv[1], "devices") == 0)
        return ListRt50Devices(stdout);
    UseServiceStateFolder(kServiceStateFolder);
    // PAPPL makes a system for the drivers listing too: one that only lists.
    AppRole role = AppRole::kServe;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "drivers") == 0)
            role = AppRole::kListDrivers;
    }
    const int status = papplMainloop(argc, argv, VANTORA_VERSION, "VANTORA RT-50 Printer Application", 1,
                                     kRt50Drivers, Rt50AutoAdd, Rt50DriverCallback, nullptr, nullptr,
                                     CreateAppSystem, nullptr, &role);
    EndAppSystem();
    return status;
}
