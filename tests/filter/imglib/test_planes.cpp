// Plane separation and merge, and the palette colour tables (gamma,
// intensity, contrast) applied between them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HdxImgLib.h"
#include "bitmap_fixture.h"

using imgtest::Bitmap24;
using imgtest::OwnedRecord;
using imgtest::Planes;

namespace {

// Byte 0 of palette entry v of a plane (all three bytes are equal after the
// palette operations).
int Entry(const Planes& planes, int k, int v)
{
    return planes.records[k].pPalette[4 * v];
}

// A separated plane of a 2 x 1 bitmap, for the palette operations.
struct OnePlane {
    Bitmap24 source{2, 1};
    Planes planes;
    OnePlane() { IL_ColorSeparateBitmap(source.get(), planes.list, 440, 0); }
    _tagBITMAPHANDLE* get() { return &planes.records[0]; }
    int t(int v) const { return Entry(planes, 0, v); }
};

TEST(SeparateBitmap, PlanesFollowTheByteOrder)
{
    for (int order : {0, 1}) {
        Bitmap24 page(3, 2, order);
        page.fillRandom(3);
        Planes planes;
        ASSERT_EQ(IL_ColorSeparateBitmap(page.get(), planes.list, 440, 0), IL_SUCCESS);
        for (int k = 0; k < 3; ++k) {
            const _tagBITMAPHANDLE& p = planes.records[k];
            EXPECT_NE(p.hMemory, nullptr);
            EXPECT_EQ(p.width, 3);
            EXPECT_EQ(p.height, 2);
            EXPECT_EQ(p.bitsPerPixel, 8);
            EXPECT_EQ(p.bytesPerRow, 4);
            EXPECT_EQ(p.paletteCount, 256);
            EXPECT_EQ(p.byteOrder, 0);
            EXPECT_EQ(p.alignment, 4);
            EXPECT_EQ(p.dataSize, 8);
            for (int v = 0; v < 256; ++v)
                ASSERT_TRUE(p.pPalette[4 * v] == v && p.pPalette[4 * v + 1] == v &&
                            p.pPalette[4 * v + 2] == v);
            const int byteIndex = order == 1 ? k : 2 - k;
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    EXPECT_EQ(p.pData[y * 4 + x], page.at(x, y)[byteIndex]);
        }
        // Merging writes plane k to byte k and marks the result byte order 1.
        OwnedRecord merged;
        ASSERT_EQ(IL_ColorMergeBitmap(&merged.record, planes.list, 440, 0), IL_SUCCESS);
        EXPECT_EQ(merged.record.byteOrder, 1);
        EXPECT_EQ(merged.record.bitsPerPixel, 24);
        EXPECT_EQ(merged.record.bytesPerRow, 12);
        EXPECT_EQ(merged.record.dataSize, 24);
        EXPECT_EQ(merged.record.paletteCount, 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(merged.record.pData[y * 12 + 3 * x + k],
                              page.at(x, y)[order == 1 ? k : 2 - k]);
    }
}

TEST(MergeBitmap, RefusesA24BitStrideBeyond32Bits)
{
    // Planes 800 million pixels wide fit 32-bit 8-bit strides, but a 24-bit
    // row would not: the merge refuses before allocating or reading pixels.
    unsigned char pixels[16] = {};
    unsigned char palette[1024] = {};
    _tagBITMAPHANDLE records[3] = {};
    _tagBITMAPHANDLE* list[3] = {&records[0], &records[1], &records[2]};
    for (auto& r : records) {
        r.pData = pixels;
        r.width = 800000000;
        r.height = 1;
        r.bitsPerPixel = 8;
        r.bytesPerRow = 800000000;
        r.paletteCount = 256;
        r.pPalette = palette;
        r.alignment = 4;
        r.dataSize = 800000000;
    }
    OwnedRecord target;
    EXPECT_EQ(IL_ColorMergeBitmap(&target.record, list, 440, 0), IL_ERR_ARGUMENT);
    EXPECT_EQ(target.record.pData, nullptr);
}

TEST(MergeBitmap, GoesThroughEachPlanesPalette)
{
    Bitmap24 page(2, 1);
    page.at(0, 0)[0] = 10;
    page.at(0, 0)[1] = 20;
    page.at(0, 0)[2] = 30;
    Planes planes;
    ASSERT_EQ(IL_ColorSeparateBitmap(page.get(), planes.list, 440, 0), IL_SUCCESS);
    // Only byte k of plane k's entries is used.
    planes.records[0].pPalette[4 * 10 + 0] = 111;
    planes.records[0].pPalette[4 * 10 + 1] = 1;
    planes.records[1].pPalette[4 * 20 + 1] = 122;
    planes.records[1].pPalette[4 * 20 + 2] = 2;
    planes.records[2].pPalette[4 * 30 + 2] = 133;
    planes.records[2].pPalette[4 * 30 + 0] = 3;
    OwnedRecord merged;
    ASSERT_EQ(IL_ColorMergeBitmap(&merged.record, planes.list, 440, 0), IL_SUCCESS);
    EXPECT_EQ(merged.record.pData[0], 111);
    EXPECT_EQ(merged.record.pData[1], 122);
    EXPECT_EQ(merged.record.pData[2], 133);
}

TEST(GammaCorrect, TableValues)
{
    OnePlane p;
    ASSERT_EQ(IL_GammaCorrectBitmap(p.get(), 200), IL_SUCCESS);
    EXPECT_EQ(p.t(64), 128);  // trunc((64/255)^0.5 x 255 + 0.5)
    EXPECT_EQ(p.t(0), 0);
    EXPECT_EQ(p.t(255), 255);

    OnePlane identity;
    ASSERT_EQ(IL_GammaCorrectBitmap(identity.get(), 100), IL_SUCCESS);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(identity.t(v), v);

    OnePlane darker;
    ASSERT_EQ(IL_GammaCorrectBitmap(darker.get(), 50), IL_SUCCESS);
    EXPECT_EQ(darker.t(128), 64);  // 128^2 / 255 = 64.25

    OnePlane steep;
    ASSERT_EQ(IL_GammaCorrectBitmap(steep.get(), 1), IL_SUCCESS);
    EXPECT_EQ(steep.t(128), 0);
    EXPECT_EQ(steep.t(254), 172);
    EXPECT_EQ(steep.t(255), 255);
}

TEST(ChangeIntensity, OffsetRounding)
{
    const struct {
        int level;
        int offset;
    } cases[] = {{0, 0}, {-1, 0}, {1, 1}, {1000, 255}, {-1000, -254}, {100, 26}, {-100, -25}};
    for (const auto& c : cases) {
        OnePlane p;
        ASSERT_EQ(IL_ChangeBitmapIntensity(p.get(), c.level), IL_SUCCESS);
        for (int v = 0; v < 256; ++v) {
            const int expected = v + c.offset < 0 ? 0 : v + c.offset > 255 ? 255 : v + c.offset;
            ASSERT_EQ(p.t(v), expected) << "level " << c.level << " value " << v;
        }
    }
}

TEST(ChangeContrast, PivotAt64)
{
    OnePlane p;
    ASSERT_EQ(IL_ChangeBitmapContrast(p.get(), 1000), IL_SUCCESS);
    EXPECT_EQ(p.t(64), 64);
    EXPECT_EQ(p.t(0), 0);
    EXPECT_EQ(p.t(127), 190);
    EXPECT_EQ(p.t(200), 255);

    OnePlane flat;
    ASSERT_EQ(IL_ChangeBitmapContrast(flat.get(), -1000), IL_SUCCESS);
    EXPECT_EQ(flat.t(64), 64);
    EXPECT_EQ(flat.t(255), 158);  // trunc(191 x e^-0.7) + 64
    EXPECT_EQ(flat.t(0), 33);     // trunc(-64 x e^-0.7) + 64

    OnePlane identity;
    ASSERT_EQ(IL_ChangeBitmapContrast(identity.get(), 0), IL_SUCCESS);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(identity.t(v), v);
}

TEST(ChangeContrast, OnlyTheCountedEntriesWithinTheBlock)
{
    OnePlane p;
    p.get()->paletteCount = 10;
    ASSERT_EQ(IL_ChangeBitmapContrast(p.get(), 1000), IL_SUCCESS);
    EXPECT_EQ(p.t(0), 0);
    EXPECT_EQ(p.t(9), 0);
    EXPECT_EQ(p.t(10), 10) << "entries past the count stay";
    // A count beyond the 256 entries a palette block holds is clamped.
    OnePlane big;
    big.get()->paletteCount = 100000;
    ASSERT_EQ(IL_ChangeBitmapContrast(big.get(), 1000), IL_SUCCESS);
    EXPECT_EQ(big.t(127), 190);
}

TEST(PaletteOperations, EachTableActsOnThePreviousResult)
{
    OnePlane p;
    ASSERT_EQ(IL_GammaCorrectBitmap(p.get(), 200), IL_SUCCESS);
    ASSERT_EQ(IL_ChangeBitmapIntensity(p.get(), 100), IL_SUCCESS);
    ASSERT_EQ(IL_ChangeBitmapContrast(p.get(), 1000), IL_SUCCESS);
    // 64 -> 128 (gamma) -> 154 (offset 26) -> trunc(90 x e^0.7) + 64 = 245.
    EXPECT_EQ(p.t(64), 245);
    const unsigned char* entry = p.get()->pPalette + 4 * 64;
    EXPECT_EQ(entry[1], 245);
    EXPECT_EQ(entry[2], 245);
    EXPECT_EQ(entry[3], 0) << "byte 3 of an entry is left alone";

    unsigned char table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<unsigned char>(255 - v);
    ASSERT_EQ(ConvertLUT8(p.get(), table), IL_SUCCESS);
    EXPECT_EQ(p.t(64), 10);
}

}  // namespace
