// Literal saturation change: every pixel converted to hue, chroma and
// lightness, the chroma scaled, and converted back.
#include <cstddef>

#include "reference.h"

namespace reference {

void RGBtoHSL(int r, int g, int b, double* hue, double* chroma, double* lightness)
{
    const int max = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int min = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const double ch = max - min;
    *chroma = ch;
    *lightness = (max + min) * 0.5;
    if (max == min)
        *hue = -1;
    else if (b == min)
        *hue = 60 * (g - r) / ch + 60;
    else if (r == min)
        *hue = 60 * (b - g) / ch + 180;
    else
        *hue = 60 * (r - b) / ch + 300;
}

void HSLtoRGB(double hue, double chroma, double lightness, unsigned char* r, unsigned char* g,
              unsigned char* b)
{
    if (hue < 0) {
        *r = *g = *b = static_cast<unsigned char>(static_cast<int>(lightness));
        return;
    }
    double half = chroma / 2;
    double low;
    double high;
    if (lightness < half) {
        low = 0;
        high = 2 * lightness;
    } else {
        high = lightness + half;
        if (high > 255) {
            half = 255 - lightness;
            high = 255;
        }
        low = lightness - half;
    }
    const double d = high - low;
    double v[3];
    if (hue < 60) {
        v[0] = high, v[1] = low + hue / 60 * d, v[2] = low;
    } else if (hue < 120) {
        v[0] = low + (120 - hue) / 60 * d, v[1] = high, v[2] = low;
    } else if (hue < 180) {
        v[0] = low, v[1] = high, v[2] = low + (hue - 120) / 60 * d;
    } else if (hue < 240) {
        v[0] = low, v[1] = low + (240 - hue) / 60 * d, v[2] = high;
    } else if (hue < 300) {
        v[0] = low + (hue - 240) / 60 * d, v[1] = low, v[2] = high;
    } else {
        v[0] = high, v[1] = low, v[2] = low + (360 - hue) / 60 * d;
    }
    *r = static_cast<unsigned char>(static_cast<int>(v[0]));
    *g = static_cast<unsigned char>(static_cast<int>(v[1]));
    *b = static_cast<unsigned char>(static_cast<int>(v[2]));
}

void ChangeBitmapSaturation(_tagBITMAPHANDLE& bitmap, int level)
{
    const int redAt = bitmap.byteOrder == 1 ? 2 : 0;
    const int blueAt = 2 - redAt;
    const size_t stride = ((static_cast<size_t>(bitmap.width) * 24 + 31) / 32) * 4;
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            unsigned char* p = bitmap.pData + y * stride + 3 * x;
            double h, ch, l;
            RGBtoHSL(p[redAt], p[1], p[blueAt], &h, &ch, &l);
            double adjusted = ch * level / 1000 + ch;
            adjusted = adjusted < 0 ? 0 : adjusted > 255 ? 255 : adjusted;
            HSLtoRGB(h, adjusted, l, &p[redAt], &p[1], &p[blueAt]);
        }
    }
}

}  // namespace reference
