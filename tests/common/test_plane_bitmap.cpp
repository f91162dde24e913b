// The plane bitmap file: the decoder against the encoder, and against files
// that lie about themselves.
#include "PlaneBitmap.h"
#include "TextFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A plane file whose dot at column x of stored row r is (r * 16 + x) & 0xff.
std::vector<uint8_t> Plane(int width, int height, int xDpi = 300, int yDpi = 300)
{
    std::vector<uint8_t> file(static_cast<size_t>(_PlaneFileSize(width, height)), 0xEE);
    EXPECT_EQ(_EncodePlaneHeader(file.data(), width, height, xDpi, yDpi), 0);
    const size_t stride = static_cast<size_t>(_PlaneRowBytes(width));
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x)
            file[kPlaneFileHeaderSize + r * stride + x] = static_cast<uint8_t>(r * 16 + x);
    return file;
}

int Decode(const std::vector<uint8_t>& file, PlaneBitmapView* view = nullptr, const char** reason = nullptr)
{
    PlaneBitmapView scratch;
    return _DecodePlaneBitmap(file.data(), file.size(), view != nullptr ? view : &scratch, reason);
}

TEST(PlaneBitmap, DecoderReadsBackWhatTheEncoderWrote)
{
    const std::vector<uint8_t> file = Plane(5, 3, 300, 600);
    ASSERT_EQ(file.size(), 1088u + 8u * 3u);
    EXPECT_EQ(_LoadLE4(&file[2]), 1112u);

    PlaneBitmapView view;
    ASSERT_EQ(Decode(file, &view), 0);
    EXPECT_EQ(view.width, 5);
    EXPECT_EQ(view.height, 3);
    EXPECT_EQ(view.rowBytes, 8);
    EXPECT_EQ(view.xPixelsPerMetre, 11811);
    EXPECT_EQ(view.yPixelsPerMetre, 23622);
    EXPECT_EQ(view.rows, file.data() + 1088);
    EXPECT_EQ(view.rows[2 * 8 + 4], 2 * 16 + 4);

    // The largest plane there is, and sizes the encoder refuses.
    EXPECT_EQ(Decode(Plane(kPlaneMaxWidth, 1)), 0);
    uint8_t header[kPlaneFileHeaderSize];
    for (int bad : {0, kPlaneMaxWidth + 1})
        EXPECT_EQ(_EncodePlaneHeader(header, bad, 1, 300, 300), 3);
    EXPECT_EQ(_EncodePlaneHeader(header, 1, kPlaneMaxHeight + 1, 300, 300), 3);
    EXPECT_EQ(_EncodePlaneHeader(header, 1, 1, 0, 300), 3);
    EXPECT_EQ(_EncodePlaneHeader(header, 1, 1, 300, kPlaneMaxDpi + 1), 3);
}

TEST(PlaneBitmap, DecoderRefusesFilesThatLie)
{
    const std::vector<uint8_t> good = Plane(6, 4);
    struct Change {
        size_t offset;
        uint32_t value;
        int bytes;
        const char* what;
    };
    const uint32_t size = static_cast<uint32_t>(good.size());
    const Change changes[] = {
        {0, 'P', 1, "magic"},
        {2, size + 1, 4, "file size larger than the payload"},
        {2, size - 1, 4, "file size smaller than the payload"},
        {6, 1, 4, "reserved"},
        {10, 1078, 4, "pixel offset inside the padding"},
        {10, 0xFFFFFFF0u, 4, "pixel offset outside the payload"},
        {14, 12, 4, "info header size"},
        {18, 0, 4, "width 0"},
        {18, 0x7FFFFFFF, 4, "huge width"},
        {18, 9, 4, "width whose rows need more bytes"},
        {22, 0, 4, "height 0"},
        {22, 0xFFFFFFFCu, 4, "top-down height"},
        {22, 5, 4, "more rows than the payload holds"},
        {22, 0x40000000, 4, "huge height"},
        {26, 2, 2, "planes"},
        {28, 24, 2, "bits per pixel"},
        {30, 1, 4, "compression"},
        {34, 0, 4, "image size"},
        {38, 0, 4, "no horizontal resolution"},
        {42, 0x80000000u, 4, "vertical resolution"},
        {46, 2, 4, "colours used"},
        {54 + 4 * 17 + 1, 0, 1, "palette"},
        {54 + 4 * 255 + 3, 1, 1, "palette's fourth byte"},
        {1080, 1, 1, "padding"},
    };
    for (const Change& change : changes) {
        std::vector<uint8_t> file = good;
        for (int i = 0; i < change.bytes; ++i)
            file[change.offset + i] = static_cast<uint8_t>(change.value >> (8 * i));
        PlaneBitmapView view;
        const char* reason = nullptr;
        EXPECT_EQ(Decode(file, &view, &reason), 3) << change.what;
        EXPECT_NE(reason, nullptr) << change.what;
        EXPECT_EQ(view.rows, nullptr) << change.what;
    }

    // Cut short anywhere, also with a file size field that agrees.
    for (size_t length : {size_t{0}, size_t{1}, size_t{54}, size_t{1087}, size_t{1088}, good.size() - 1}) {
        std::vector<uint8_t> file(good.begin(), good.begin() + static_cast<long>(length));
        if (length >= 6)
            _StoreLE4(&file[2], static_cast<int>(length));
        EXPECT_EQ(Decode(file), 3) << length;
    }
    const char* reason = nullptr;
    PlaneBitmapView view;
    EXPECT_EQ(_DecodePlaneBitmap(nullptr, 2000, &view, &reason), 3);
    EXPECT_EQ(_DecodePlaneBitmap(good.data(), good.size(), nullptr, &reason), 3);
}

}  // namespace
