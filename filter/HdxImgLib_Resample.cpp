// Bicubic resampling of 24-bit bitmaps (cubic convolution, a = -1) in two
// separable passes. The horizontal pass of a source row is computed once,
// when the vertical pass first needs it, into a ring of four rows; the tap
// positions and weights of every output column and row are computed once.
// Every sum is formed in the same order and precision as the plain
// definition, so the bytes are those of a full intermediate buffer.
#include <cmath>
#include <cstdlib>

#include "HdxImgLib.h"
#include "HdxImgLib_Internal.h"
#include "HdxImgLib_LinuxDef.h"
#include "HdxImgLib_Simd.h"

namespace {

using hdx::v4d;
using hdx::v4si;

// Cubic convolution kernel with a = -1.
double CubicWeight(double t)
{
    const double a = std::fabs(t);
    if (a <= 1)
        return a * a * a - 2 * a * a + 1;
    if (a <= 2)
        return -a * a * a + 5 * a * a - 8 * a + 4;
    return 0;
}

// The four taps of one output position: source indices (outside taps
// replaced by the position's own index) and their weights.
struct Taps {
    int index[4];
    double weight[4];
};

// Taps of output positions 0..to-1 over a source of `from` positions:
// position p samples (from / to) * p with no half-pixel offset.
void PlanTaps(int from, int to, Taps* taps)
{
    for (int p = 0; p < to; ++p) {
        const double x = static_cast<double>(from) / to * p;
        int base = static_cast<int>(x);
        if (base > from - 1)
            base = from - 1;  // cannot happen for p < to; kept for safety
        for (int t = 0; t < 4; ++t) {
            const int k = static_cast<int>(x) - 1 + t;
            taps[p].weight[t] = CubicWeight(k - x);
            taps[p].index[t] = (k < 0 || k > from - 1) ? base : k;
        }
    }
}

// Horizontal pass of one source row: `in` (3 bytes per pixel) widened into
// `pixels` (4 doubles per pixel), then each output column's four taps summed
// into `out` (4 doubles per output pixel, the fourth unused).
HDX_CLONES
void HorizontalRow(const unsigned char* in, int width, double* pixels, const Taps* taps, int newWidth,
                   double* out)
{
    for (int x = 0; x < width; ++x) {
        pixels[4 * x + 0] = in[3 * x + 0];
        pixels[4 * x + 1] = in[3 * x + 1];
        pixels[4 * x + 2] = in[3 * x + 2];
        pixels[4 * x + 3] = 0;
    }
    const v4d* px = reinterpret_cast<const v4d*>(pixels);
    v4d* o = reinterpret_cast<v4d*>(out);
    for (int j = 0; j < newWidth; ++j) {
        const Taps& t = taps[j];
        v4d sum = t.weight[0] * px[t.index[0]];
        sum += t.weight[1] * px[t.index[1]];
        sum += t.weight[2] * px[t.index[2]];
        sum += t.weight[3] * px[t.index[3]];
        o[j] = sum;
    }
}

// Vertical pass of one output row from four horizontal rows, rounded to bytes.
HDX_CLONES
void VerticalRow(const double* const rows[4], const double weight[4], int newWidth, unsigned char* out)
{
    const v4d* r0 = reinterpret_cast<const v4d*>(rows[0]);
    const v4d* r1 = reinterpret_cast<const v4d*>(rows[1]);
    const v4d* r2 = reinterpret_cast<const v4d*>(rows[2]);
    const v4d* r3 = reinterpret_cast<const v4d*>(rows[3]);
    const v4d zero = hdx::Splat(0);
    const v4d top = hdx::Splat(255);
    const v4d half = hdx::Splat(0.5);
    for (int j = 0; j < newWidth; ++j) {
        v4d sum = weight[0] * r0[j];
        sum += weight[1] * r1[j];
        sum += weight[2] * r2[j];
        sum += weight[3] * r3[j];
        // Below 0 gives 0, above 255 gives 255, otherwise trunc(value + 0.5):
        // clamping first gives the same bytes.
        sum = sum < zero ? zero : sum;
        sum = sum > top ? top : sum;
        const v4si value = __builtin_convertvector(sum + half, v4si);
        out[3 * j + 0] = static_cast<unsigned char>(value[0]);
        out[3 * j + 1] = static_cast<unsigned char>(value[1]);
        out[3 * j + 2] = static_cast<unsigned char>(value[2]);
    }
}

}  // namespace

int IL_SizeBitmap(_tagBITMAPHANDLE* bitmap, int newWidth, int newHeight, int alignment)
{
    // A target of no rows or no columns would have nothing to write into.
    if (bitmap == nullptr || bitmap->pData == nullptr || bitmap->bitsPerPixel != 24 ||
        bitmap->byteOrder < 0 || bitmap->byteOrder > 1 || newWidth <= 0 || newHeight <= 0 ||
        alignment != 4 || !hdx::HasSoundLayout(bitmap))
        return IL_ERR_ARGUMENT;

    const int width = bitmap->width;
    const int height = bitmap->height;
    const int64_t newStride = hdx::RowStride(newWidth, 24);
    if (newStride < 0)
        return IL_ERR_ARGUMENT;
    const int64_t newBytes = newStride * newHeight;

    // Scratch: column and row taps, one widened source row, four horizontal rows.
    size_t tapBytes = 0;
    size_t ringValues = 0;
    if (!hdx::MulSize(static_cast<size_t>(newWidth) + newHeight, sizeof(Taps), &tapBytes) ||
        !hdx::MulSize(static_cast<size_t>(newWidth), 16, &ringValues))
        return IL_ERR_MEMORY;
    Taps* columnTaps = static_cast<Taps*>(std::malloc(tapBytes));
    double* pixels = hdx::AllocDoubles(static_cast<size_t>(width) * 4);
    double* ring = hdx::AllocDoubles(ringValues);
    void* handle = nullptr;
    unsigned char* block = nullptr;
    if (columnTaps != nullptr && pixels != nullptr && ring != nullptr)
        block = hdx::AllocBlock(static_cast<size_t>(newBytes), &handle);
    if (block == nullptr) {
        std::free(columnTaps);
        std::free(pixels);
        std::free(ring);
        return IL_ERR_MEMORY;
    }
    Taps* rowTaps = columnTaps + newWidth;
    PlanTaps(width, newWidth, columnTaps);
    PlanTaps(height, newHeight, rowTaps);

    // Slot r % 4 holds the horizontal pass of source row r: the four rows an
    // output row needs are consecutive, and a row is only replaced once no
    // later output row can need it.
    int slotRow[4] = {-1, -1, -1, -1};
    for (int i = 0; i < newHeight; ++i) {
        const Taps& t = rowTaps[i];
        const double* rows[4];
        for (int k = 0; k < 4; ++k) {
            const int row = t.index[k];
            double* slot = ring + static_cast<size_t>(row & 3) * newWidth * 4;
            if (slotRow[row & 3] != row) {
                HorizontalRow(bitmap->pData + static_cast<int64_t>(row) * bitmap->bytesPerRow, width,
                              pixels, columnTaps, newWidth, slot);
                slotRow[row & 3] = row;
            }
            rows[k] = slot;
        }
        unsigned char* out = block + i * newStride;
        VerticalRow(rows, t.weight, newWidth, out);
        ZeroMemory(out + 3 * static_cast<int64_t>(newWidth), static_cast<size_t>(newStride - 3 * newWidth));
    }
    std::free(columnTaps);
    std::free(pixels);
    std::free(ring);

    hdx::FreeOwnedBlock(bitmap);
    bitmap->hMemory = handle;
    bitmap->pData = block;
    bitmap->width = newWidth;
    bitmap->height = newHeight;
    bitmap->bytesPerRow = static_cast<int32_t>(newStride);
    bitmap->dataSize = newBytes;
    return IL_SUCCESS;
}
