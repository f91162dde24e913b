#include "TextFields.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr int kScratchSize = 512;
}

int _TextToInt(const char* text, int count)
{
    if (text == nullptr || count < 0 || count >= kScratchSize)
        return -1;
    char scratch[kScratchSize];
    std::memcpy(scratch, text, static_cast<size_t>(count));
    scratch[count] = '\0';
    return static_cast<int>(std::strtol(scratch, nullptr, 10));
}

int _CutText(char* dst, const char* src, int count)
{
    if (dst == nullptr || src == nullptr || count < 0)
        return 0;
    std::memcpy(dst, src, static_cast<size_t>(count));
    dst[count] = '\0';
    return 0;
}

void _StoreLE2(unsigned char* p, int value)
{
    const unsigned int v = static_cast<unsigned int>(value);
    p[0] = static_cast<unsigned char>(v & 0xff);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
}

void _StoreLE4(unsigned char* p, int value)
{
    const unsigned int v = static_cast<unsigned int>(value);
    p[0] = static_cast<unsigned char>(v & 0xff);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
    p[2] = static_cast<unsigned char>((v >> 16) & 0xff);
    p[3] = static_cast<unsigned char>((v >> 24) & 0xff);
}

uint16_t _LoadLE2(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t _LoadLE4(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
