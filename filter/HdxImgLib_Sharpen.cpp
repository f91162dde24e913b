// 3 x 3 sharpening and blurring of 24-bit bitmaps.
#include <cstdlib>

#include "HdxImgLib.h"
#include "HdxImgLib_Internal.h"
#include "HdxImgLib_LinuxDef.h"

const KTableRow KTable[kKTableRows] = {
    {-1000, -1.0},  {-950, -0.75},   {-900, -0.5625}, {-800, -0.39},  {-500, -0.204},
    {-200, -0.135}, {-100, -0.124},  {-50, -0.119},   {-1, -0.117},   {0, 0.0},
    {1, 0.126},     {50, 0.14},      {100, 0.140625}, {650, 0.365},   {700, 0.412},
    {750, 0.5},     {800, 0.6046},   {850, 0.8203},   {900, 1.125},   {950, 2.25},
    {1000, 9.0},
};

double KTableStrength(int level)
{
    if (level <= KTable[0].level)
        return KTable[0].strength;
    for (int row = 1; row < kKTableRows; ++row) {
        const KTableRow& upper = KTable[row];
        if (level == upper.level)
            return upper.strength;
        if (level < upper.level) {
            const KTableRow& lower = KTable[row - 1];
            return lower.strength +
                   (upper.strength - lower.strength) * (level - lower.level) / (upper.level - lower.level);
        }
    }
    return KTable[kKTableRows - 1].strength;
}

int IL_SharpenBitmap(_tagBITMAPHANDLE* bitmap, int level)
{
    if (bitmap == nullptr || bitmap->pData == nullptr)
        return IL_ERR_MISSING;
    if (bitmap->bitsPerPixel != 24 || bitmap->byteOrder < 0 || bitmap->byteOrder > 1 ||
        level < -1000 || level > 1000 || !hdx::HasSoundLayout(bitmap))
        return IL_ERR_ARGUMENT;

    const double k = KTableStrength(level);
    const double centre = 1 + 8 * k / 9;
    const double neighbour = -k / 9;

    const int width = bitmap->width;
    const int height = bitmap->height;
    const int64_t stride = bitmap->bytesPerRow;
    const size_t bytes = static_cast<size_t>(stride) * height;
    unsigned char* copy = static_cast<unsigned char*>(std::malloc(bytes));
    if (copy == nullptr)
        return IL_ERR_MEMORY;
    CopyMemory(copy, bitmap->pData, bytes);

    for (int y = 0; y < height; ++y) {
        unsigned char* out = bitmap->pData + y * stride;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    int row = y + dy;
                    if (row < 0)
                        row = 0;
                    if (row > height - 1)
                        row = height - 1;
                    for (int dx = -1; dx <= 1; ++dx) {
                        int column = x + dx;
                        if (column < 0)
                            column = 0;
                        if (column > width - 1)
                            column = width - 1;
                        const double weight = (dy == 0 && dx == 0) ? centre : neighbour;
                        sum += weight * copy[row * stride + 3 * column + c];
                    }
                }
                int value = static_cast<int>(sum);
                if (value < 0)
                    value = 0;
                if (value > 255)
                    value = 255;
                out[3 * x + c] = static_cast<unsigned char>(value);
            }
        }
    }
    std::free(copy);
    return IL_SUCCESS;
}
