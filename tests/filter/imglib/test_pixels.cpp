// Pixel operations on 24-bit bitmaps: bicubic resampling, sharpening,
// saturation and the colour-space conversions behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "HdxImgLib.h"
#include "bitmap_fixture.h"

using imgtest::Bitmap24;
using imgtest::OwnedRecord;
using imgtest::Planes;

namespace {

TEST(SizeBitmap, ZeroRowsOrColumnsAreRefused)
{
    // A tiny source scaled by a factor can give a size of 0: there is nothing
    // to write into, so the request is refused and the bitmap kept.
    Bitmap24 page(3, 2);
    page.fillRandom(5);
    const auto before = page.bytes();
    EXPECT_EQ(IL_SizeBitmap(page.get(), 0, 2, 4), IL_ERR_ARGUMENT);
    EXPECT_EQ(IL_SizeBitmap(page.get(), 3, 0, 4), IL_ERR_ARGUMENT);
    EXPECT_EQ(IL_SizeBitmap(page.get(), 0, 0, 4), IL_ERR_ARGUMENT);
    EXPECT_EQ(page.get()->width, 3);
    EXPECT_EQ(page.get()->height, 2);
    EXPECT_EQ(page.bytes(), before);
}

TEST(SizeBitmap, StridesBeyond32BitsAreRefused)
{
    Bitmap24 page(2, 2);
    // A target row of 800 million pixels does not fit a 32-bit stride.
    EXPECT_EQ(IL_SizeBitmap(page.get(), 800000000, 1, 4), IL_ERR_ARGUMENT);
    EXPECT_EQ(IL_SizeBitmap(page.get(), INT_MAX, INT_MAX, 4), IL_ERR_ARGUMENT);
    EXPECT_EQ(page.get()->width, 2);
}

TEST(SizeBitmap, TwoColumnsToOneKeepsColumnZero)
{
    Bitmap24 page(2, 3);
    page.fillRandom(9);
    Bitmap24 expected(1, 3);
    for (int y = 0; y < 3; ++y)
        for (int c = 0; c < 3; ++c)
            expected.at(0, y)[c] = page.at(0, y)[c];
    ASSERT_EQ(IL_SizeBitmap(page.get(), 1, 3, 4), IL_SUCCESS);
    EXPECT_NE(page.get()->hMemory, nullptr);
    EXPECT_EQ(page.get()->width, 1);
    EXPECT_EQ(page.get()->bytesPerRow, 4);
    EXPECT_EQ(page.get()->dataSize, 12);
    EXPECT_EQ(page.get()->byteOrder, 1);
    EXPECT_EQ(page.bytes(), expected.bytes());
}

TEST(SizeBitmap, SameSizeIsTheIdentity)
{
    Bitmap24 page(7, 5, 0);
    page.fillRandom(21);
    const auto before = page.bytes();
    ASSERT_EQ(IL_SizeBitmap(page.get(), 7, 5, 4), IL_SUCCESS);
    EXPECT_EQ(page.bytes(), before);
    EXPECT_EQ(page.get()->byteOrder, 0);
}

TEST(SizeBitmap, UpscaleWorkedNumbers)
{
    // Columns 0 and 100 to four columns: x = 0, 0.5, 1, 1.5. At x = 0.5 the
    // taps weigh -0.125, 0.625, 0.625, -0.125 (outside taps take column 0):
    // 62.5 rounds to 63; at x = 1.5 the outside taps take column 1 and the
    // unnormalised overshoot 112.5 rounds to 113.
    Bitmap24 page(2, 1);
    page.at(1, 0)[0] = 100;
    page.at(1, 0)[1] = 100;
    page.at(1, 0)[2] = 100;
    ASSERT_EQ(IL_SizeBitmap(page.get(), 4, 1, 4), IL_SUCCESS);
    const int expected[4] = {0, 63, 100, 113};
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(page.at(x, 0)[c], expected[x]) << x;

    // A single pixel spreads evenly (the kernel weights sum to one).
    Bitmap24 dot(1, 1);
    dot.at(0, 0)[0] = 17;
    dot.at(0, 0)[1] = 128;
    dot.at(0, 0)[2] = 255;
    ASSERT_EQ(IL_SizeBitmap(dot.get(), 5, 3, 4), IL_SUCCESS);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(dot.at(x, y)[0], 17);
            EXPECT_EQ(dot.at(x, y)[1], 128);
            EXPECT_EQ(dot.at(x, y)[2], 255);
        }
}

TEST(SizeBitmap, ClampsOvershoot)
{
    // A sharp 20/255 edge overshoots on both sides: at x = 0.5 the sum is
    // -9.375, at x = 2.5 it is 284.375; both are clamped.
    Bitmap24 page(4, 1);
    page.fill(20);
    for (int x = 2; x < 4; ++x)
        for (int c = 0; c < 3; ++c)
            page.at(x, 0)[c] = 255;
    ASSERT_EQ(IL_SizeBitmap(page.get(), 8, 1, 4), IL_SUCCESS);
    EXPECT_EQ(page.at(1, 0)[0], 0);
    EXPECT_EQ(page.at(5, 0)[0], 255);
    EXPECT_EQ(page.at(3, 0)[0], 138);  // 137.5 between the two, rounded up
}

TEST(KTable, InterpolatesBetweenRows)
{
    EXPECT_EQ(KTableStrength(-1000), -1.0);
    EXPECT_EQ(KTableStrength(0), 0.0);
    EXPECT_EQ(KTableStrength(750), 0.5);
    EXPECT_EQ(KTableStrength(1000), 9.0);
    EXPECT_EQ(KTableStrength(-1), -0.117);
    EXPECT_EQ(KTableStrength(975), 2.25 + (9.0 - 2.25) * 25 / 50);
    EXPECT_EQ(KTableStrength(-975), -1.0 + (-0.75 - -1.0) * 25 / 50);
    EXPECT_EQ(KTableStrength(375), 0.140625 + (0.365 - 0.140625) * 275 / 550);
}

TEST(SharpenBitmap, WorkedNumbersWithEdgeReplication)
{
    // 3 x 3 of 50 with 100 in the centre, level 750 (k = 0.5): centre weight
    // 1 + 4/9, neighbours -1/18.
    Bitmap24 page(3, 3);
    page.fill(50);
    for (int c = 0; c < 3; ++c)
        page.at(1, 1)[c] = 100;
    ASSERT_EQ(IL_SharpenBitmap(page.get(), 750), IL_SUCCESS);
    EXPECT_EQ(page.at(1, 1)[0], 122);  // 144.44 - 8 x 2.78
    EXPECT_EQ(page.at(0, 0)[1], 47);   // 72.22 - 7 x 2.78 - 5.56
    EXPECT_EQ(page.at(2, 1)[2], 47);

    // Level 1000 (k = 9): centre 9, neighbours -1; clamped both ways.
    Bitmap24 spot(3, 3);
    for (int c = 0; c < 3; ++c)
        spot.at(1, 1)[c] = 100;
    ASSERT_EQ(IL_SharpenBitmap(spot.get(), 1000), IL_SUCCESS);
    EXPECT_EQ(spot.at(1, 1)[0], 255);
    EXPECT_EQ(spot.at(0, 0)[0], 0);
}

TEST(SharpenBitmap, NeutralAndBlurLevels)
{
    Bitmap24 page(9, 7);
    page.fillRandom(13);
    const auto before = page.bytes();
    ASSERT_EQ(IL_SharpenBitmap(page.get(), 0), IL_SUCCESS);
    EXPECT_EQ(page.bytes(), before) << "level 0 is the identity";

    // Level -1000 averages the nine neighbours (truncated, so a flat area
    // may lose one).
    Bitmap24 flat(4, 4);
    flat.fill(200);
    ASSERT_EQ(IL_SharpenBitmap(flat.get(), -1000), IL_SUCCESS);
    for (unsigned char v : flat.bytes())
        ASSERT_TRUE(v == 200 || v == 199);

    Bitmap24 box(3, 3);
    for (int c = 0; c < 3; ++c)
        box.at(1, 1)[c] = 90;
    ASSERT_EQ(IL_SharpenBitmap(box.get(), -1000), IL_SUCCESS);
    EXPECT_TRUE(box.at(1, 1)[0] == 10 || box.at(1, 1)[0] == 9);
    EXPECT_TRUE(box.at(0, 0)[0] == 10 || box.at(0, 0)[0] == 9);
}

TEST(SharpenBitmap, SinglePixelKeepsItsValueUpToTruncation)
{
    for (int level : {-1000, -500, 0, 750, 1000}) {
        Bitmap24 dot(1, 1);
        dot.at(0, 0)[0] = 0;
        dot.at(0, 0)[1] = 77;
        dot.at(0, 0)[2] = 255;
        ASSERT_EQ(IL_SharpenBitmap(dot.get(), level), IL_SUCCESS);
        EXPECT_EQ(dot.at(0, 0)[0], 0) << level;
        EXPECT_TRUE(dot.at(0, 0)[1] == 77 || dot.at(0, 0)[1] == 76) << level;
        EXPECT_TRUE(dot.at(0, 0)[2] == 255 || dot.at(0, 0)[2] == 254) << level;
    }
}

TEST(ColourSpace, WorkedNumbers)
{
    double h = 0, ch = 0, l = 0;
    RGBtoHSL(255, 0, 0, &h, &ch, &l);
    EXPECT_EQ(h, 0.0);
    EXPECT_EQ(ch, 255.0);
    EXPECT_EQ(l, 127.5);
    unsigned char r = 0, g = 0, b = 0;
    HSLtoRGB(0, 255, 127.5, &r, &g, &b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);

    RGBtoHSL(9, 9, 9, &h, &ch, &l);
    EXPECT_EQ(h, -1.0);
    EXPECT_EQ(ch, 0.0);
    HSLtoRGB(-1, 0, 9.5, &r, &g, &b);
    EXPECT_EQ(r, 9);
    EXPECT_EQ(b, 9);

    // The minimum decides the sector; blue is tested first.
    RGBtoHSL(0, 100, 0, &h, &ch, &l);
    EXPECT_EQ(h, 120.0);
    RGBtoHSL(0, 0, 100, &h, &ch, &l);
    EXPECT_EQ(h, 240.0);
    RGBtoHSL(100, 0, 50, &h, &ch, &l);
    EXPECT_EQ(h, 330.0);
    HSLtoRGB(330, 100, 50, &r, &g, &b);
    EXPECT_EQ(r, 100);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 50);
}

TEST(ColourSpace, HighLightnessCapsAt255)
{
    // L = 200, Ch = 200: high would be 300, so half becomes 55 and low 145.
    unsigned char r = 0, g = 0, b = 0;
    HSLtoRGB(0, 200, 200, &r, &g, &b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 145);
    EXPECT_EQ(b, 145);
}

TEST(ChangeSaturation, ChannelPositionsFollowTheByteOrder)
{
    // (200, 100, 100) at level 1000: chroma 100 -> 200, lightness 150, hue 0
    // gives (250, 50, 50).
    for (int order : {0, 1}) {
        Bitmap24 page(1, 1, order);
        const int redAt = order == 1 ? 2 : 0;
        page.at(0, 0)[redAt] = 200;
        page.at(0, 0)[1] = 100;
        page.at(0, 0)[2 - redAt] = 100;
        ASSERT_EQ(IL_ChangeBitmapSaturation(page.get(), 1000), IL_SUCCESS);
        EXPECT_EQ(page.at(0, 0)[redAt], 250) << order;
        EXPECT_EQ(page.at(0, 0)[1], 50);
        EXPECT_EQ(page.at(0, 0)[2 - redAt], 50);
    }
    // Level -1000 leaves only the lightness.
    Bitmap24 red(1, 1);
    red.at(0, 0)[2] = 255;
    ASSERT_EQ(IL_ChangeBitmapSaturation(red.get(), -1000), IL_SUCCESS);
    EXPECT_EQ(red.at(0, 0)[0], 127);
    EXPECT_EQ(red.at(0, 0)[1], 127);
    EXPECT_EQ(red.at(0, 0)[2], 127);
}

TEST(ChangeSaturation, LevelZeroRoundTripsWithTruncation)
{
    // Every colour goes through the conversion both ways; truncation moves
    // some by one, never more, and greys never.
    Bitmap24 page(256, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            page.at(x, y)[0] = static_cast<unsigned char>(x);
            page.at(x, y)[1] = static_cast<unsigned char>((x * 7 + y * 13) & 0xFF);
            page.at(x, y)[2] = static_cast<unsigned char>(y * 4);
        }
    const auto before = page.bytes();
    ASSERT_EQ(IL_ChangeBitmapSaturation(page.get(), 0), IL_SUCCESS);
    const auto after = page.bytes();
    int changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_LE(std::abs(before[i] - after[i]), 1) << i;
        changed += before[i] != after[i];
    }
    EXPECT_GT(changed, 0);

    Bitmap24 grey(256, 1);
    for (int x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c)
            grey.at(x, 0)[c] = static_cast<unsigned char>(x);
    const auto greys = grey.bytes();
    ASSERT_EQ(IL_ChangeBitmapSaturation(grey.get(), 0), IL_SUCCESS);
    EXPECT_EQ(grey.bytes(), greys);
}

TEST(ChangeSaturation, LevelZeroMovesAFewMillionOfAllColours)
{
    // All 16.7 million colours, 65536 at a time: the truncating round trip
    // moves 3827046 of them, each channel by at most one.
    Bitmap24 slab(65536, 1);
    int64_t changed = 0;
    for (int r = 0; r < 256; ++r) {
        for (int i = 0; i < 65536; ++i) {
            unsigned char* p = slab.at(i, 0);
            p[2] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(i >> 8);
            p[0] = static_cast<unsigned char>(i & 0xFF);
        }
        ASSERT_EQ(IL_ChangeBitmapSaturation(slab.get(), 0), IL_SUCCESS);
        for (int i = 0; i < 65536; ++i) {
            const unsigned char* p = slab.at(i, 0);
            const int dr = std::abs(p[2] - r), dg = std::abs(p[1] - (i >> 8)), db = std::abs(p[0] - (i & 0xFF));
            ASSERT_LE(std::max(dr, std::max(dg, db)), 1);
            changed += (dr | dg | db) != 0;
        }
    }
    EXPECT_EQ(changed, 3827046);
}

TEST(PixelOperations, RefuseRecordsWhoseLayoutDoesNotAddUp)
{
    // A record whose stride or data size does not cover its width and rows
    // would make any pixel loop run past its block: refused before touching.
    for (int fault = 0; fault < 4; ++fault) {
        Bitmap24 page(5, 3);
        page.fill(7);
        _tagBITMAPHANDLE* r = page.get();
        if (fault == 0)
            r->bytesPerRow = 12;  // 5 pixels need 16
        if (fault == 1)
            r->dataSize = 47;  // 3 rows need 48
        if (fault == 2)
            r->width = 6;
        if (fault == 3)
            r->height = -3;
        SCOPED_TRACE(fault);
        EXPECT_EQ(IL_SizeBitmap(r, 2, 2, 4), IL_ERR_ARGUMENT);
        EXPECT_EQ(IL_SharpenBitmap(r, 750), IL_ERR_ARGUMENT);
        EXPECT_EQ(IL_ChangeBitmapSaturation(r, 200), IL_ERR_ARGUMENT);
        Planes planes;
        EXPECT_EQ(IL_ColorSeparateBitmap(r, planes.list, 440, 0), IL_ERR_ARGUMENT);
        Bitmap24 other(5, 3);
        EXPECT_EQ(IL_CopyBitmapData(other.get(), r), IL_ERR_ARGUMENT);
        EXPECT_EQ(IL_CopyBitmapData(r, other.get()), IL_ERR_ARGUMENT);
    }
}

// Runs one bitmap of the given size through every operation in page order.
void RunEveryOperation(int width, int height)
{
    SCOPED_TRACE(::testing::Message() << width << " x " << height);
    Bitmap24 page(width, height);
    page.fillRandom(static_cast<uint32_t>(width * 1000 + height));
    ASSERT_EQ(page.created(), IL_SUCCESS);
    for (const auto& size : {std::pair<int, int>{1, 1}, {width, height}, {2 * width + 1, height + 3},
                             {width, height}}) {
        ASSERT_EQ(IL_SizeBitmap(page.get(), size.first, size.second, 4), IL_SUCCESS);
    }
    Planes planes;
    ASSERT_EQ(IL_ColorSeparateBitmap(page.get(), planes.list, 440, 0), IL_SUCCESS);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(IL_GammaCorrectBitmap(planes.list[k], 150), IL_SUCCESS);
        ASSERT_EQ(IL_ChangeBitmapIntensity(planes.list[k], -300), IL_SUCCESS);
        ASSERT_EQ(IL_ChangeBitmapContrast(planes.list[k], 500), IL_SUCCESS);
    }
    OwnedRecord merged;
    ASSERT_EQ(IL_ColorMergeBitmap(&merged.record, planes.list, 440, 0), IL_SUCCESS);
    for (int level : {-1000, -1, 0, 1, 750, 1000})
        ASSERT_EQ(IL_SharpenBitmap(&merged.record, level), IL_SUCCESS);
    for (int level : {-1000, 0, 1000})
        ASSERT_EQ(IL_ChangeBitmapSaturation(&merged.record, level), IL_SUCCESS);
    Bitmap24 copy(width, height);
    ASSERT_EQ(IL_CopyBitmapData(copy.get(), &merged.record), IL_SUCCESS);
    Bitmap24 other(height, width);
    ASSERT_EQ(IL_CopyBitmapData(other.get(), &merged.record), IL_SUCCESS);
}

TEST(EveryOperation, TinyAndThinBitmaps)
{
    RunEveryOperation(1, 1);
    RunEveryOperation(1, 7);
    RunEveryOperation(7, 1);
    RunEveryOperation(2, 2);
    RunEveryOperation(5, 3);
}

}  // namespace
