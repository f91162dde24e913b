// Bitmap records, plane separation and merge, palette colour tables and
// copying. The pixel-heavy operations (resampling, saturation, sharpening)
// live in their own files.
#include "HdxImgLib.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <initializer_list>

#include "HdxImgLib_Internal.h"
#include "HdxImgLib_LinuxDef.h"

namespace hdx {

int64_t RowStride(int64_t width, int64_t bits)
{
    if (width <= 0 || bits <= 0)
        return -1;
    const int64_t stride = ((width * bits + 31) / 32) * 4;
    return stride > INT32_MAX ? -1 : stride;
}

bool HasSoundLayout(const _tagBITMAPHANDLE* bitmap)
{
    if (bitmap->pData == nullptr || bitmap->height <= 0)
        return false;
    const int64_t stride = RowStride(bitmap->width, bitmap->bitsPerPixel);
    return stride > 0 && bitmap->bytesPerRow == stride &&
           bitmap->dataSize >= stride * bitmap->height;
}

bool MulSize(size_t a, size_t b, size_t* product)
{
    return !__builtin_mul_overflow(a, b, product);
}

unsigned char* AllocBlock(size_t size, void** handle)
{
    *handle = GlobalAlloc(GMEM_MOVEABLE, size);
    if (*handle == nullptr)
        return nullptr;
    return static_cast<unsigned char*>(GlobalLock(*handle));
}

void FreeOwnedBlock(_tagBITMAPHANDLE* bitmap)
{
    if (bitmap->hMemory != nullptr) {
        GlobalUnlock(bitmap->hMemory);
        GlobalFree(bitmap->hMemory);
    }
}

}  // namespace hdx

using hdx::HasSoundLayout;
using hdx::RowStride;

int IL_CreateBitmap(_tagBITMAPHANDLE* bitmap, unsigned int structSize, int kind,
                    int width, int height, int bitsPerPixel, int byteOrder,
                    unsigned char* palette, int alignment, unsigned char* data,
                    int64_t dataSize)
{
    if (bitmap == nullptr)
        return IL_ERR_ARGUMENT;
    if (structSize != kBitmapStructSize)
        return IL_ERR_STRUCT_SIZE;
    // Negative sizes are refused like zero ones: they describe no pixels.
    if (kind != kBitmapKind || width <= 0 || height <= 0)
        return IL_ERR_ARGUMENT;

    int storedOrder = 0;
    if (bitsPerPixel > 48)
        return bitsPerPixel == 64 ? IL_ERR_DEPTH_48_64 : IL_ERR_DEPTH;
    switch (bitsPerPixel) {
    case 1:
    case 16:
    case 32:
        return IL_ERR_ARGUMENT;
    case 8:
        if (byteOrder != 2 || palette == nullptr)
            return IL_ERR_ARGUMENT;
        break;
    case 24:
        if (palette != nullptr)
            return IL_ERR_DEPTH;
        if (byteOrder < 0 || byteOrder > 2)
            return IL_ERR_ARGUMENT;
        storedOrder = byteOrder == 2 ? 1 : byteOrder;
        break;
    case 48:
        return IL_ERR_DEPTH_48_64;
    default:
        return IL_ERR_DEPTH;
    }
    if (alignment != 4 || data == nullptr)
        return IL_ERR_ARGUMENT;

    // Computed in 64 bits: a stride or block size beyond the record's fields
    // is refused, never wrapped.
    const int64_t stride = RowStride(width, bitsPerPixel);
    if (stride < 0 || dataSize != stride * height)
        return IL_ERR_ARGUMENT;

    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = bitsPerPixel;
    bitmap->bytesPerRow = static_cast<int32_t>(stride);
    bitmap->pData = data;
    bitmap->hMemory = nullptr;
    bitmap->paletteCount = bitsPerPixel == 8 ? 256 : 0;
    bitmap->pPalette = palette;
    bitmap->dataSize = dataSize;
    bitmap->byteOrder = bitsPerPixel == 8 ? 0 : storedOrder;
    bitmap->alignment = 4;
    return IL_SUCCESS;
}

int IL_FreeBitmap(_tagBITMAPHANDLE* bitmap)
{
    if (bitmap == nullptr)
        return IL_SUCCESS;
    hdx::FreeOwnedBlock(bitmap);
    bitmap->hMemory = nullptr;
    bitmap->pData = nullptr;
    bitmap->pPalette = nullptr;
    return IL_SUCCESS;
}

int IL_ColorSeparateBitmap(_tagBITMAPHANDLE* source, _tagBITMAPHANDLE* planes[3],
                           unsigned int structSize, unsigned int flags)
{
    if (source == nullptr)
        return IL_ERR_ARGUMENT;
    if (structSize != kBitmapStructSize)
        return IL_ERR_STRUCT_SIZE;
    if (source->pData == nullptr || source->bitsPerPixel != 24 || source->byteOrder < 0 ||
        source->byteOrder > 1 || planes == nullptr || planes[0] == nullptr ||
        planes[1] == nullptr || planes[2] == nullptr || flags != 0)
        return IL_ERR_ARGUMENT;
    if (!HasSoundLayout(source))
        return IL_ERR_ARGUMENT;

    const int width = source->width;
    const int height = source->height;
    const int64_t planeStride = RowStride(width, 8);
    const int64_t planeBytes = planeStride * height;
    const size_t blockSize = static_cast<size_t>(planeBytes) + 1024;

    void* handles[3] = {nullptr, nullptr, nullptr};
    unsigned char* blocks[3] = {nullptr, nullptr, nullptr};
    for (int k = 0; k < 3; ++k) {
        blocks[k] = hdx::AllocBlock(blockSize, &handles[k]);
        if (blocks[k] == nullptr) {
            for (int m = 0; m < k; ++m)
                GlobalFree(handles[m]);
            return IL_ERR_MEMORY;
        }
    }

    // Plane k takes byte k of each pixel with byte order 1, byte 2 - k with 0;
    // one pass over the source fills all three planes.
    const int first = source->byteOrder == 1 ? 0 : 2;
    const int last = 2 - first;
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = source->pData + static_cast<int64_t>(y) * source->bytesPerRow;
        unsigned char* out0 = blocks[0] + y * planeStride;
        unsigned char* out1 = blocks[1] + y * planeStride;
        unsigned char* out2 = blocks[2] + y * planeStride;
        for (int x = 0; x < width; ++x, in += 3) {
            out0[x] = in[first];
            out1[x] = in[1];
            out2[x] = in[last];
        }
        for (unsigned char* out : {out0, out1, out2})
            ZeroMemory(out + width, static_cast<size_t>(planeStride - width));
    }

    for (int k = 0; k < 3; ++k) {
        unsigned char* palette = blocks[k] + planeBytes;
        for (int j = 0; j < 256; ++j) {
            palette[4 * j + 0] = static_cast<unsigned char>(j);
            palette[4 * j + 1] = static_cast<unsigned char>(j);
            palette[4 * j + 2] = static_cast<unsigned char>(j);
            palette[4 * j + 3] = 0;
        }
        _tagBITMAPHANDLE* plane = planes[k];
        plane->hMemory = handles[k];
        plane->pData = blocks[k];
        plane->width = width;
        plane->height = height;
        plane->bitsPerPixel = 8;
        plane->bytesPerRow = static_cast<int32_t>(planeStride);
        plane->paletteCount = 256;
        plane->pPalette = palette;
        plane->alignment = source->alignment;
        plane->byteOrder = 0;
        plane->dataSize = planeBytes;
    }
    return IL_SUCCESS;
}

// Whether a plane can be merged: 8 bits, a full palette, byte order 0 and a
// consistent pixel block.
static bool IsMergeablePlane(const _tagBITMAPHANDLE* plane)
{
    return plane->bitsPerPixel == 8 && plane->paletteCount == 256 && plane->pPalette != nullptr &&
           plane->byteOrder == 0 && HasSoundLayout(plane);
}

int IL_ColorMergeBitmap(_tagBITMAPHANDLE* target, _tagBITMAPHANDLE* planes[3],
                        unsigned int structSize, unsigned int flags)
{
    if (target == nullptr)
        return IL_ERR_ARGUMENT;
    if (structSize != kBitmapStructSize)
        return IL_ERR_STRUCT_SIZE;
    if (planes == nullptr)
        return IL_ERR_ARGUMENT;
    for (int k = 0; k < 3; ++k) {
        if (planes[k] == nullptr || planes[k]->pData == nullptr)
            return IL_ERR_MISSING;
    }
    if (flags != 0)
        return IL_ERR_ARGUMENT;
    const _tagBITMAPHANDLE* p0 = planes[0];
    for (int k = 0; k < 3; ++k) {
        const _tagBITMAPHANDLE* p = planes[k];
        if (!IsMergeablePlane(p) || p->height != p0->height || p->width != p0->width ||
            p->bytesPerRow != p0->bytesPerRow || p->alignment != p0->alignment ||
            p->dataSize != p0->dataSize)
            return IL_ERR_ARGUMENT;
    }

    const int width = p0->width;
    const int height = p0->height;
    const int64_t stride = RowStride(width, 24);
    if (stride < 0)
        return IL_ERR_ARGUMENT;
    const int64_t blockBytes = stride * height;

    void* handle = nullptr;
    unsigned char* block = hdx::AllocBlock(static_cast<size_t>(blockBytes), &handle);
    if (block == nullptr)
        return IL_ERR_MEMORY;

    // Byte k of plane k's palette entries, as three compact tables.
    unsigned char table0[256], table1[256], table2[256];
    for (int v = 0; v < 256; ++v) {
        table0[v] = planes[0]->pPalette[4 * v + 0];
        table1[v] = planes[1]->pPalette[4 * v + 1];
        table2[v] = planes[2]->pPalette[4 * v + 2];
    }
    for (int y = 0; y < height; ++y) {
        const int64_t planeOffset = static_cast<int64_t>(y) * p0->bytesPerRow;
        const unsigned char* in0 = planes[0]->pData + planeOffset;
        const unsigned char* in1 = planes[1]->pData + planeOffset;
        const unsigned char* in2 = planes[2]->pData + planeOffset;
        unsigned char* out = block + y * stride;
        for (int x = 0; x < width; ++x) {
            out[3 * x + 0] = table0[in0[x]];
            out[3 * x + 1] = table1[in1[x]];
            out[3 * x + 2] = table2[in2[x]];
        }
        ZeroMemory(out + 3 * static_cast<int64_t>(width), static_cast<size_t>(stride - 3 * width));
    }

    // The target's previous block, if it owned one, is no longer reachable.
    hdx::FreeOwnedBlock(target);
    target->hMemory = handle;
    target->pData = block;
    target->width = width;
    target->height = height;
    target->bitsPerPixel = 24;
    target->bytesPerRow = static_cast<int32_t>(stride);
    target->paletteCount = 0;
    target->pPalette = nullptr;
    target->alignment = p0->alignment;
    target->byteOrder = 1;
    target->dataSize = blockBytes;
    return IL_SUCCESS;
}

// Whether a plane's palette can be rewritten: pixels, 8 bits, a palette.
static bool HasPalette(const _tagBITMAPHANDLE* plane)
{
    return plane->pData != nullptr && plane->bitsPerPixel == 8 && plane->pPalette != nullptr;
}

// Applies a table to bytes 0..2 of the first `entries` palette entries.
static void ApplyPaletteTable(_tagBITMAPHANDLE* plane, const unsigned char table[256], int entries)
{
    unsigned char* entry = plane->pPalette;
    for (int e = 0; e < entries; ++e, entry += 4) {
        entry[0] = table[entry[0]];
        entry[1] = table[entry[1]];
        entry[2] = table[entry[2]];
    }
}

// Clamps an integer to a byte.
static unsigned char ClampByte(int64_t value)
{
    return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
}

int ConvertLUT8(_tagBITMAPHANDLE* plane, const unsigned char table[256])
{
    if (plane == nullptr || table == nullptr || !HasPalette(plane) || plane->paletteCount < 0)
        return IL_ERR_ARGUMENT;
    ApplyPaletteTable(plane, table, plane->paletteCount > 256 ? 256 : plane->paletteCount);
    return IL_SUCCESS;
}

int IL_GammaCorrectBitmap(_tagBITMAPHANDLE* plane, unsigned int gamma)
{
    if (plane == nullptr)
        return IL_ERR_NULL_RECORD;
    if (!HasPalette(plane) || plane->paletteCount != 256 || gamma == 0)
        return IL_ERR_ARGUMENT;
    unsigned char table[256];
    for (int i = 0; i < 256; ++i) {
        const double value = std::pow(i / 255.0, 100.0 / gamma) * 255 + 0.5;
        table[i] = ClampByte(static_cast<int64_t>(value));
    }
    ApplyPaletteTable(plane, table, 256);
    return IL_SUCCESS;
}

int IL_ChangeBitmapIntensity(_tagBITMAPHANDLE* plane, int level)
{
    if (plane == nullptr)
        return IL_ERR_NULL_RECORD;
    if (!HasPalette(plane) || plane->paletteCount != 256 || level < -1000 || level > 1000)
        return IL_ERR_ARGUMENT;
    double s = level * 0.2545 + 0.4286;
    const int offset = level < 0 ? static_cast<int>(s - 0.5) : static_cast<int>(s + 0.5);
    unsigned char table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = ClampByte(i + offset);
    ApplyPaletteTable(plane, table, 256);
    return IL_SUCCESS;
}

int IL_ChangeBitmapContrast(_tagBITMAPHANDLE* plane, int level)
{
    if (plane == nullptr)
        return IL_ERR_NULL_RECORD;
    if (!HasPalette(plane) || plane->paletteCount < 0 || level < -1000 || level > 1000)
        return IL_ERR_ARGUMENT;
    const double factor = std::exp(level * 0.0007);
    unsigned char table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = ClampByte(static_cast<int64_t>((i - 64) * factor) + 64);
    // A palette block never holds more than 256 entries.
    ApplyPaletteTable(plane, table, plane->paletteCount > 256 ? 256 : plane->paletteCount);
    return IL_SUCCESS;
}

int IL_CopyBitmapData(_tagBITMAPHANDLE* target, const _tagBITMAPHANDLE* source)
{
    if (target == nullptr || source == nullptr)
        return IL_ERR_MISSING;
    if (target->bitsPerPixel != 24 || source->bitsPerPixel != 24 || !HasSoundLayout(target) ||
        !HasSoundLayout(source))
        return IL_ERR_ARGUMENT;

    if (target->pPalette != nullptr && source->pPalette != nullptr && target->paletteCount > 0 &&
        source->paletteCount > 0 && target->pPalette != source->pPalette) {
        const int entries = std::min(std::min(target->paletteCount, source->paletteCount), 256);
        CopyMemory(target->pPalette, source->pPalette, static_cast<size_t>(entries) * 4);
    }

    if (target->pData == source->pData)
        return IL_SUCCESS;
    if (target->width == source->width && target->height == source->height) {
        CopyMemory(target->pData, source->pData,
                   static_cast<size_t>(source->bytesPerRow) * source->height);
        return IL_SUCCESS;
    }
    // Rows are stored bottom-up: the top rows are the last stored ones.
    const int rows = std::min(target->height, source->height);
    const size_t rowBytes = static_cast<size_t>(std::min(target->width, source->width)) * 3;
    for (int r = 1; r <= rows; ++r) {
        const int64_t from = static_cast<int64_t>(source->height - r) * source->bytesPerRow;
        const int64_t to = static_cast<int64_t>(target->height - r) * target->bytesPerRow;
        CopyMemory(target->pData + to, source->pData + from, rowBytes);
    }
    return IL_SUCCESS;
}
