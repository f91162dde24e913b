#include "PhotoPrinterIF.h"

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
