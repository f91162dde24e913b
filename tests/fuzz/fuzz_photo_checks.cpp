// The checks made on a photo's bytes before any decoder sees them: its
// format (a HEIF's type with it), a JPEG's scans and a HEIF's decoded size, on a buffer of exactly
// the input's size, so that a read past it is caught.
#include "PhotoChecks.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<unsigned char> bytes(data, data + size);
    const vantora_photo::PhotoFormat format = vantora_photo::SniffPhotoFormat(bytes.data(), bytes.size());
    // A HEIF type exactly for the bytes sniffed as HEIF.
    if ((vantora_photo::HeifType(bytes.data(), bytes.size()) != nullptr) != (format == vantora_photo::PhotoFormat::Heif))
        __builtin_trap();
    const int scans = vantora_photo::CountJpegScans(bytes.data(), bytes.size(), 100);
    if (scans < 0 || scans > 101)
        __builtin_trap();   // counted past its limit
    int64_t pixels = -1;
    std::string problem;
    if (vantora_photo::HeifDecodedPixels(bytes.data(), bytes.size(), &pixels, &problem) && pixels < 0)
        __builtin_trap();
    return 0;
}
