// The stream preview tool on a real filter job: packet summary and the PNG
// of the sheet, and its refusal of a malformed stream.
#include "FilterTestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <png.h>

using namespace filtertest;

namespace {

struct Png {
    bool ok = false;
    png_uint_32 width = 0, height = 0;
    std::vector<png_byte> rgb;
    const png_byte* At(png_uint_32 x, png_uint_32 y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Png ReadPng(const std::string& path)
{
    Png result;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return result;
    image.format = PNG_FORMAT_RGB;
    result.width = image.width;
    result.height = image.height;
    result.rgb.resize(PNG_IMAGE_SIZE(image));
    result.ok = png_image_finish_read(&image, nullptr, result.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return result;
}

TEST(StreamPreview, SummaryAndSheetPictureOfAFilterJob)
{
    TempDir dir;
    RasterPage page;
    page.width = 1266;
    page.height = 1836;
    // Red upper half, blue lower half.
    page.pixel = [](unsigned, unsigned y, uint8_t rgb[3]) {
        rgb[0] = y < 918 ? 255 : 0;
        rgb[1] = 0;
        rgb[2] = y < 918 ? 0 : 255;
    };
    ASSERT_TRUE(WriteRasterFile(dir.Path("job.ras"), {page}));
    JobStartFile start;
    FilterRun job = RunFilter(start.JobId(), "PageSize=102x153mm ZpxOvercoatFinish=Matte ZpxDecurl=Enable",
                              dir.Path("job.ras"), "");
    ASSERT_EQ(job.exitStatus, 0);
    FILE* file = std::fopen(dir.Path("job.zpx").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(job.output.data(), 1, job.output.size(), file);
    std::fclose(file);

    FilterRun preview = RunProgram(VANTORA_PREVIEW_PROGRAM, {"-p", dir.Path("preview"), dir.Path("job.zpx")}, "", "");
    ASSERT_EQ(preview.exitStatus, 0) << preview.errors;
    const std::string summary(preview.output.begin(), preview.output.end());
    for (const char* line : {"11 packets", "CNTRL/OVERCOAT len 8: 00000001 (finish matte)",
                             "CNTRL/DECURL len 12: 010000000000 (decurl on)", "IMAGE/MULTICUT len 8: 00000048 (media 102x153mm)",
                             "IMAGE/CPLANE len 2586176: 1408 x 1836 dots, 8-bit, 300 x 300 dpi", "sheet 1: 102x153mm"})
        EXPECT_NE(summary.find(line), std::string::npos) << line << "\n" << summary;

    const Png png = ReadPng(dir.Path("preview-sheet-1.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, 1266u);
    EXPECT_EQ(png.height, 1836u);
    if (ImageLibraryPresent()) {
        EXPECT_EQ(png.At(0, 0)[0], 255);
        EXPECT_EQ(png.At(0, 0)[2], 0);
        EXPECT_EQ(png.At(1265, 1835)[0], 0);
        EXPECT_EQ(png.At(1265, 1835)[2], 255);
    }
}

TEST(StreamPreview, MalformedStreamIsReported)
{
    TempDir dir;
    FILE* file = std::fopen(dir.Path("bad.zpx").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("\x1bPCNTRL CUTTER          000000990000", file);
    std::fclose(file);
    FilterRun preview = RunProgram(VANTORA_PREVIEW_PROGRAM, {dir.Path("bad.zpx")}, "", "");
    EXPECT_EQ(preview.exitStatus, 1);
    EXPECT_NE(preview.errors.find("inside the payload"), std::string::npos) << preview.errors;
    FilterRun usage = RunProgram(VANTORA_PREVIEW_PROGRAM, {"-x"}, "", "");
    EXPECT_EQ(usage.exitStatus, 2);
}

}  // namespace
