// Bicubic resampling of 24-bit bitmaps (cubic convolution, a = -1) in two
// separable passes through a double-precision buffer.
#include <cmath>
#include <cstdlib>

#include "HdxImgLib.h"
#include "HdxImgLib_Internal.h"
#include "HdxImgLib_LinuxDef.h"

// Cubic convolution kernel with a = -1.
static double CubicWeight(double t)
{
    const double a = std::fabs(t);
    if (a <= 1)
        return a * a * a - 2 * a * a + 1;
    if (a <= 2)
        return -a * a * a + 5 * a * a - 8 * a + 4;
    return 0;
}

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

    size_t bufferValues = 0;
    size_t bufferBytes = 0;
    if (!hdx::MulSize(static_cast<size_t>(newWidth) * 3, static_cast<size_t>(height), &bufferValues) ||
        !hdx::MulSize(bufferValues, sizeof(double), &bufferBytes))
        return IL_ERR_MEMORY;
    double* buffer = static_cast<double*>(std::malloc(bufferBytes));
    if (buffer == nullptr)
        return IL_ERR_MEMORY;
    void* handle = nullptr;
    unsigned char* block = hdx::AllocBlock(static_cast<size_t>(newBytes), &handle);
    if (block == nullptr) {
        std::free(buffer);
        return IL_ERR_MEMORY;
    }

    // Horizontal pass: W x H bytes into W' x H doubles.
    for (int row = 0; row < height; ++row) {
        const unsigned char* in = bitmap->pData + static_cast<int64_t>(row) * bitmap->bytesPerRow;
        double* out = buffer + static_cast<size_t>(row) * newWidth * 3;
        for (int j = 0; j < newWidth; ++j) {
            const double x = static_cast<double>(width) / newWidth * j;
            const int base = static_cast<int>(x);
            double sum0 = 0, sum1 = 0, sum2 = 0;
            for (int k = base - 1; k <= base + 2; ++k) {
                const double weight = CubicWeight(k - x);
                const int column = (k < 0 || k > width - 1) ? base : k;
                sum0 += weight * in[3 * column + 0];
                sum1 += weight * in[3 * column + 1];
                sum2 += weight * in[3 * column + 2];
            }
            out[3 * j + 0] = sum0;
            out[3 * j + 1] = sum1;
            out[3 * j + 2] = sum2;
        }
    }

    // Vertical pass: W' x H doubles into W' x H' bytes.
    for (int i = 0; i < newHeight; ++i) {
        const double y = static_cast<double>(height) / newHeight * i;
        const int base = static_cast<int>(y);
        unsigned char* out = block + i * newStride;
        for (int j = 0; j < newWidth; ++j) {
            double sum0 = 0, sum1 = 0, sum2 = 0;
            for (int k = base - 1; k <= base + 2; ++k) {
                const double weight = CubicWeight(k - y);
                const int row = (k < 0 || k > height - 1) ? base : k;
                const double* in = buffer + (static_cast<size_t>(row) * newWidth + j) * 3;
                sum0 += weight * in[0];
                sum1 += weight * in[1];
                sum2 += weight * in[2];
            }
            out[3 * j + 0] = hdx::RoundChannel(sum0);
            out[3 * j + 1] = hdx::RoundChannel(sum1);
            out[3 * j + 2] = hdx::RoundChannel(sum2);
        }
        ZeroMemory(out + 3 * static_cast<int64_t>(newWidth), static_cast<size_t>(newStride - 3 * newWidth));
    }
    std::free(buffer);

    hdx::FreeOwnedBlock(bitmap);
    bitmap->hMemory = handle;
    bitmap->pData = block;
    bitmap->width = newWidth;
    bitmap->height = newHeight;
    bitmap->bytesPerRow = static_cast<int32_t>(newStride);
    bitmap->dataSize = newBytes;
    return IL_SUCCESS;
}
