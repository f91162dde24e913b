#include "RequestParsers.h"

#include <cups/cups.h>

#include <cctype>
#include <cstring>
#include <strings.h>

bool ParseBasicAuthorization(const char* value, std::string* user, std::string* password)
{
    if (value == nullptr || strncasecmp(value, "Basic", 5) != 0 || !std::isspace(static_cast<unsigned char>(value[5])))
        return false;
    value += 5;
    while (std::isspace(static_cast<unsigned char>(*value)))
        ++value;
    if (std::strlen(value) > 1024)
        return false;
    char decoded[800];
    int length = static_cast<int>(sizeof decoded);
    if (httpDecode64_2(decoded, &length, value) == nullptr || length <= 0 ||
        length >= static_cast<int>(sizeof decoded))
        return false;
    decoded[length] = '\0';
    if (std::strlen(decoded) != static_cast<size_t>(length))
        return false;  // a NUL inside
    const char* colon = std::strchr(decoded, ':');
    if (colon == nullptr || colon == decoded)
        return false;
    user->assign(decoded, static_cast<size_t>(colon - decoded));
    password->assign(colon + 1);
    return true;
}

const char* SniffFormat(const unsigned char* data, size_t length)
{
    auto starts = [&](const char* magic, size_t size) { return length >= size && std::memcmp(data, magic, size) == 0; };
    if (starts("%PDF", 4))
        return "application/pdf";
    if (starts("%!", 2))
        return "application/postscript";
    if (length >= 4 && starts("\377\330\377", 3) && data[3] >= 0xe0 && data[3] <= 0xef)
        return "image/jpeg";
    if (starts("\211PNG", 4))
        return "image/png";
    if (starts("RaS2PwgR", 8))
        return "image/pwg-raster";
    if (starts("UNIRAST", 8))
        return "image/urf";
    return nullptr;
}

bool JpegDimensions(const unsigned char* data, size_t length, int* width, int* height)
{
    if (length < 4 || data[0] != 0xff || data[1] != 0xd8)
        return false;
    size_t at = 2;
    while (at + 4 <= length) {
        if (data[at] != 0xff)
            return false;
        const unsigned char marker = data[at + 1];
        if (marker == 0xff) {  // fill byte
            ++at;
            continue;
        }
        const size_t segment = (static_cast<size_t>(data[at + 2]) << 8) | data[at + 3];
        if (segment < 2)
            return false;
        // Frame headers: SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            if (at + 9 > length)
                return false;
            *height = (data[at + 5] << 8) | data[at + 6];
            *width = (data[at + 7] << 8) | data[at + 8];
            return true;
        }
        if (marker == 0xda || marker == 0xd9)  // scan data or end: no frame header before
            return false;
        at += 2 + segment;
    }
    return false;
}

int PdfInfoPageCount(const char* report, size_t length, int limit)
{
    static const char kKey[] = "Pages:";
    const size_t keyLength = sizeof kKey - 1;
    int count = 0;
    size_t line = 0;
    while (line < length) {
        const void* end = std::memchr(report + line, '\n', length - line);
        const size_t next = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - report) : length;
        if (next - line > keyLength && std::memcmp(report + line, kKey, keyLength) == 0) {
            size_t at = line + keyLength;
            while (at < next && report[at] == ' ')
                ++at;
            long value = 0;
            bool digits = false;
            while (at < next && report[at] >= '0' && report[at] <= '9' && value <= limit) {
                value = value * 10 + (report[at] - '0');
                digits = true;
                ++at;
            }
            const bool whole = at == next || (at + 1 == next && report[at] == '\r');
            count = digits && whole && value >= 1 && value <= limit ? static_cast<int>(value) : 0;
        }
        line = next + 1;
    }
    return count;
}
