// Literal bicubic resampling: the whole horizontal pass into a double buffer,
// then the vertical pass, every weight computed where it is used.
#include <cmath>

#include "reference.h"

namespace reference {

static double Weight(double t)
{
    const double a = std::fabs(t);
    if (a <= 1)
        return a * a * a - 2 * a * a + 1;
    if (a <= 2)
        return -a * a * a + 5 * a * a - 8 * a + 4;
    return 0;
}

std::vector<unsigned char> SizeBitmap(const _tagBITMAPHANDLE& bitmap, int newWidth, int newHeight)
{
    const int width = bitmap.width;
    const int height = bitmap.height;
    std::vector<double> buffer(static_cast<size_t>(newWidth) * height * 3);
    for (int row = 0; row < height; ++row) {
        const unsigned char* in = bitmap.pData + static_cast<size_t>(row) * bitmap.bytesPerRow;
        for (int j = 0; j < newWidth; ++j) {
            const double x = static_cast<double>(width) / newWidth * j;
            const int base = static_cast<int>(x);
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = base - 1; k <= base + 2; ++k) {
                    const int column = (k < 0 || k > width - 1) ? base : k;
                    sum += Weight(k - x) * in[3 * column + c];
                }
                buffer[(static_cast<size_t>(row) * newWidth + j) * 3 + c] = sum;
            }
        }
    }
    const size_t stride = ((static_cast<size_t>(newWidth) * 24 + 31) / 32) * 4;
    std::vector<unsigned char> out(stride * newHeight, 0);
    for (int i = 0; i < newHeight; ++i) {
        const double y = static_cast<double>(height) / newHeight * i;
        const int base = static_cast<int>(y);
        for (int j = 0; j < newWidth; ++j) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = base - 1; k <= base + 2; ++k) {
                    const int row = (k < 0 || k > height - 1) ? base : k;
                    sum += Weight(k - y) * buffer[(static_cast<size_t>(row) * newWidth + j) * 3 + c];
                }
                unsigned char value;
                if (sum < 0)
                    value = 0;
                else if (sum > 255)
                    value = 255;
                else
                    value = static_cast<unsigned char>(static_cast<int>(sum + 0.5));
                out[i * stride + 3 * j + c] = value;
            }
        }
    }
    return out;
}

}  // namespace reference
