#include "PlaneBitmap.h"

#include "TextFields.h"

#include <cstring>

namespace {

// Offsets in the file.
enum {
    kFileSize = 2,
    kReserved = 6,
    kDataOffset = 10,
    kInfoSize = 14,
    kWidth = 18,
    kHeight = 22,
    kPlanes = 26,
    kBitsPerPixel = 28,
    kCompression = 30,
    kImageSize = 34,
    kXPixelsPerMetre = 38,
    kYPixelsPerMetre = 42,
    kColoursUsed = 46,
    kColoursImportant = 50,
    kPaddingOffset = kPlanePaletteOffset + 4 * kPlanePaletteEntries,  // 10 zero bytes up to the rows
    kMaxPixelsPerMetre = 1000000,
};

int PixelsPerMetre(int64_t dpi)
{
    return static_cast<int>(static_cast<double>(dpi) * 1000 / 25.4);
}

int Refuse(const char** reason, const char* why)
{
    if (reason != nullptr)
        *reason = why;
    return kProtoInvalid;
}

}  // namespace

int64_t _PlaneRowBytes(int64_t width)
{
    return (width + 3) / 4 * 4;
}

int64_t _PlaneFileSize(int64_t width, int64_t height)
{
    return kPlaneFileHeaderSize + _PlaneRowBytes(width) * height;
}

int _EncodePlaneHeader(unsigned char* file, int width, int height, int64_t xDpi, int64_t yDpi)
{
    if (file == nullptr || width < 1 || width > kPlaneMaxWidth || height < 1 || height > kPlaneMaxHeight ||
        xDpi < 1 || xDpi > kPlaneMaxDpi || yDpi < 1 || yDpi > kPlaneMaxDpi)
        return kProtoInvalid;
    const int imageSize = static_cast<int>(_PlaneRowBytes(width) * height);
    std::memset(file, 0, kPlaneFileHeaderSize);
    file[0] = 'B';
    file[1] = 'M';
    _StoreLE4(file + kFileSize, kPlaneFileHeaderSize + imageSize);
    _StoreLE4(file + kDataOffset, kPlaneFileHeaderSize);
    _StoreLE4(file + kInfoSize, kPlaneInfoHeaderSize);
    _StoreLE4(file + kWidth, width);
    _StoreLE4(file + kHeight, height);
    _StoreLE2(file + kPlanes, 1);
    _StoreLE2(file + kBitsPerPixel, 8);
    _StoreLE4(file + kImageSize, imageSize);
    _StoreLE4(file + kXPixelsPerMetre, PixelsPerMetre(xDpi));
    _StoreLE4(file + kYPixelsPerMetre, PixelsPerMetre(yDpi));
    _StoreLE4(file + kColoursUsed, kPlanePaletteEntries);
    _StoreLE4(file + kColoursImportant, kPlanePaletteEntries);
    for (int i = 0; i < kPlanePaletteEntries; ++i) {
        unsigned char* entry = file + kPlanePaletteOffset + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<unsigned char>(i);
    }
    return kProtoOk;
}

int _DecodePlaneBitmap(const unsigned char* file, size_t size, PlaneBitmapView* plane, const char** reason)
{
    if (file == nullptr || plane == nullptr || size < kPlaneFileHeaderSize)
        return Refuse(reason, "plane bitmap shorter than its headers");
    if (file[0] != 'B' || file[1] != 'M')
        return Refuse(reason, "plane bitmap does not start with BM");
    if (_LoadLE4(file + kFileSize) != size)
        return Refuse(reason, "plane bitmap file size field differs from the payload length");
    if (_LoadLE4(file + kReserved) != 0 || _LoadLE4(file + kDataOffset) != kPlaneFileHeaderSize ||
        _LoadLE4(file + kInfoSize) != kPlaneInfoHeaderSize)
        return Refuse(reason, "plane bitmap headers are not laid out as 14 + 40 bytes, palette, rows at 1088");
    if (_LoadLE2(file + kPlanes) != 1 || _LoadLE2(file + kBitsPerPixel) != 8 || _LoadLE4(file + kCompression) != 0)
        return Refuse(reason, "plane bitmap is not an uncompressed 8-bit bitmap");

    const uint32_t width = _LoadLE4(file + kWidth);
    const uint32_t height = _LoadLE4(file + kHeight);
    if (width < 1 || width > kPlaneMaxWidth || height < 1 || height > kPlaneMaxHeight)
        return Refuse(reason, "plane bitmap size out of range");
    const uint64_t imageSize = static_cast<uint64_t>(_PlaneRowBytes(width)) * height;
    if (_LoadLE4(file + kImageSize) != imageSize || size - kPlaneFileHeaderSize != imageSize)
        return Refuse(reason, "plane bitmap pixel area does not match its width and height");

    const uint32_t xPixelsPerMetre = _LoadLE4(file + kXPixelsPerMetre);
    const uint32_t yPixelsPerMetre = _LoadLE4(file + kYPixelsPerMetre);
    if (xPixelsPerMetre < 1 || xPixelsPerMetre > kMaxPixelsPerMetre || yPixelsPerMetre < 1 ||
        yPixelsPerMetre > kMaxPixelsPerMetre)
        return Refuse(reason, "plane bitmap resolution out of range");
    if (_LoadLE4(file + kColoursUsed) != kPlanePaletteEntries ||
        _LoadLE4(file + kColoursImportant) != kPlanePaletteEntries)
        return Refuse(reason, "plane bitmap does not use 256 colours");
    for (int i = 0; i < kPlanePaletteEntries; ++i) {
        const unsigned char* entry = file + kPlanePaletteOffset + 4 * i;
        if (entry[0] != i || entry[1] != i || entry[2] != i || entry[3] != 0)
            return Refuse(reason, "plane bitmap palette is not the grey ramp");
    }
    for (size_t i = kPaddingOffset; i < kPlaneFileHeaderSize; ++i) {
        if (file[i] != 0)
            return Refuse(reason, "plane bitmap padding before the rows is not zero");
    }

    plane->width = static_cast<int>(width);
    plane->height = static_cast<int>(height);
    plane->rowBytes = static_cast<int>(_PlaneRowBytes(width));
    plane->xPixelsPerMetre = static_cast<int>(xPixelsPerMetre);
    plane->yPixelsPerMetre = static_cast<int>(yPixelsPerMetre);
    plane->rows = file + kPlaneFileHeaderSize;
    return kProtoOk;
}
