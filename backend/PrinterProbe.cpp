#include "PrinterProbe.h"

#include "ExchangeFiles.h"
#include "PrinterIdentity.h"
#include "PrinterQueries.h"
#include "UsbTransfer.h"

#include <cstdio>
#include <vector>

namespace vantora_backend {

namespace {

constexpr size_t kDeviceIdSize = 2048;
// A printer that answers its serial query with nothing is asked again at once.
constexpr int kSerialAttempts = 3;

// Printer class request SOFT_RESET: class, interface, host to device.
constexpr uint8_t kSoftResetRequestType = 0x21;
constexpr uint8_t kSoftResetRequest = 2;
constexpr unsigned int kSoftResetTimeoutMs = 5000;

// Text from the printer inside a quoted field of a discovery line: printable
// ASCII only, and no quote or backslash that would end or escape the field.
std::string Quotable(const std::string& text)
{
    std::string safe;
    for (char c : text)
        safe.push_back(c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? c : '?');
    return safe;
}

std::string UsbSerialString(libusb_device_handle* handle)
{
    libusb_device_descriptor descriptor{};
    unsigned char text[kQueryValueSize] = {};
    if (libusb_get_device_descriptor(libusb_get_device(handle), &descriptor) != 0 ||
        descriptor.iSerialNumber == 0 ||
        libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text - 1) <= 0)
        return std::string();
    return reinterpret_cast<const char*>(text);
}

}  // namespace

int ClaimPrinter(libusb_device_handle* handle)
{
    const int active = libusb_kernel_driver_active(handle, kRt50Interface);
    if (active == 1) {
        const int detached = libusb_detach_kernel_driver(handle, kRt50Interface);
        if (detached != 0)
            return detached;
    } else if (active < 0 && active != LIBUSB_ERROR_NOT_SUPPORTED) {
        return active;
    }
    return libusb_claim_interface(handle, kRt50Interface);
}

int SoftResetPrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int result = libusb_control_transfer(handle, kSoftResetRequestType, kSoftResetRequest, 0,
                                               kRt50Interface, nullptr, 0, kSoftResetTimeoutMs);
    return result < 0 ? result : 0;
}

void ReleasePrinter(libusb_device_handle* handle)
{
    if (handle == nullptr)
        return;
    libusb_release_interface(handle, kRt50Interface);
    libusb_close(handle);
}

int ProbePrinter(libusb_device* device, ProbedPrinter* printer, libusb_device_handle** handleOut)
{
    if (handleOut != nullptr)
        *handleOut = nullptr;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        !IsRt50UsbId(descriptor.idVendor, descriptor.idProduct))
        return 1;
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result != 0)
        return result;
    char model[kModelSize] = {};
    result = IdentifyRt50(handle, model, sizeof model);
    if (result != kIdentityRt50) {
        libusb_close(handle);
        return result == kIdentityNoDeviceId ? LIBUSB_ERROR_IO : 1;
    }
    *printer = ProbedPrinter();
    printer->model = model;
    std::vector<char> deviceId(kDeviceIdSize, '\0');
    if (get_device_id(handle, deviceId.data(), deviceId.size()) == 0)
        printer->deviceId = deviceId.data();

    result = ClaimPrinter(handle);
    if (result == 0) {
        char serial[kQueryValueSize] = {};
        bool reset = false;
        for (int attempt = 0; attempt < kSerialAttempts && serial[0] == '\0'; ++attempt) {
            if (GetSerialNo(handle, serial, sizeof serial) >= 0)
                continue;
            if (reset || SoftResetPrinter(handle) != 0)
                break;
            reset = true;
        }
        printer->serial = serial;
        if (handleOut != nullptr && serial[0] != '\0') {
            *handleOut = handle;
            handle = nullptr;
        }
    } else if (result == LIBUSB_ERROR_BUSY) {
        printer->busy = true;
        printer->serial = UsbSerialString(handle);
        result = 0;
    }
    if (handle != nullptr)
        ReleasePrinter(handle);
    if (result != 0)
        return result;
    printer->serialValid = vantora_exchange::IsValidSerial(printer->serial.c_str());
    return 0;
}

std::vector<ProbedPrinter> ListPrinters(libusb_context* context)
{
    std::vector<ProbedPrinter> printers;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        ProbedPrinter printer;
        if (ProbePrinter(list[i], &printer, nullptr) == 0)
            printers.push_back(printer);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return printers;
}

std::string DiscoveryLine(const ProbedPrinter& printer)
{
    char uri[vantora_exchange::kPathSize];
    if (!printer.serialValid || !vantora_exchange::DeviceUriForSerial(printer.serial.c_str(), uri, sizeof uri))
        return std::string();
    const std::string makeModel = "VANTORA " + Quotable(printer.model);
    return std::string("direct ") + uri + " \"" + makeModel + "\" \"" + makeModel + " (serial " +
           printer.serial + ")\" \"" + Quotable(printer.deviceId) + "\" \"\"";
}

}  // namespace vantora_backend
