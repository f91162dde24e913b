// The names of the application's printers: the device URI of an RT-50
// (scheme "vantora-rt50", one per serial number), the driver's name and the
// name of the printer made for a serial number.
#pragma once

#include <cstddef>
#include <string>

// The device URI scheme of the application's printers.
inline constexpr char kRt50Scheme[] = "vantora-rt50";
// The driver name of the application's printers.
inline constexpr char kRt50DriverName[] = "vantora_rt50";

// Writes the device URI "vantora-rt50://VANTORA/RT-50?serial=<serial>" to
// `uri`. False for a serial that IsValidSerial refuses or a buffer too
// small (then `uri` holds no usable URI).
bool Rt50DeviceUri(const std::string& serial, char* uri, size_t size);

// The serial number in such a URI; empty when `uri` is null, not one, or
// its serial is not valid.
std::string SerialInRt50Uri(const char* uri);

// The name of the printer made for a serial number: "VANTORA-RT-50_<serial>".
std::string PrinterNameForSerial(const std::string& serial);
