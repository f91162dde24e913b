#include "PrinterIdentity.h"

#include "UsbTransfer.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kProductStringSize = 256;
constexpr size_t kDeviceIdSize = 2048;

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

}  // namespace

bool IsRt50UsbId(uint16_t vendorId, uint16_t productId)
{
    return vendorId == kRt50VendorId && productId == kRt50ProductId;
}

bool IsRt50Product(const char* product)
{
    return product != nullptr && std::strstr(product, "Photo Printer") != nullptr;
}

bool ParseRt50DeviceId(const char* deviceId, char* model, size_t modelSize)
{
    if (deviceId == nullptr || model == nullptr || modelSize == 0)
        return false;
    std::string_view maker, name;
    std::string_view rest(deviceId);
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        const std::string_view item = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const size_t colon = item.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (Contains(item, "MANUFACTURER"))
            maker = item.substr(colon + 1);
        else if (Contains(item, "MODEL"))
            name = item.substr(colon + 1);
    }
    if (maker.empty() || name.empty() || !Contains(maker, "VANTORA") || !Contains(name, "RT-50"))
        return false;
    const size_t length = name.size() < modelSize - 1 ? name.size() : modelSize - 1;
    std::memcpy(model, name.data(), length);
    model[length] = '\0';
    return true;
}

int IdentifyRt50(libusb_device_handle* handle, char* model, size_t modelSize)
{
    if (handle == nullptr || model == nullptr || modelSize == 0)
        return kIdentityBadArgument;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(libusb_get_device(handle), &descriptor) != 0 ||
        !IsRt50UsbId(descriptor.idVendor, descriptor.idProduct))
        return kIdentityOtherUsbId;
    unsigned char product[kProductStringSize] = {};
    if (descriptor.iProduct == 0 ||
        libusb_get_string_descriptor_ascii(handle, descriptor.iProduct, product, sizeof product) <= 0 ||
        !IsRt50Product(reinterpret_cast<const char*>(product)))
        return kIdentityOtherProduct;
    std::vector<char> deviceId(kDeviceIdSize, '\0');
    if (get_device_id(handle, deviceId.data(), deviceId.size()) != 0)
        return kIdentityNoDeviceId;
    return ParseRt50DeviceId(deviceId.data(), model, modelSize) ? kIdentityRt50 : kIdentityOtherDeviceId;
}

std::string PlainFirmware(const std::string& firmware)
{
    std::string plain;
    for (char c : firmware) {
        if (plain.size() >= kPlainFirmwareSize)
            break;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-')
            plain += c;
    }
    return plain;
}
