// Colour-space conversion between RGB and hue/chroma/lightness, and the
// saturation change built on it.
#include "HdxImgLib.h"
#include "HdxImgLib_Internal.h"

void RGBtoHSL(int r, int g, int b, double* hue, double* chroma, double* lightness)
{
    int max = r;
    if (g > max)
        max = g;
    if (b > max)
        max = b;
    int min = r;
    if (g < min)
        min = g;
    if (b < min)
        min = b;
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

// Truncates a channel value to a byte.
static unsigned char TruncChannel(double value)
{
    return static_cast<unsigned char>(static_cast<int>(value));
}

void HSLtoRGB(double hue, double chroma, double lightness,
              unsigned char* r, unsigned char* g, unsigned char* b)
{
    if (hue < 0) {
        *r = *g = *b = TruncChannel(lightness);
        return;
    }
    double half = chroma / 2;
    double low, high;
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
    double rv, gv, bv;
    if (hue < 60) {
        rv = high; gv = low + hue / 60 * d; bv = low;
    } else if (hue < 120) {
        rv = low + (120 - hue) / 60 * d; gv = high; bv = low;
    } else if (hue < 180) {
        rv = low; gv = high; bv = low + (hue - 120) / 60 * d;
    } else if (hue < 240) {
        rv = low; gv = low + (240 - hue) / 60 * d; bv = high;
    } else if (hue < 300) {
        rv = low + (hue - 240) / 60 * d; gv = low; bv = high;
    } else {
        rv = high; gv = low; bv = low + (360 - hue) / 60 * d;
    }
    *r = TruncChannel(rv);
    *g = TruncChannel(gv);
    *b = TruncChannel(bv);
}

int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE* bitmap, int level)
{
    if (bitmap == nullptr)
        return IL_ERR_NULL_RECORD;
    if (bitmap->pData == nullptr || bitmap->bitsPerPixel != 24)
        return IL_ERR_ARGUMENT;
    if (bitmap->byteOrder < 0 || bitmap->byteOrder > 1 || level < -1000 || level > 1000 ||
        !hdx::HasSoundLayout(bitmap))
        return IL_ERR_ARGUMENT;

    const int redAt = bitmap->byteOrder == 1 ? 2 : 0;
    const int blueAt = 2 - redAt;
    for (int y = 0; y < bitmap->height; ++y) {
        unsigned char* pixel = bitmap->pData + static_cast<int64_t>(y) * bitmap->bytesPerRow;
        for (int x = 0; x < bitmap->width; ++x, pixel += 3) {
            double hue, chroma, lightness;
            RGBtoHSL(pixel[redAt], pixel[1], pixel[blueAt], &hue, &chroma, &lightness);
            double adjusted = chroma * level / 1000 + chroma;
            if (adjusted < 0)
                adjusted = 0;
            if (adjusted > 255)
                adjusted = 255;
            HSLtoRGB(hue, adjusted, lightness, &pixel[redAt], &pixel[1], &pixel[blueAt]);
        }
    }
    return IL_SUCCESS;
}
