// 3 x 3 sharpening and blurring of 24-bit bitmaps. Rows are widened to
// doubles once and kept in a ring of three, so no copy of the whole bitmap is
// needed; each channel value is summed in the same order and precision as the
// plain definition.
#include <cstdlib>

#include "HdxImgLib.h"
#include "HdxImgLib_Internal.h"
#include "HdxImgLib_LinuxDef.h"
#include "HdxImgLib_Simd.h"

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

namespace {

using hdx::v4d;
using hdx::v4si;

// Widens stored row `row` of a bitmap into doubles, with one replicated
// pixel on each side: out[3 + 3x + c] = channel c of pixel x.
void WidenRow(const _tagBITMAPHANDLE* bitmap, int row, double* out)
{
    const unsigned char* in = bitmap->pData + static_cast<int64_t>(row) * bitmap->bytesPerRow;
    const int n = 3 * bitmap->width;
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    for (int i = 0; i < n; ++i)
        out[3 + i] = in[i];
    out[3 + n] = in[n - 3];
    out[4 + n] = in[n - 2];
    out[5 + n] = in[n - 1];
}

// One output row from the widened rows above (a), at (b) and below (c):
// each channel value is the nine weighted neighbours summed row by row, left
// to right, then truncated and clamped to 0..255.
HDX_CLONES
void SharpenRow(const double* a, const double* b, const double* c, double centre, double neighbour,
                int values, unsigned char* out)
{
    const v4d zero = hdx::Splat(0);
    const v4d top = hdx::Splat(255);
    int n = 0;
    for (; n < values; n += 4) {
        v4d sum = neighbour * hdx::LoadU(a + n);
        sum += neighbour * hdx::LoadU(a + n + 3);
        sum += neighbour * hdx::LoadU(a + n + 6);
        sum += neighbour * hdx::LoadU(b + n);
        sum += centre * hdx::LoadU(b + n + 3);
        sum += neighbour * hdx::LoadU(b + n + 6);
        sum += neighbour * hdx::LoadU(c + n);
        sum += neighbour * hdx::LoadU(c + n + 3);
        sum += neighbour * hdx::LoadU(c + n + 6);
        // Truncating after clamping to 0..255 gives the same bytes as
        // clamping the truncated value.
        sum = sum < zero ? zero : sum;
        sum = sum > top ? top : sum;
        const v4si value = __builtin_convertvector(sum, v4si);
        const int lanes = values - n < 4 ? values - n : 4;
        for (int l = 0; l < lanes; ++l)
            out[n + l] = static_cast<unsigned char>(value[l]);
    }
}

}  // namespace

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

    const int height = bitmap->height;
    const int values = 3 * bitmap->width;
    // Three widened rows (the original rows above, at and below the row being
    // written), each with room for the last vector's overrun.
    const size_t rowValues = static_cast<size_t>(values) + 6 + 8;
    double* ring = hdx::AllocDoubles(rowValues * 3);
    if (ring == nullptr)
        return IL_ERR_MEMORY;
    for (size_t i = 0; i < rowValues * 3; ++i)
        ring[i] = 0;
    // Slot r % 3 holds original row r; row y + 1 is widened before row y is
    // overwritten, and row y - 1 was widened before it was.
    auto slot = [&](int row) { return ring + static_cast<size_t>(row % 3) * rowValues; };
    WidenRow(bitmap, 0, slot(0));
    for (int y = 0; y < height; ++y) {
        if (y + 1 < height)
            WidenRow(bitmap, y + 1, slot(y + 1));
        const double* above = slot(y > 0 ? y - 1 : 0);
        const double* below = slot(y + 1 < height ? y + 1 : y);
        SharpenRow(above, slot(y), below, centre, neighbour, values,
                   bitmap->pData + static_cast<int64_t>(y) * bitmap->bytesPerRow);
    }
    std::free(ring);
    return IL_SUCCESS;
}
