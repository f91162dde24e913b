// Colour-space conversion between RGB and hue/chroma/lightness, and the
// saturation change built on it (four pixels at a time, with the same
// arithmetic as the scalar conversions).
#include "HdxImgLib.h"

#include <cstring>
#include "HdxImgLib_Internal.h"
#include "HdxImgLib_Simd.h"

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

namespace {

using hdx::v4d;
using hdx::v4si;
typedef long long v4di __attribute__((vector_size(32)));

// Byte shuffles that gather one channel of four packed pixels into the low
// byte of four 32-bit lanes (index 16 takes a zero), and scatter them back.
typedef unsigned char v16qu __attribute__((vector_size(16)));
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lanes are read as little-endian bytes");
constexpr unsigned char Z = 16;

// Byte i of the result is byte mask[i] of a (0..15) or of b (16..31).
__attribute__((always_inline)) inline v16qu Shuffle(v16qu a, v16qu b, v16qu mask)
{
#if defined(__clang__)
    v16qu out;
    for (int i = 0; i < 16; ++i)
        out[i] = mask[i] < 16 ? a[mask[i]] : b[mask[i] - 16];
    return out;
#else
    return __builtin_shuffle(a, b, mask);
#endif
}

template <int At>
constexpr v16qu GatherMask()
{
    return v16qu{At, Z, Z, Z, 3 + At, Z, Z, Z, 6 + At, Z, Z, Z, 9 + At, Z, Z, Z};
}

// Saturation change of one row (red at byte RedAt of each pixel), four
// pixels at once: RGBtoHSL, the chroma scaled and clamped, HSLtoRGB, with
// every branch of the scalar functions turned into a lane-wise choice between
// values computed by the same operations in the same order, so each lane's
// bytes are those of the scalar functions.
template <int RedAt>
HDX_CLONES
void SaturateRow(unsigned char* row, int width, int64_t readable, double level)
{
    constexpr int BlueAt = 2 - RedAt;
    // Red (from the first operand) and green (from the second) into their
    // packed positions, then blue from the second operand of the next shuffle.
    constexpr int R = RedAt, B = BlueAt;
    const v16qu redGreen = {
        R == 0 ? 0 : Z,  16, R == 2 ? 0 : Z,  R == 0 ? 4 : Z,  20, R == 2 ? 4 : Z,
        R == 0 ? 8 : Z,  24, R == 2 ? 8 : Z,  R == 0 ? 12 : Z, 28, R == 2 ? 12 : Z,
        Z, Z, Z, Z};
    const v16qu withBlue = {
        B == 0 ? 16 : 0, 1, B == 2 ? 16 : 2,  B == 0 ? 20 : 3,  4, B == 2 ? 20 : 5,
        B == 0 ? 24 : 6, 7, B == 2 ? 24 : 8,  B == 0 ? 28 : 9,  10, B == 2 ? 28 : 11,
        12, 13, 14, 15};
    const v16qu none = {};
    const v4d zero = hdx::Splat(0);
    const v4d one = hdx::Splat(1);
    const v4d top = hdx::Splat(255);
    for (int x = 0; x < width; x += 4) {
        const int lanes = width - x < 4 ? width - x : 4;
        // Four pixels in one 16-byte load where the block has the bytes
        // (the last four are not used); byte by byte at the very end.
        v16qu packed = {};
        if (3 * static_cast<int64_t>(x) + 16 <= readable)
            std::memcpy(&packed, row + 3 * x, 16);
        else
            std::memcpy(&packed, row + 3 * x, static_cast<size_t>(3 * lanes));
        const v4d r = __builtin_convertvector(
            reinterpret_cast<v4si>(Shuffle(packed, none, GatherMask<RedAt>())), v4d);
        const v4d g = __builtin_convertvector(
            reinterpret_cast<v4si>(Shuffle(packed, none, GatherMask<1>())), v4d);
        const v4d b = __builtin_convertvector(
            reinterpret_cast<v4si>(Shuffle(packed, none, GatherMask<BlueAt>())), v4d);
        // RGBtoHSL.
        v4d max = g > r ? g : r;
        max = b > max ? b : max;
        v4d min = g < r ? g : r;
        min = b < min ? b : min;
        const v4d chroma = max - min;
        const v4d lightness = (max + min) * 0.5;
        const v4di grey = max == min;
        const v4di blueMin = b == min;
        const v4di redMin = r == min;
        const v4d numerator = blueMin ? g - r : (redMin ? b - g : r - b);
        const v4d offset = blueMin ? hdx::Splat(60) : (redMin ? hdx::Splat(180) : hdx::Splat(300));
        // Grey lanes divide by 1 instead of 0; their hue is never used.
        const v4d hue = 60 * numerator / (grey ? one : chroma) + offset;

        // The chroma scaled by the level and clamped.
        v4d adjusted = chroma * level / 1000 + chroma;
        adjusted = adjusted < zero ? zero : adjusted;
        adjusted = adjusted > top ? top : adjusted;

        // HSLtoRGB.
        v4d half = adjusted / 2;
        const v4di dark = lightness < half;
        v4d high = lightness + half;
        const v4di capped = high > top;
        half = capped ? top - lightness : half;
        high = capped ? top : high;
        v4d low = lightness - half;
        low = dark ? zero : low;
        high = dark ? 2 * lightness : high;
        const v4d d = high - low;

        const v4di s1 = hue >= 60;
        const v4di s2 = hue >= 120;
        const v4di s3 = hue >= 180;
        const v4di s4 = hue >= 240;
        const v4di s5 = hue >= 300;
        v4d t = hue;
        t = s1 ? 120 - hue : t;
        t = s2 ? hue - 120 : t;
        t = s3 ? 240 - hue : t;
        t = s4 ? hue - 240 : t;
        t = s5 ? 360 - hue : t;
        const v4d mid = low + t / 60 * d;

        // Sector:        0     1     2     3     4     5
        // red:        high   mid   low   low   mid  high
        // green:       mid  high  high   mid   low   low
        // blue:        low   low   mid  high  high   mid
        v4d rv = s1 ? mid : high;
        rv = s2 ? low : rv;
        rv = s4 ? mid : rv;
        rv = s5 ? high : rv;
        v4d gv = s1 ? high : mid;
        gv = s3 ? mid : gv;
        gv = s4 ? low : gv;
        v4d bv = s2 ? mid : low;
        bv = s3 ? high : bv;
        bv = s5 ? mid : bv;
        rv = grey ? lightness : rv;
        gv = grey ? lightness : gv;
        bv = grey ? lightness : bv;

        const v4si ri = __builtin_convertvector(rv, v4si);
        const v4si gi = __builtin_convertvector(gv, v4si);
        const v4si bi = __builtin_convertvector(bv, v4si);
        const v16qu rg = Shuffle(reinterpret_cast<v16qu>(ri), reinterpret_cast<v16qu>(gi), redGreen);
        const v16qu out = Shuffle(rg, reinterpret_cast<v16qu>(bi), withBlue);
        if (lanes == 4)
            std::memcpy(row + 3 * x, &out, 12);
        else
            std::memcpy(row + 3 * x, &out, static_cast<size_t>(3 * lanes));
    }
}

}  // namespace

int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE* bitmap, int level)
{
    if (bitmap == nullptr)
        return IL_ERR_NULL_RECORD;
    if (bitmap->pData == nullptr || bitmap->bitsPerPixel != 24)
        return IL_ERR_ARGUMENT;
    if (bitmap->byteOrder < 0 || bitmap->byteOrder > 1 || level < -1000 || level > 1000 ||
        !hdx::HasSoundLayout(bitmap))
        return IL_ERR_ARGUMENT;

    for (int y = 0; y < bitmap->height; ++y) {
        const int64_t offset = static_cast<int64_t>(y) * bitmap->bytesPerRow;
        unsigned char* row = bitmap->pData + offset;
        // Bytes that may be read from the row's start: the rest of the block.
        const int64_t readable = static_cast<int64_t>(bitmap->height) * bitmap->bytesPerRow - offset;
        if (bitmap->byteOrder == 1)
            SaturateRow<2>(row, bitmap->width, readable, level);
        else
            SaturateRow<0>(row, bitmap->width, readable, level);
    }
    return IL_SUCCESS;
}
