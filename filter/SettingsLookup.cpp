#include "SettingsLookup.h"

#include "ExchangeFiles.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kTmpDir = vantora_exchange::kExchangeDir;

// Searches the open file for the first line that contains `key` and leaves
// in out the rest of that line from the key on, without any character of
// the key, double quotes and newlines. Writes out only when that text fits.
void ReadKeyFromFile(FILE* file, const char* key, char* out, int outSize)
{
    char line[256];
    const size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        char* found = keyLength > 0 ? std::strstr(line, key) : nullptr;
        if (found == nullptr)
            continue;
        char cleaned[256];
        size_t length = 0;
        for (const char* c = found; *c != '\0'; ++c) {
            if (*c == '"' || *c == '\n' || std::memchr(key, *c, keyLength) != nullptr)
                continue;
            cleaned[length++] = *c;
        }
        cleaned[length] = '\0';
        if (out != nullptr && outSize > 0 && length < static_cast<size_t>(outSize))
            std::memcpy(out, cleaned, length + 1);
        return;
    }
}

// ReadKeyFromFile on the file at `path`; nothing when it cannot be opened.
void ReadKeyFromPath(const char* path, const char* key, char* out, int outSize)
{
    FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return;
    ReadKeyFromFile(file, key, out, outSize);
    std::fclose(file);
}

}  // namespace

const char* _GetCupsValue(const char* name, int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    if (name == nullptr)
        return nullptr;
    const char* value = cupsGetOption(name, numOptions, options);
    if (value != nullptr)
        return value;
    if (std::strcmp(name, "PageSize") == 0) {
        value = cupsGetOption("media", numOptions, options);
        if (value != nullptr)
            return value;
    }
    return wrappedPpdFindDefChoice(ppd, name);
}

ppdfile_s* wrappedPpdOpenFile(const char* path)
{
    if (path == nullptr)
        return nullptr;
    ppdfile_s* ppd = static_cast<ppdfile_s*>(std::calloc(1, sizeof(ppdfile_s)));
    if (ppd == nullptr)
        return nullptr;
    ppd->file = std::fopen(path, "r");
    return ppd;
}

void wrappedPpdClose(ppdfile_s* ppd)
{
    if (ppd == nullptr)
        return;
    if (ppd->file != nullptr)
        std::fclose(ppd->file);
    std::free(ppd);
}

const char* wrappedPpdFindDefChoice(ppdfile_s* ppd, const char* keyword)
{
    if (ppd == nullptr || keyword == nullptr || ppd->file == nullptr)
        return nullptr;
    char prefix[256];
    const int prefixLength = std::snprintf(prefix, sizeof prefix, "*Default%s: ", keyword);
    if (prefixLength < 0 || prefixLength >= static_cast<int>(sizeof prefix))
        return nullptr;

    std::rewind(ppd->file);
    char line[256];
    bool atLineStart = true;
    while (std::fgets(line, sizeof line, ppd->file) != nullptr) {
        // A line longer than the buffer arrives in pieces; only the first
        // piece of a line may match the prefix.
        const bool lineStart = atLineStart;
        atLineStart = std::strchr(line, '\n') != nullptr;
        if (!lineStart || std::strncmp(line, prefix, static_cast<size_t>(prefixLength)) != 0)
            continue;
        // The first whitespace-delimited word after the prefix.
        const char* word = line + prefixLength;
        word += std::strspn(word, " \t\r\n\f\v");
        const size_t wordLength = std::strcspn(word, " \t\r\n\f\v");
        if (wordLength == 0)
            return nullptr;
        const size_t copied = wordLength < sizeof ppd->value ? wordLength : sizeof ppd->value - 1;
        std::memcpy(ppd->value, word, copied);
        ppd->value[copied] = '\0';
        return ppd->value;
    }
    return nullptr;
}

int _GetFirmwVersion(long, double* version)
{
    if (version == nullptr)
        return 3;
    *version = 1.53;
    return 0;
}

int _GetCupsDeviceURI(const char* printer, char* uri, unsigned long size)
{
    if (printer == nullptr || uri == nullptr)
        return -1;
    cups_dest_t* dests = nullptr;
    const int numDests = cupsGetDests(&dests);
    int result = -1;
    cups_dest_t* dest = cupsGetDest(printer, nullptr, numDests, dests);
    if (dest != nullptr && dest->instance == nullptr) {
        const char* deviceUri = cupsGetOption("device-uri", dest->num_options, dest->options);
        if (deviceUri != nullptr && std::strlen(deviceUri) + 1 <= size) {
            std::memcpy(uri, deviceUri, std::strlen(deviceUri) + 1);
            result = 0;
        }
    }
    cupsFreeDests(numDests, dests);
    return result;
}

int _GetValuePrinterInfoFile(const char* printer, const char* key, const char* prefix, char* out,
                             int outSize)
{
    if (key == nullptr || prefix == nullptr)
        return 0;
    char uri[256] = {};
    const int result = _GetCupsDeviceURI(printer, uri, sizeof uri);
    if (result != 0)
        return result;
    if (uri[0] == '\0')
        return 0;

    char path[vantora_exchange::kPathSize];
    int length;
    if (std::strstr(uri, "serial=") != nullptr) {
        // The serial number names a file in /tmp: only one that every
        // program accepts does.
        const char* serial = vantora_exchange::SerialInDeviceUri(uri);
        if (!vantora_exchange::IsValidSerial(serial))
            return 0;
        length = std::snprintf(path, sizeof path, "%s/%s_%s.log", kTmpDir, prefix, serial);
    } else {
        length = std::snprintf(path, sizeof path, "%s/%s.log", kTmpDir, prefix);
    }
    if (length < 0 || length >= static_cast<int>(sizeof path))
        return 0;

    ReadKeyFromPath(path, key, out, outSize);
    return 0;
}

int _GetValuePrInfoFile(const char* key, const char* name, char* out, int outSize)
{
    if (key == nullptr || name == nullptr)
        return 0;
    char path[vantora_exchange::kPathSize];
    if (!vantora_exchange::JobStartFilePath(kTmpDir, name, path, sizeof path))
        return 0;
    ReadKeyFromPath(path, key, out, outSize);
    return 0;
}
