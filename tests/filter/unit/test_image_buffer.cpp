// The page image buffer: plane packets laid out on the sheet, and the page
// processing (resolution fitting, border) on real bitmaps.
#include "DeviceEntryRT50.h"
#include "FilterTestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

#define REQUIRE_IMAGE_LIBRARY()                                       \
    do {                                                              \
        if (!filtertest::ImageLibraryPresent())                                   \
            GTEST_SKIP() << "the image library is not built in yet";  \
    } while (0)

// A device with the media of `pageSize` whose output goes to a temporary file.
struct SheetDevice {
    explicit SheetDevice(const char* options)
    {
        cups_option_t* parsed = nullptr;
        const int count = cupsParseOptions(options, 0, &parsed);
        device.SetResolution(count, parsed, nullptr);
        device.SetMediaSize(count, parsed, nullptr);
        device.SetBorder(count, parsed, nullptr);
        cupsFreeOptions(count, parsed);
        out = std::tmpfile();
        device.SetOutputFd(fileno(out));
        device.AllocMediaBuffer();
    }
    ~SheetDevice()
    {
        // Planes placed by hand are ours to free.
        for (unsigned char* block : blocks)
            std::free(block);
        std::memset(device.m_imageBuffer.m_planes, 0, sizeof device.m_imageBuffer.m_planes);
        std::fclose(out);
    }

    // Puts an 8-bit plane of w x h into slot `slot`, colour `colour`, where
    // stored row r (bottom first) holds value(r) in every dot.
    void PutPlane(int slot, int colour, int w, int h, uint8_t (*value)(int row, int col))
    {
        _tagBITMAPHANDLE& plane = device.m_imageBuffer.m_planes[slot * 3 + colour];
        const int stride = (w + 3) / 4 * 4;
        unsigned char* data = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(stride) * h, 1));
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                data[r * stride + c] = value(r, c);
        blocks.push_back(data);
        std::memset(&plane, 0, sizeof plane);
        plane.pData = data;
        plane.width = w;
        plane.height = h;
        plane.bitsPerPixel = 8;
        plane.bytesPerRow = stride;
        plane.paletteCount = 256;
        plane.alignment = 4;
        plane.dataSize = static_cast<int64_t>(stride) * h;
    }

    std::vector<uint8_t> Output()
    {
        std::fflush(out);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(out)));
        std::rewind(out);
        if (!bytes.empty()) {
            EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), out), bytes.size());
        }
        return bytes;
    }

    DeviceEntry_RT50 device;
    FILE* out = nullptr;
    std::vector<unsigned char*> blocks;
};

uint32_t LE4(const std::vector<uint8_t>& p, size_t at)
{
    return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<uint32_t>(p[at + 3]) << 24;
}

TEST(PlanePackets, FourBySixSheetByteForByte)
{
    SheetDevice sheet("PageSize=102x153mm");
    // Yellow, magenta and cyan differ so that a swap would show.
    sheet.PutPlane(0, 0, 1266, 1836, [](int r, int) { return static_cast<uint8_t>(r % 200); });
    sheet.PutPlane(0, 1, 1266, 1836, [](int, int c) { return static_cast<uint8_t>(c % 250); });
    sheet.PutPlane(0, 2, 1266, 1836, [](int, int) { return static_cast<uint8_t>(7); });
    ASSERT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, sheet.device.m_media), 0);
    const std::vector<uint8_t> bytes = sheet.Output();
    ASSERT_EQ(bytes.size(), 3u * 2586208u);

    const char* names[3] = {"YPLANE", "MPLANE", "CPLANE"};
    for (int p = 0; p < 3; ++p) {
        SCOPED_TRACE(names[p]);
        const std::vector<uint8_t> packet(bytes.begin() + p * 2586208L, bytes.begin() + (p + 1) * 2586208L);
        EXPECT_EQ(std::string(packet.begin(), packet.begin() + 32),
                  std::string("\x1bPIMAGE ") + names[p] + "          02586176");
        EXPECT_EQ(packet[32], 'B');
        EXPECT_EQ(packet[33], 'M');
        EXPECT_EQ(LE4(packet, 34), 2586176u);
        EXPECT_EQ(LE4(packet, 38), 0u);
        EXPECT_EQ(LE4(packet, 42), 1088u);
        EXPECT_EQ(LE4(packet, 46), 40u);
        EXPECT_EQ(LE4(packet, 50), 1408u);
        EXPECT_EQ(LE4(packet, 54), 1836u);
        EXPECT_EQ(packet[58] | packet[59] << 8, 1);
        EXPECT_EQ(packet[60] | packet[61] << 8, 8);
        EXPECT_EQ(LE4(packet, 62), 0u);
        EXPECT_EQ(LE4(packet, 66), 2585088u);
        EXPECT_EQ(LE4(packet, 70), 11811u);
        EXPECT_EQ(LE4(packet, 74), 11811u);
        EXPECT_EQ(LE4(packet, 78), 256u);
        EXPECT_EQ(LE4(packet, 82), 256u);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(packet[86 + i * 4], i);
            ASSERT_EQ(packet[87 + i * 4], i);
            ASSERT_EQ(packet[88 + i * 4], i);
            ASSERT_EQ(packet[89 + i * 4], 0);
        }
        for (int i = 1110; i < 1120; ++i)
            ASSERT_EQ(packet[i], 0);
        // The picture occupies columns 71..1336; the rest is white.
        for (int row = 0; row < 1836; ++row) {
            const uint8_t* line = packet.data() + 1120 + row * 1408;
            for (int col = 0; col < 1408; ++col) {
                uint8_t expected = 255;
                if (col >= 71 && col <= 1336) {
                    const int c = col - 71;
                    expected = p == 0 ? row % 200 : p == 1 ? c % 250 : 7;
                }
                ASSERT_EQ(line[col], expected) << "row " << row << " col " << col;
            }
        }
    }
}

TEST(PlanePackets, TallImageKeepsItsBottomRowsAndNarrowIsCentred)
{
    const size_t packetSize = 32 + 1088 + 1408u * 2772u;
    {
        SheetDevice sheet("PageSize=115x115mm Resolution=300x600dpi");
        ASSERT_EQ(sheet.device.m_media.planeHeight, 2772);
        // Taller and wider than the plane: its bottom rows and left columns.
        for (int colour = 0; colour < 3; ++colour)
            sheet.PutPlane(0, colour, 1500, 3000, [](int r, int c) { return static_cast<uint8_t>((r + c) % 256); });
        ASSERT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, sheet.device.m_media), 0);
        const std::vector<uint8_t> bytes = sheet.Output();
        ASSERT_EQ(bytes.size(), 3 * packetSize);
        EXPECT_EQ(LE4(bytes, 74), 23622u);
        const uint8_t* cyan = bytes.data() + 2 * packetSize + 1120;
        EXPECT_EQ(cyan[0], 0);
        EXPECT_EQ(cyan[2771 * 1408 + 1407], (2771 + 1407) % 256);
    }
    {
        SheetDevice sheet("PageSize=115x115mm Resolution=300x600dpi");
        // Shorter and narrower: centred both ways.
        for (int colour = 0; colour < 3; ++colour)
            sheet.PutPlane(0, colour, 1000, 2000, [](int, int) { return static_cast<uint8_t>(1); });
        ASSERT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, sheet.device.m_media), 0);
        const std::vector<uint8_t> bytes = sheet.Output();
        ASSERT_EQ(bytes.size(), 3 * packetSize);
        const uint8_t* magenta = bytes.data() + packetSize + 1120;
        const int top = (2772 - 2000) / 2;
        const int left = (1408 - 1000) / 2;
        EXPECT_EQ(magenta[(top - 1) * 1408 + 700], 255);
        EXPECT_EQ(magenta[top * 1408 + left - 1], 255);
        EXPECT_EQ(magenta[top * 1408 + left], 1);
        EXPECT_EQ(magenta[(top + 1999) * 1408 + left + 999], 1);
        EXPECT_EQ(magenta[(top + 1999) * 1408 + left + 1000], 255);
        EXPECT_EQ(magenta[(top + 2000) * 1408 + left], 255);
    }
    {
        // An empty slot leaves a white plane.
        SheetDevice sheet("PageSize=115x115mm");
        ASSERT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, sheet.device.m_media), 0);
        const std::vector<uint8_t> bytes = sheet.Output();
        for (size_t i = 1120; i < 1120 + 1408u * 1386u; ++i)
            ASSERT_EQ(bytes[i], 255);
    }
}

TEST(PlanePackets, SheetAskingForMoreImagesThanSlotsStaysInBounds)
{
    SheetDevice sheet("PageSize=102x102mm");
    for (int slot = 0; slot < 3; ++slot)
        for (int colour = 0; colour < 3; ++colour)
            sheet.PutPlane(slot, colour, 1266, 1236, [](int, int) { return static_cast<uint8_t>(9); });
    DeviceMediaBufferInfo many = sheet.device.m_media;
    many.planeImagesPerSheet = 7;
    ASSERT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, many), 0);
    const std::vector<uint8_t> bytes = sheet.Output();
    EXPECT_EQ(bytes.size(), 3u * (1120u + 1408u * 1236u));
    EXPECT_EQ(sheet.device.SendImageData(3), 1);
}

TEST(PlanePackets, SheetWithoutGeometryIsNotSent)
{
    SheetDevice sheet("PageSize=A4");
    EXPECT_EQ(sheet.device.m_imageBuffer.Send(&sheet.device, sheet.device.m_media), 3);
    EXPECT_EQ(sheet.device.PrintImageData(sheet.device.m_media), 0);
    // Only the MULTICUT packet went out, no planes and no START.
    const auto packets = filtertest::Packets(sheet.Output());
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].param, "MULTICUT");
    EXPECT_EQ(sheet.device.m_imageBuffer.SetImageData(3, nullptr), 3);
    EXPECT_EQ(sheet.device.m_imageBuffer.SetImageData(-1, nullptr), 3);
}

// A white page image of w x h processed with the device's settings.
struct Processed {
    Processed(const char* options, long w, long h)
        : sheet(options)
    {
        const size_t stride = ((static_cast<size_t>(w) * 24 + 31) / 32) * 4;
        unsigned char* pixels = static_cast<unsigned char*>(std::malloc(stride * static_cast<size_t>(h) + 1));
        std::memset(pixels, 128, stride * static_cast<size_t>(h) + 1);
        image = sheet.device.MakeImageData(pixels, w, h, 0);
    }
    ~Processed()
    {
        IL_FreeBitmap(image);
        std::free(image);
    }
    SheetDevice sheet;
    _tagBITMAPHANDLE* image = nullptr;
};

TEST(PageProcessing, ResolutionFittingAndBorderSizes)
{
    REQUIRE_IMAGE_LIBRARY();
    {
        Processed plain("PageSize=102x153mm", 1266, 1836);
        ASSERT_NE(plain.image, nullptr);
        EXPECT_EQ(plain.image->width, 1266);
        EXPECT_EQ(plain.image->height, 1836);
        EXPECT_EQ(plain.image->bitsPerPixel, 24);
    }
    {
        Processed border("PageSize=102x153mm ZpxBorder=Enable", 1266, 1836);
        EXPECT_EQ(border.image->width, 1134);
        EXPECT_EQ(border.image->height, 1644);
        // The strips fill 895 + 748 rows; the top row stays white.
        const uint8_t* top = border.image->pData + static_cast<size_t>(1643) * border.image->bytesPerRow;
        EXPECT_EQ(top[0], 255);
        EXPECT_EQ(top[3 * 500 + 1], 255);
        const uint8_t* below = top - border.image->bytesPerRow;
        EXPECT_NEAR(below[3 * 500 + 1], 128, 2);
    }
    {
        Processed wide("PageSize=115x153mm ZpxBorder=Enable", 1408, 1836);
        EXPECT_EQ(wide.image->width, 1276);
        EXPECT_EQ(wide.image->height, 1663);
    }
    {
        Processed fine("PageSize=102x153mm Resolution=600x600dpi", 2532, 3672);
        EXPECT_EQ(fine.image->width, 1266);
        EXPECT_EQ(fine.image->height, 3672);
    }
}

TEST(PageProcessing, BorderEdgeCasesStayInsideTheImage)
{
    REQUIRE_IMAGE_LIBRARY();
    {
        // No page size: no border (the factor would be 0 / 0).
        Processed unknown("PageSize=A4 ZpxBorder=Enable", 300, 200);
        EXPECT_EQ(unknown.image->width, 300);
        EXPECT_EQ(unknown.image->height, 200);
    }
    {
        // The second strip of one row shrinks to 0 rows and is skipped.
        Processed thin("PageSize=102x153mm ZpxBorder=Enable", 1266, 1001);
        EXPECT_EQ(thin.image->width, 1134);
        EXPECT_EQ(thin.image->height, 896);
    }
    {
        // A page of 1 dot shrinks to nothing: it is kept as it is.
        Processed dot("PageSize=102x153mm ZpxBorder=Enable", 1, 1);
        EXPECT_EQ(dot.image->width, 1);
        EXPECT_EQ(dot.image->height, 1);
        Processed line("PageSize=102x153mm ZpxBorder=Enable", 1266, 1);
        EXPECT_EQ(line.image->height, 1);
        Processed two("PageSize=102x153mm ZpxBorder=Enable", 2, 2);
        EXPECT_EQ(two.image->width, 1);
        EXPECT_EQ(two.image->height, 1);
    }
}

}  // namespace
