#include "DeviceList.h"

#include "ExchangeFiles.h"
#include "PrinterIdentity.h"
#include "PrinterRegistry.h"
#include "UsbTransfer.h"

#include <libusb.h>

int ListRt50Devices(FILE* out)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return 1;
    libusb_device** devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0 ||
            !IsRt50UsbId(descriptor.idVendor, descriptor.idProduct))
            continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(devices[i], &handle) != 0)
            continue;
        // No claim: the server may hold the printer. The serial number of
        // the USB descriptor names it, checked like any other.
        char model[kModelSize] = "";
        unsigned char serial[128] = "";
        char deviceId[1024] = "";
        char uri[256];
        if (IdentifyRt50(handle, model, sizeof model) == kIdentityRt50 && descriptor.iSerialNumber != 0 &&
            libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial, sizeof serial) > 0 &&
            Rt50DeviceUri(reinterpret_cast<const char*>(serial), uri, sizeof uri)) {
            get_device_id(handle, deviceId, sizeof deviceId);
            for (char* c = deviceId; *c != '\0'; ++c) {
                if (*c == '"' || static_cast<unsigned char>(*c) < 0x20)
                    *c = '?';
            }
            std::fprintf(out, "%s \"VANTORA RT-50 (%s)\" \"%s\"\n", uri, serial, deviceId);
        }
        libusb_close(handle);
    }
    if (count >= 0)
        libusb_free_device_list(devices, 1);
    libusb_exit(context);
    return 0;
}
