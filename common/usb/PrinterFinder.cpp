#include "PrinterFinder.h"

#include "ExchangeFiles.h"
#include "PrinterClaim.h"
#include "PrinterIdentity.h"
#include "PrinterQueries.h"
#include "UsbTransfer.h"

namespace {

constexpr size_t kDeviceIdSize = 2048;
// A printer that answers its serial query with nothing is asked again.
constexpr int kSerialAttempts = 3;

std::string UsbSerialString(libusb_device_handle* handle)
{
    libusb_device_descriptor descriptor{};
    // One character more than a serial may have: a longer one is refused
    // whole, never cut to a valid name.
    unsigned char text[vantora_exchange::kSerialMax + 2] = {};
    if (libusb_get_device_descriptor(libusb_get_device(handle), &descriptor) != 0 ||
        descriptor.iSerialNumber == 0 ||
        libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text - 1) <= 0)
        return std::string();
    return reinterpret_cast<const char*>(text);
}

// The printer's own serial number on a claimed handle; empty when it does
// not tell.
std::string AskSerial(libusb_device_handle* handle)
{
    SoftResetPrinter(handle);
    char serial[vantora_exchange::kSerialMax + 2] = {};
    for (int attempt = 0; attempt < kSerialAttempts && serial[0] == '\0'; ++attempt)
        GetSerialNo(handle, serial, sizeof serial);
    return serial;
}

}  // namespace

int ProbePrinter(libusb_device* device, SerialSource source, FoundPrinter* printer, libusb_device_handle** handle)
{
    if (handle != nullptr)
        *handle = nullptr;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        !IsRt50UsbId(descriptor.idVendor, descriptor.idProduct))
        return kNotRt50;
    libusb_device_handle* opened = nullptr;
    int result = libusb_open(device, &opened);
    if (result != 0)
        return result;
    char model[kModelSize] = {};
    result = IdentifyRt50(opened, model, sizeof model);
    if (result != kIdentityRt50) {
        libusb_close(opened);
        return result == kIdentityNoDeviceId ? static_cast<int>(LIBUSB_ERROR_IO) : static_cast<int>(kNotRt50);
    }
    *printer = FoundPrinter();
    printer->model = model;
    std::string deviceId(kDeviceIdSize, '\0');
    if (get_device_id(opened, &deviceId[0], deviceId.size()) == 0)
        printer->deviceId = deviceId.c_str();

    bool claimed = false;
    result = 0;
    if (source == SerialSource::kAskPrinter) {
        result = ClaimPrinter(opened);
        claimed = result == 0;
        if (result == LIBUSB_ERROR_BUSY) {
            printer->busy = true;
            result = 0;
        }
    }
    if (claimed)
        printer->serial = AskSerial(opened);
    else if (result == 0)
        printer->serial = UsbSerialString(opened);
    if (handle != nullptr && claimed && !printer->serial.empty()) {
        *handle = opened;
    } else if (claimed) {
        ReleasePrinter(opened);
    } else {
        libusb_close(opened);
    }
    if (result != 0)
        return result;
    printer->serialValid = vantora_exchange::IsValidSerial(printer->serial.c_str());
    return 0;
}

std::vector<FoundPrinter> ListPrinters(libusb_context* context, SerialSource source)
{
    std::vector<FoundPrinter> printers;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        FoundPrinter printer;
        if (ProbePrinter(list[i], source, &printer, nullptr) == 0)
            printers.push_back(printer);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return printers;
}

Lookup OpenPrinterBySerial(libusb_context* context, const std::string& serial, libusb_device_handle** handle)
{
    *handle = nullptr;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    Lookup found = Lookup::kAbsent;
    for (ssize_t i = 0; i < count && found != Lookup::kOpened; ++i) {
        FoundPrinter printer;
        libusb_device_handle* opened = nullptr;
        if (ProbePrinter(list[i], SerialSource::kAskPrinter, &printer, &opened) != 0 || printer.serial != serial) {
            ReleasePrinter(opened);
            continue;
        }
        if (opened != nullptr) {
            *handle = opened;
            found = Lookup::kOpened;
        } else if (printer.busy) {
            found = Lookup::kBusy;
        }
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return found;
}
