#include "PrinterClaim.h"

#include "UsbTransfer.h"

namespace {

// GET_STATUS answers at once; a printer that does not within this time is
// taken to be there but busy.
constexpr unsigned int kPresenceTimeoutMs = 2000;

}  // namespace

int ClaimPrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    int result = 0;
    const int active = libusb_kernel_driver_active(handle, kRt50Interface);
    if (active == 1)
        result = libusb_detach_kernel_driver(handle, kRt50Interface);
    else if (active != 0)
        result = active;
    if (result != 0)
        return result;
    return libusb_claim_interface(handle, kRt50Interface);
}

int OpenPrinter(libusb_device* device, libusb_device_handle** handle)
{
    *handle = nullptr;
    libusb_device_handle* opened = nullptr;
    int result = libusb_open(device, &opened);
    if (result != 0)
        return result;
    result = ClaimPrinter(opened);
    if (result != 0) {
        libusb_close(opened);
        return result;
    }
    *handle = opened;
    return 0;
}

void ReleasePrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return;
    libusb_release_interface(handle, kRt50Interface);
    libusb_close(handle);
}

int SoftResetPrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int result = libusb_control_transfer(handle, kSoftResetRequestType, kSoftResetRequest, 0, kRt50Interface,
                                               nullptr, 0, GetUsbTimeouts().deviceIdMs);
    return result < 0 ? result : 0;
}

bool PrinterGone(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return true;
    unsigned char status[2];
    return libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_STATUS, 0, 0, status, sizeof status,
                                   kPresenceTimeoutMs) == LIBUSB_ERROR_NO_DEVICE;
}
