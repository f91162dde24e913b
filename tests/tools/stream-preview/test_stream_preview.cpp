// The stream preview tool on a real filter job: packet summary and the PNG
// of the sheet, and its refusal of a malformed stream.
#include "FilterTestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>
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

// The rows of a preview crossed by a cut line: rows holding both pure black
// and pure white on a page of plain grey.
std::vector<int> CutLineRows(const Png& png)
{
    std::vector<int> rows;
    for (png_uint_32 y = 0; y < png.height; ++y) {
        bool black = false, white = false;
        for (png_uint_32 x = 0; x < png.width; ++x) {
            const png_byte* pixel = png.At(x, y);
            black = black || (pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0);
            white = white || (pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255);
        }
        if (black && white)
            rows.push_back(static_cast<int>(y));
    }
    return rows;
}

// Runs the filter on a grey page with `options` and previews its sheet;
// the filter's messages go to *errors.
Png PreviewOfGreyPage(TempDir& dir, const char* options, unsigned width, unsigned height, unsigned ydpi,
                      std::string* errors)
{
    RasterPage page;
    page.width = width;
    page.height = height;
    page.ydpi = ydpi;
    page.pixel = [](unsigned, unsigned, uint8_t rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 128; };
    EXPECT_TRUE(WriteRasterFile(dir.Path("grey.ras"), {page}));
    JobStartFile start;
    FilterRun job = RunFilter(start.JobId(), options, dir.Path("grey.ras"), "");
    EXPECT_EQ(job.exitStatus, 0) << job.errors;
    *errors = job.errors;
    FILE* file = std::fopen(dir.Path("grey.zpx").c_str(), "wb");
    if (file == nullptr)
        return Png{};
    std::fwrite(job.output.data(), 1, job.output.size(), file);
    std::fclose(file);
    FilterRun preview = RunProgram(VANTORA_PREVIEW_PROGRAM, {"-p", dir.Path("grey"), dir.Path("grey.zpx")}, "", "");
    EXPECT_EQ(preview.exitStatus, 0) << preview.errors;
    return ReadPng(dir.Path("grey-sheet-1.png"));
}

// A sheet asking for the 2-inch cut shows a dashed line at each cut, 2 and 4
// inches into a 6-inch page, at 300 and 600 dpi alike; a sheet without the
// cut, or of a size that cannot take it, shows none, and that job is told
// its cut is dropped.
TEST(StreamPreview, TwoInchCutShowsWhereThePrinterCuts)
{
    TempDir dir;
    std::string errors;
    const std::vector<int> expected = {617, 618, 619, 1217, 1218, 1219};
    Png png = PreviewOfGreyPage(dir, "PageSize=102x153mm Zpx2InchCut=Enable", 1266, 1836, 300, &errors);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(CutLineRows(png), expected);
    EXPECT_EQ(errors.find("2-inch"), std::string::npos) << errors;

    png = PreviewOfGreyPage(dir, "PageSize=102x153mm Zpx2InchCut=Enable Resolution=300x600dpi", 1266, 3672, 600,
                            &errors);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.height, 1836u);
    EXPECT_EQ(CutLineRows(png), expected);

    png = PreviewOfGreyPage(dir, "PageSize=102x153mm", 1266, 1836, 300, &errors);
    ASSERT_TRUE(png.ok);
    EXPECT_TRUE(CutLineRows(png).empty());

    png = PreviewOfGreyPage(dir, "PageSize=115x115mm Zpx2InchCut=Enable", 1408, 1386, 300, &errors);
    ASSERT_TRUE(png.ok);
    EXPECT_TRUE(CutLineRows(png).empty());
    EXPECT_NE(errors.find("INFO: The 4.5x4.5 in page cannot be cut into 2-inch strips"), std::string::npos) << errors;
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
