// Bitmap records: creation rules, release, copying, and the
// Windows-style memory calls.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "HdxImgLib.h"
#include "HdxImgLib_LinuxDef.h"
#include "bitmap_fixture.h"

using imgtest::Bitmap24;
using imgtest::Stride;

namespace {

int Create(_tagBITMAPHANDLE* record, int width, int height, int bits, int order,
           unsigned char* palette, unsigned char* data, int64_t size, unsigned int structSize = 440,
           int kind = 2, int alignment = 4)
{
    return IL_CreateBitmap(record, structSize, kind, width, height, bits, order, palette, alignment,
                           data, size);
}

TEST(CreateBitmap, DescribesCallerPixels)
{
    std::vector<unsigned char> pixels(static_cast<size_t>(Stride(5, 24)) * 3);
    _tagBITMAPHANDLE r{};
    ASSERT_EQ(Create(&r, 5, 3, 24, 2, nullptr, pixels.data(), static_cast<int64_t>(pixels.size())),
              IL_SUCCESS);
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(r.height, 3);
    EXPECT_EQ(r.bitsPerPixel, 24);
    EXPECT_EQ(r.bytesPerRow, 16);
    EXPECT_EQ(r.paletteCount, 0);
    EXPECT_EQ(r.byteOrder, 1);  // order 2 is stored as 1
    EXPECT_EQ(r.alignment, 4);
    EXPECT_EQ(r.dataSize, 48);
    EXPECT_EQ(r.pData, pixels.data());
    EXPECT_EQ(r.hMemory, nullptr);
    // Releasing never frees caller pixels; it only clears the pointers.
    EXPECT_EQ(IL_FreeBitmap(&r), IL_SUCCESS);
    EXPECT_EQ(r.pData, nullptr);
    EXPECT_EQ(IL_FreeBitmap(nullptr), IL_SUCCESS);

    unsigned char palette[1024] = {};
    std::vector<unsigned char> plane(static_cast<size_t>(Stride(5, 8)) * 3);
    ASSERT_EQ(Create(&r, 5, 3, 8, 2, palette, plane.data(), static_cast<int64_t>(plane.size())),
              IL_SUCCESS);
    EXPECT_EQ(r.bytesPerRow, 8);
    EXPECT_EQ(r.paletteCount, 256);
    EXPECT_EQ(r.pPalette, palette);
    EXPECT_EQ(r.byteOrder, 0);

    ASSERT_EQ(Create(&r, 5, 3, 24, 0, nullptr, pixels.data(), 48), IL_SUCCESS);
    EXPECT_EQ(r.byteOrder, 0);
}

TEST(CreateBitmap, SizesBeyond32BitsAreRefusedNotWrapped)
{
    unsigned char data[16] = {};
    _tagBITMAPHANDLE r{};
    // 200000000 x 24 bits exceeds 32 bits: a 32-bit product would wrap.
    const int wide = 200000000;
    const int64_t stride = ((static_cast<int64_t>(wide) * 24 + 31) / 32) * 4;
    const int64_t trueSize = stride * 10;
    const int64_t wrappedStride = ((static_cast<uint32_t>(wide) * 24u + 31u) / 32u) * 4u;
    EXPECT_EQ(Create(&r, wide, 10, 24, 1, nullptr, data, wrappedStride * 10), IL_ERR_ARGUMENT);
    EXPECT_EQ(Create(&r, wide, 10, 24, 1, nullptr, data, trueSize), IL_SUCCESS);
    EXPECT_EQ(r.dataSize, trueSize);
    // A stride that does not fit the record's 32-bit field.
    EXPECT_EQ(Create(&r, INT_MAX, 1, 24, 1, nullptr, data, 0), IL_ERR_ARGUMENT);
    EXPECT_EQ(Create(&r, INT_MAX, 1, 24, 1, nullptr, data,
                     ((static_cast<int64_t>(INT_MAX) * 24 + 31) / 32) * 4),
              IL_ERR_ARGUMENT);
    // Rows x stride beyond 32 bits is a valid 64-bit data size.
    EXPECT_EQ(Create(&r, 100000, 100000, 24, 1, nullptr, data, 300000LL * 100000), IL_SUCCESS);
}

TEST(CopyBitmapData, SameSizeCopiesTheWholeBlock)
{
    Bitmap24 source(3, 2), target(3, 2);
    source.fillRandom(7);
    ASSERT_EQ(IL_CopyBitmapData(target.get(), source.get()), IL_SUCCESS);
    EXPECT_EQ(target.bytes(), source.bytes());
    EXPECT_EQ(IL_CopyBitmapData(target.get(), target.get()), IL_SUCCESS);
    EXPECT_EQ(target.bytes(), source.bytes());
}

TEST(CopyBitmapData, DifferentSizesAlignTopRows)
{
    // Rows are stored bottom-up, so the top rows are the last stored ones.
    Bitmap24 source(3, 3), target(2, 2);
    source.fillRandom(11);
    target.fill(9);
    ASSERT_EQ(IL_CopyBitmapData(target.get(), source.get()), IL_SUCCESS);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(target.at(0, y), source.at(0, y + 1), 6), 0) << y;

    Bitmap24 tall(1, 4);
    tall.fill(1);
    ASSERT_EQ(IL_CopyBitmapData(tall.get(), source.get()), IL_SUCCESS);
    EXPECT_EQ(tall.at(0, 0)[0], 1) << "the bottom row is not reached";
    for (int y = 1; y < 4; ++y)
        EXPECT_EQ(std::memcmp(tall.at(0, y), source.at(0, y - 1), 3), 0) << y;
}

TEST(MemoryCalls, WindowsStyleBehaviour)
{
    HGLOBAL h = GlobalAlloc(GHND, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    unsigned char* p = static_cast<unsigned char*>(GlobalLock(h));
    std::memset(p, 0xAA, 16);
    ZeroMemory(p, 8);
    EXPECT_EQ(p[7], 0);
    EXPECT_EQ(p[8], 0xAA);
    unsigned char other[16];
    CopyMemory(other, p, 16);
    EXPECT_EQ(std::memcmp(other, p, 16), 0);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFree(h), nullptr);

    EXPECT_EQ(MulDiv(100000, 100000, 1000), 10000000) << "64-bit intermediate product";
    EXPECT_EQ(MulDiv(7, 3, 2), 10);
    EXPECT_EQ(MulDiv(-7, 3, 2), -10);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, 1), -1);
}

}  // namespace
