// Is this USB device an RT-50? The one check the daemon, the backend and the
// printer application share: the USB vendor and product IDs, the product
// string, and the maker and model named by the IEEE 1284 device ID.
#pragma once

#include <libusb.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Size of the model buffer every caller keeps; a longer model name is cut.
constexpr size_t kModelSize = 128;

// Outcome of IdentifyRt50, in the order of the checks.
enum Rt50Identity {
    kIdentityRt50 = 0,           // identified; the model name was written
    kIdentityBadArgument,        // null handle or model buffer
    kIdentityOtherUsbId,         // not the RT-50's vendor and product IDs
    kIdentityOtherProduct,       // product string missing or without "Photo Printer"
    kIdentityNoDeviceId,         // the device ID request failed
    kIdentityOtherDeviceId,      // the device ID names another maker or model
};

// True for the RT-50's USB vendor and product IDs.
bool IsRt50UsbId(uint16_t vendorId, uint16_t productId);

// True when the product string names a photo printer.
bool IsRt50Product(const char* product);

// Reads an IEEE 1284 device ID (NUL-terminated): items are split at ';', an
// item containing "MANUFACTURER" and a ':' gives the maker, otherwise one
// containing "MODEL" and a ':' gives the model (the text after the item's
// first ':'; a later item replaces an earlier one). True when the maker
// contains "VANTORA" and the model "RT-50"; the model is then copied to
// `model` (`modelSize` bytes), cut to fit and terminated. On false `model`
// is left as it was.
bool ParseRt50DeviceId(const char* deviceId, char* model, size_t modelSize);

// Runs every check on an open handle (no interface claim needed) and, for an
// RT-50, writes its model name to `model`. Returns an Rt50Identity.
int IdentifyRt50(libusb_device_handle* handle, char* model, size_t modelSize = kModelSize);

// Longest firmware text PlainFirmware keeps.
constexpr size_t kPlainFirmwareSize = 32;

// The printer's firmware version text as others may be shown it: its digits,
// letters, '.' and '-' only (the printer may send anything), at most
// kPlainFirmwareSize of them; empty when none.
std::string PlainFirmware(const std::string& firmware);
