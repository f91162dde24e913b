// The library's resampling, sharpening and saturation against the literal
// reference versions, byte for byte, on photographic-like and random
// pictures of many shapes; the colour-space conversions against worked
// values.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HdxImgLib.h"
#include "bitmap_fixture.h"
#include "photo_pattern.h"
#include "reference.h"

using imgtest::Bitmap24;
using imgtest::Pattern;

namespace {

const Pattern kPatterns[] = {Pattern::Photo, Pattern::Noise, Pattern::Gradient, Pattern::Edges};

// A bitmap of the given size and pattern; padding bytes are set too, so that
// an operation that touches them would show.
void Fill(Bitmap24& bitmap, Pattern pattern, uint32_t seed)
{
    _tagBITMAPHANDLE* r = bitmap.get();
    std::memset(r->pData, 0x5A, static_cast<size_t>(r->dataSize));
    imgtest::FillPattern(r->pData, r->width, r->height, r->bytesPerRow, pattern, seed);
}

// The whole pixel block of a record, padding included.
std::vector<unsigned char> Block(const _tagBITMAPHANDLE* r)
{
    return std::vector<unsigned char>(r->pData, r->pData + r->dataSize);
}

void CheckResample(int width, int height, int newWidth, int newHeight, Pattern pattern, int order = 1)
{
    SCOPED_TRACE(::testing::Message() << width << "x" << height << " -> " << newWidth << "x"
                                      << newHeight << " pattern " << static_cast<int>(pattern));
    Bitmap24 page(width, height, order);
    Fill(page, pattern, static_cast<uint32_t>(width * 31 + height));
    const auto expected = reference::SizeBitmap(*page.get(), newWidth, newHeight);
    ASSERT_EQ(IL_SizeBitmap(page.get(), newWidth, newHeight, 4), IL_SUCCESS);
    ASSERT_EQ(page.get()->width, newWidth);
    ASSERT_EQ(page.get()->height, newHeight);
    ASSERT_EQ(page.get()->byteOrder, order);
    ASSERT_TRUE(Block(page.get()) == expected);
}

TEST(ReferenceResample, ManyShapesAndFactors)
{
    const struct {
        int w, h, w2, h2;
    } cases[] = {
        {1, 1, 1, 1},    {1, 1, 3, 2},      {1, 1, 1, 9},     {1, 9, 1, 4},    {1, 9, 3, 20},
        {9, 1, 4, 1},    {9, 1, 20, 3},     {2, 2, 1, 1},     {2, 3, 1, 3},    {17, 13, 17, 13},
        {17, 13, 15, 11}, {17, 13, 9, 7},   {17, 13, 33, 27}, {17, 13, 1, 1},  {101, 67, 90, 60},
        {101, 67, 50, 67}, {253, 40, 126, 40}, {63, 64, 200, 201}, {127, 5, 113, 4}, {5, 127, 4, 113},
    };
    for (const auto& c : cases)
        for (Pattern p : kPatterns)
            CheckResample(c.w, c.h, c.w2, c.h2, p);
    CheckResample(31, 17, 27, 15, Pattern::Photo, 0);
}

TEST(ReferenceResample, BorderScaleShapes)
{
    // Pictures shrunk by the border scale of a 4x6 page, as the page buffer
    // does strip by strip.
    const float m = 0.8957346f;
    for (int rows : {200, 37, 3, 2})
        CheckResample(211, rows, static_cast<int>(211 * m), static_cast<int>(rows * m), Pattern::Photo);
}

void CheckSharpen(int width, int height, int level, Pattern pattern, int order = 1)
{
    SCOPED_TRACE(::testing::Message() << width << "x" << height << " level " << level << " pattern "
                                      << static_cast<int>(pattern));
    Bitmap24 page(width, height, order);
    Fill(page, pattern, static_cast<uint32_t>(level + 5000));
    Bitmap24 expected(width, height, order);
    std::memcpy(expected.get()->pData, page.get()->pData, static_cast<size_t>(page.get()->dataSize));
    reference::SharpenBitmap(*expected.get(), level);
    ASSERT_EQ(IL_SharpenBitmap(page.get(), level), IL_SUCCESS);
    ASSERT_TRUE(Block(page.get()) == Block(expected.get()));
}

TEST(ReferenceSharpen, EveryTableRowAndLevelsBetween)
{
    for (int i = 0; i < kKTableRows; ++i)
        for (Pattern p : kPatterns)
            CheckSharpen(37, 23, KTable[i].level, p);
    for (int level : {-999, -975, -333, -7, 7, 25, 375, 725, 749, 751, 999})
        for (Pattern p : kPatterns)
            CheckSharpen(29, 31, level, p);
}

TEST(ReferenceSharpen, TinyThinAndOddShapes)
{
    const int shapes[][2] = {{1, 1}, {1, 2}, {2, 1}, {1, 17}, {17, 1}, {2, 2}, {3, 3}, {5, 4}, {65, 9}};
    for (const auto& s : shapes)
        for (int level : {-1000, -500, 0, 1, 750, 1000})
            for (Pattern p : kPatterns)
                CheckSharpen(s[0], s[1], level, p);
    CheckSharpen(33, 9, 750, Pattern::Noise, 0);
}

void CheckSaturation(Bitmap24& page, int level)
{
    SCOPED_TRACE(::testing::Message() << "level " << level);
    Bitmap24 expected(page.get()->width, page.get()->height, page.get()->byteOrder);
    std::memcpy(expected.get()->pData, page.get()->pData, static_cast<size_t>(page.get()->dataSize));
    reference::ChangeBitmapSaturation(*expected.get(), level);
    ASSERT_EQ(IL_ChangeBitmapSaturation(page.get(), level), IL_SUCCESS);
    ASSERT_TRUE(Block(page.get()) == Block(expected.get()));
}

TEST(ReferenceSaturation, PatternsLevelsAndByteOrders)
{
    const int shapes[][2] = {{1, 1}, {1, 13}, {13, 1}, {37, 23}, {128, 96}};
    for (const auto& s : shapes)
        for (Pattern p : kPatterns)
            for (int order : {0, 1})
                for (int level : {-1000, -999, -500, -1, 0, 1, 200, 500, 999, 1000}) {
                    Bitmap24 page(s[0], s[1], order);
                    Fill(page, p, static_cast<uint32_t>(level + 3000));
                    CheckSaturation(page, level);
                }
}

TEST(ReferenceSaturation, ColourSweepWithChangingLevels)
{
    // A sweep over the colour cube (every third value per channel), run at
    // several levels one after another on fresh copies: results remembered
    // for one level must never leak into another.
    Bitmap24 sweep(86 * 86, 86);
    for (int r = 0; r < 86; ++r)
        for (int g = 0; g < 86; ++g)
            for (int b = 0; b < 86; ++b) {
                unsigned char* p = sweep.at(r * 86 + g, b);
                p[2] = static_cast<unsigned char>(r * 3);
                p[1] = static_cast<unsigned char>(g * 3);
                p[0] = static_cast<unsigned char>(b * 3);
            }
    for (int level : {0, 300, 0, -700, 1000, 300}) {
        Bitmap24 page(86 * 86, 86);
        std::memcpy(page.get()->pData, sweep.get()->pData, static_cast<size_t>(sweep.get()->dataSize));
        CheckSaturation(page, level);
    }
}

// Worked colour-space values obtained outside this code: hue (degrees),
// chroma and lightness (0..255) with Python's colorsys.rgb_to_hls (chroma
// as s x (1 - |2l - 1|) x 255); the bytes for half and 1.7 times the chroma
// by exact rational arithmetic of the CSS Color 4 hsl-to-rgb formula,
// truncated. The colours, one per sixth of the hue circle, were picked so
// that no byte is whole before truncation, and a grey.
struct WorkedColour {
    int r, g, b;
    double hue, chroma, lightness;
    unsigned char half[3];
    unsigned char more[3];   // 1.7 times the chroma
};

const WorkedColour kWorkedColours[] = {
    {139, 99, 84, 16.36363636363637, 55, 111.5, {125, 105, 97}, {158, 90, 64}},
    {120, 155, 52, 80.388349514563103, 103, 103.5, {111, 129, 77}, {131, 191, 15}},
    {113, 184, 141, 143.66197183098592, 71, 148.5, {130, 166, 144}, {88, 208, 135}},
    {106, 118, 213, 233.27102803738319, 107, 159.5, {132, 138, 186}, {68, 88, 250}},
    {158, 148, 190, 254.28571428571431, 42, 169, {163, 158, 179}, {150, 133, 204}},
    {195, 81, 169, 313.68421052631578, 114, 138, {166, 109, 153}, {234, 41, 190}},
    {77, 77, 77, -1, 0, 77, {77, 77, 77}, {77, 77, 77}},
};

// The library's conversions and the literal versions both give the worked
// values.
TEST(ReferenceColourSpace, ConversionsGiveWorkedValues)
{
    using ToHsl = void (*)(int, int, int, double*, double*, double*);
    using ToRgb = void (*)(double, double, double, unsigned char*, unsigned char*, unsigned char*);
    const struct {
        const char* name;
        ToHsl toHsl;
        ToRgb toRgb;
    } conversions[] = {{"library", RGBtoHSL, HSLtoRGB}, {"literal", reference::RGBtoHSL, reference::HSLtoRGB}};
    for (const auto& conversion : conversions) {
        for (const WorkedColour& c : kWorkedColours) {
            SCOPED_TRACE(::testing::Message() << conversion.name << " " << c.r << "," << c.g << "," << c.b);
            double hue = 0, chroma = 0, lightness = 0;
            conversion.toHsl(c.r, c.g, c.b, &hue, &chroma, &lightness);
            EXPECT_NEAR(hue, c.hue, 1e-9);
            EXPECT_EQ(chroma, c.chroma);
            EXPECT_EQ(lightness, c.lightness);
            unsigned char half[3], more[3];
            conversion.toRgb(hue, chroma * 0.5, lightness, &half[0], &half[1], &half[2]);
            conversion.toRgb(hue, chroma * 1.7, lightness, &more[0], &more[1], &more[2]);
            EXPECT_EQ(std::memcmp(half, c.half, 3), 0) << int(half[0]) << "," << int(half[1]) << "," << int(half[2]);
            EXPECT_EQ(std::memcmp(more, c.more, 3), 0) << int(more[0]) << "," << int(more[1]) << "," << int(more[2]);
        }
    }
}

TEST(ReferencePage, FourBySixPage)
{
    // The one full-size case: a 4x6 page at 300 dpi shrunk for the border,
    // then sharpened at 750 and saturated at 200.
    Bitmap24 page(1266, 1836);
    Fill(page, Pattern::Photo, 42);
    auto expected = reference::SizeBitmap(*page.get(), 1134, 1644);
    ASSERT_EQ(IL_SizeBitmap(page.get(), 1134, 1644, 4), IL_SUCCESS);
    ASSERT_TRUE(Block(page.get()) == expected);

    _tagBITMAPHANDLE ref{};
    ASSERT_EQ(IL_CreateBitmap(&ref, 440, 2, 1134, 1644, 24, 1, nullptr, 4, expected.data(),
                              static_cast<int64_t>(expected.size())),
              IL_SUCCESS);
    reference::SharpenBitmap(ref, 750);
    ASSERT_EQ(IL_SharpenBitmap(page.get(), 750), IL_SUCCESS);
    ASSERT_TRUE(Block(page.get()) == expected);
    reference::ChangeBitmapSaturation(ref, 200);
    ASSERT_EQ(IL_ChangeBitmapSaturation(page.get(), 200), IL_SUCCESS);
    ASSERT_TRUE(Block(page.get()) == expected);
}

}  // namespace
