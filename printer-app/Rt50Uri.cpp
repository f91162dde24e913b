#include "Rt50Uri.h"

#include "ExchangeFiles.h"

#include <cstdio>
#include <cstring>

bool Rt50DeviceUri(const std::string& serial, char* uri, size_t size)
{
    if (uri == nullptr || size == 0 || !vantora_exchange::IsValidSerial(serial.c_str()))
        return false;
    const int length = std::snprintf(uri, size, "%s://VANTORA/RT-50?serial=%s", kRt50Scheme, serial.c_str());
    return length > 0 && static_cast<size_t>(length) < size;
}

std::string SerialInRt50Uri(const char* uri)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%s://VANTORA/RT-50?serial=", kRt50Scheme);
    if (uri == nullptr || std::strncmp(uri, prefix, std::strlen(prefix)) != 0)
        return "";
    const char* serial = uri + std::strlen(prefix);
    return vantora_exchange::IsValidSerial(serial) ? serial : "";
}

std::string PrinterNameForSerial(const std::string& serial)
{
    return std::string(vantora_exchange::kQueueName) + "_" + serial;
}
