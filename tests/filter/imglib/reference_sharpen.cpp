// Literal 3 x 3 sharpening: strength from the level table, weights, a copy
// of the pixels, and for every channel value the nine products summed row by
// row, truncated and clamped.
#include <cstddef>
#include <vector>

#include "reference.h"

namespace reference {

static double Strength(int level)
{
    static const int levels[21] = {-1000, -950, -900, -800, -500, -200, -100, -50, -1, 0, 1,
                                   50,    100,  650,  700,  750,  800,  850,  900, 950, 1000};
    static const double strengths[21] = {-1.0,  -0.75, -0.5625, -0.39, -0.204, -0.135, -0.124,
                                         -0.119, -0.117, 0.0,    0.126, 0.14,   0.140625, 0.365,
                                         0.412, 0.5,   0.6046,  0.8203, 1.125, 2.25,   9.0};
    for (int i = 0; i < 21; ++i) {
        if (level == levels[i])
            return strengths[i];
        if (level < levels[i])
            return strengths[i - 1] +
                   (strengths[i] - strengths[i - 1]) * (level - levels[i - 1]) / (levels[i] - levels[i - 1]);
    }
    return strengths[20];
}

void SharpenBitmap(_tagBITMAPHANDLE& bitmap, int level)
{
    const double k = Strength(level);
    const double centre = 1 + 8 * k / 9;
    const double neighbour = -k / 9;
    const int width = bitmap.width;
    const int height = bitmap.height;
    const size_t stride = static_cast<size_t>(bitmap.bytesPerRow);
    const std::vector<unsigned char> copy(bitmap.pData, bitmap.pData + stride * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        int row = y + dy;
                        int column = x + dx;
                        row = row < 0 ? 0 : row > height - 1 ? height - 1 : row;
                        column = column < 0 ? 0 : column > width - 1 ? width - 1 : column;
                        const double weight = dy == 0 && dx == 0 ? centre : neighbour;
                        sum += weight * copy[row * stride + 3 * column + c];
                    }
                }
                const int value = static_cast<int>(sum);
                bitmap.pData[y * stride + 3 * x + c] =
                    static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
}

}  // namespace reference
