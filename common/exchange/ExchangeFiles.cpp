#include "ExchangeFiles.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantora_exchange {

namespace {

constexpr char kModel[] = "RT-50";
constexpr char kPausePrefix[] = "Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=";
constexpr char kNumberedQueuePrefix[] = "VANTORA-RT-50-";

// Leaves an empty string in `out` and returns false.
bool Refuse(char* out, size_t outSize)
{
    if (out != nullptr && outSize > 0)
        out[0] = '\0';
    return false;
}

// Formats into `out`, using at most `limit` bytes of it. False (and an empty
// string) when the text would not fit: a name is never cut.
__attribute__((format(printf, 4, 5))) bool FormatName(char* out, size_t outSize, size_t limit, const char* format,
                                                      ...)
{
    if (out == nullptr || outSize == 0)
        return false;
    const size_t room = outSize < limit ? outSize : limit;
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(out, room, format, args);
    va_end(args);
    if (length < 0 || static_cast<size_t>(length) >= room)
        return Refuse(out, outSize);
    return true;
}

bool IsNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

// The value text of a field: its first `skip` characters dropped (empty
// when it has no more), and at most the field's size read.
const char* Skip(const char* field, size_t fieldSize, size_t skip, size_t* length)
{
    const size_t whole = strnlen(field, fieldSize);
    if (whole <= skip) {
        *length = 0;
        return field;
    }
    *length = whole - skip;
    return field + skip;
}

// Appends to the status text under construction; `fits` turns false for
// good once something does not fit.
struct TextWriter {
    char* out;
    size_t size;
    size_t used = 0;
    bool fits = true;

    __attribute__((format(printf, 2, 3))) void Print(const char* format, ...)
    {
        if (!fits)
            return;
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(out + used, size - used, format, args);
        va_end(args);
        if (length < 0 || static_cast<size_t>(length) >= size - used) {
            fits = false;
            return;
        }
        used += static_cast<size_t>(length);
    }

    // key="value", with characters that would break the line written as '?'.
    void Value(const char* key, const char* value, size_t length)
    {
        Print("%s=\"", key);
        if (!fits || length >= size - used) {
            fits = false;
            return;
        }
        for (size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(value[i]);
            out[used++] = (c < 0x20 || c == 0x7f || c == '"') ? '?' : static_cast<char>(c);
        }
        out[used] = '\0';
        Print("\"\n");
    }

    void Field(const char* key, const char* field, size_t fieldSize, size_t skip = 0)
    {
        size_t length = 0;
        const char* value = Skip(field, fieldSize, skip, &length);
        Value(key, value, length);
    }
};

// The longest text: every value field full, the fixed text of 16 lines, a
// 20-character status and an 11-character count.
static_assert(sizeof(StatusFileValues::model) + 6 * 64 + 320 <= kStatusTextSize, "status text buffer too small");

}  // namespace

const char* const kStatusKeys[kStatusKeyCount] = {
    "PRINTER_STATUS", "PRINTER_MESSAGE", "PRINTER_VERSION", "PRINTER_SERIAL_NO", "MEDIA_SIZE",
    "MEDIA_CLASS",    "MEDIA_INITIAL",   "MEDIA_REMAIN",    "TOTAL_COUNT",
};

bool IsValidSerial(const char* serial)
{
    if (serial == nullptr)
        return false;
    const size_t length = strnlen(serial, kSerialMax + 1);
    if (length == 0 || length > kSerialMax)
        return false;
    if (std::strcmp(serial, ".") == 0 || std::strcmp(serial, "..") == 0)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (!IsNameCharacter(serial[i]))
            return false;
    }
    return true;
}

bool ExchangeFileName(ExchangeFile file, const char* serial, char* out, size_t outSize)
{
    if (!IsValidSerial(serial))
        return Refuse(out, outSize);
    switch (file) {
    case kStatusFile:
        return FormatName(out, outSize, kPathSize, "%s%s.log", "RT-50_", serial);
    case kWatchFile:
        return FormatName(out, outSize, kPathSize, "%s_%s_UTIL", kModel, serial);
    case kRefreshFile:
        return FormatName(out, outSize, kPathSize, "%s_%s_TC_UTIL", kModel, serial);
    case kPauseFile:
        return FormatName(out, outSize, kPauseNameSize, "%s%s", kPausePrefix, serial);
    case kNoExchangeFile:
        break;
    }
    return Refuse(out, outSize);
}

bool ExchangeFilePath(ExchangeFile file, const char* dir, const char* serial, char* out, size_t outSize)
{
    char name[kPauseNameSize];
    if (dir == nullptr || !ExchangeFileName(file, serial, name, sizeof name))
        return Refuse(out, outSize);
    return FormatName(out, outSize, kPathSize, "%s/%s", dir, name);
}

bool IsBackendMarkerName(const char* entryName)
{
    if (entryName == nullptr)
        return false;
    if (std::strncmp(entryName, kPausePrefix, sizeof kPausePrefix - 1) == 0)
        return IsValidSerial(entryName + sizeof kPausePrefix - 1);
    // Print_<id>.log
    constexpr char kStart[] = "Print_", kEnd[] = ".log";
    const size_t length = strnlen(entryName, kPathSize);
    if (length >= kPathSize || length <= sizeof kStart - 1 + sizeof kEnd - 1 ||
        std::strncmp(entryName, kStart, sizeof kStart - 1) != 0 ||
        std::strcmp(entryName + length - (sizeof kEnd - 1), kEnd) != 0)
        return false;
    char id[kPathSize];
    const size_t idLength = length - (sizeof kStart - 1) - (sizeof kEnd - 1);
    std::memcpy(id, entryName + sizeof kStart - 1, idLength);
    id[idLength] = '\0';
    return IsValidSerial(id);
}

bool JobStartFilePath(const char* dir, const char* jobId, char* out, size_t outSize)
{
    if (dir == nullptr || !IsValidSerial(jobId))
        return Refuse(out, outSize);
    return FormatName(out, outSize, kPathSize, "%s/Print_%s.log", dir, jobId);
}

bool IsModelDeviceUri(const char* uri)
{
    return uri != nullptr && std::strstr(uri, kDeviceUriPrefix) != nullptr;
}

const char* SerialInDeviceUri(const char* uri)
{
    const char* found = uri != nullptr ? std::strstr(uri, "serial=") : nullptr;
    if (found == nullptr || found[7] == '\0')
        return nullptr;
    return found + 7;
}

bool DeviceUriForSerial(const char* serial, char* out, size_t outSize)
{
    if (!IsValidSerial(serial))
        return Refuse(out, outSize);
    return FormatName(out, outSize, outSize, "%s%s", kDeviceUriPrefix, serial);
}

bool QueueName(int number, char* out, size_t outSize)
{
    if (number < 0)
        return Refuse(out, outSize);
    if (number <= 1)
        return FormatName(out, outSize, outSize, "%s", kQueueName);
    return FormatName(out, outSize, outSize, "%s-%d", kQueueName, number);
}

bool QueueDescription(int number, char* out, size_t outSize)
{
    if (number < 0)
        return Refuse(out, outSize);
    if (number <= 1)
        return FormatName(out, outSize, outSize, "%s", kQueueDescription);
    return FormatName(out, outSize, outSize, "%s %d", kQueueDescription, number);
}

int getRNumber(const char* name)
{
    if (name == nullptr || std::strstr(name, kNumberedQueuePrefix) == nullptr)
        return 0;
    // A name holding the prefix is at least as long as it.
    const char* rest = name + (sizeof kNumberedQueuePrefix - 1);
    if (strnlen(rest, 64) > 63)
        return 0;
    errno = 0;
    const long number = std::strtol(rest, nullptr, 10);
    if (errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return 0;
    return static_cast<int>(number);
}

StatusFileValues OfflineStatusValues()
{
    StatusFileValues values {};
    values.status = kOfflineStatus;
    values.totalCount = -1;
    return values;
}

int FormatStatusFile(const StatusFileValues& v, char* out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return -1;
    TextWriter text{out, outSize};
    text.Print("%s\n", "#PRINTER_INFORMATION");
    text.Field("MODEL", v.model, sizeof v.model);
    text.Print("%s=\"%05ld\"\n", kStatusKeys[0], v.status);
    text.Print("%s=\"%05d\"\n", kStatusKeys[1], GetMessage(v.status));
    text.Field(kStatusKeys[2], v.firmware, sizeof v.firmware);
    // A printer that does not answer has no serial number to show.
    if (v.status == kOfflineStatus)
        text.Value(kStatusKeys[3], "", 0);
    else
        text.Field(kStatusKeys[3], v.serial, sizeof v.serial);
    text.Print("\n%s\n", "#MEDIA_INFORMATION");
    text.Field(kStatusKeys[4], v.media, sizeof v.media, 2);
    text.Field(kStatusKeys[5], v.mediaClass, sizeof v.mediaClass);
    text.Field(kStatusKeys[6], v.mediaInitial, sizeof v.mediaInitial, 4);
    text.Field(kStatusKeys[7], v.mediaRemain, sizeof v.mediaRemain, 4);
    text.Print("\n%s\n", "#COUNTER_INFORMATION");
    if (v.totalCount >= 0)
        text.Print("%s=\"%d\"\n", kStatusKeys[8], v.totalCount);
    else
        text.Value(kStatusKeys[8], "", 0);
    text.Print("\n");
    if (!text.fits) {
        out[0] = '\0';
        return -1;
    }
    return static_cast<int>(text.used);
}

}  // namespace vantora_exchange
