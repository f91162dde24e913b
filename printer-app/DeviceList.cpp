#include "DeviceList.h"

#include "PrinterFinder.h"
#include "PrinterRegistry.h"

#include <libusb.h>

int ListRt50Devices(FILE* out)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return 1;
    // No claim: the server may hold the printer. The serial number of the
    // USB descriptor names it, checked like any other.
    for (FoundPrinter& printer : ListPrinters(context, SerialSource::kUsbString)) {
        char uri[256];
        if (!printer.serialValid || !Rt50DeviceUri(printer.serial, uri, sizeof uri))
            continue;
        for (char& c : printer.deviceId) {
            if (c == '"' || static_cast<unsigned char>(c) < 0x20)
                c = '?';
        }
        std::fprintf(out, "%s \"VANTORA RT-50 (%s)\" \"%s\"\n", uri, printer.serial.c_str(), printer.deviceId.c_str());
    }
    libusb_exit(context);
    return 0;
}
