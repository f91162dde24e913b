// The photo front end through vantora_rt50_photo as CUPS runs it, checked on
// the printed sheet: orientation tags, colour profiles, grey, damaged,
// oversized and cancelled photos; and the cancel check while decoding in
// process, as the printer application decodes.
#include "FilterTestKit.h"
#include "PhotoJob.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filtertest;

namespace {

// A test photo, made at build time by make_test_photos.sh.
std::string TestPhoto(const std::string& name)
{
    return std::string(VANTORA_TEST_PHOTOS) + "/" + name;
}

// vantora_rt50_photo on `photo` with the queue's PPD, as CUPS runs it; the
// photo on standard input when `onStandardInput`.
FilterRun PrintPhoto(const std::string& photo, const std::string& options, bool onStandardInput)
{
    JobStartFile start;
    if (onStandardInput)
        return RunProgram(VANTORA_PHOTO_PROGRAM, {start.JobId(), "user", "photo", "1", options}, BuiltPpd(), photo);
    return RunProgram(VANTORA_PHOTO_PROGRAM, {start.JobId(), "user", "photo", "1", options, photo}, BuiltPpd(), "");
}

// PrintPhoto on the test photos `cases[i].photo` at once (each job waits a
// second for its job start file), in order.
template <typename Case, size_t N>
std::vector<FilterRun> PrintPhotos(const Case (&cases)[N])
{
    std::vector<std::future<FilterRun>> runs;
    for (const Case& c : cases)
        runs.push_back(std::async(std::launch::async, PrintPhoto, TestPhoto(c.photo), "", false));
    std::vector<FilterRun> results;
    for (std::future<FilterRun>& run : runs)
        results.push_back(run.get());
    return results;
}

// The one sheet of a run; fails the test otherwise.
StreamSheet OnlySheet(const FilterRun& run)
{
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    std::vector<StreamSheet> sheets;
    std::string error;
    EXPECT_TRUE(CollectSheets(Packets(run.output), sheets, &error)) << error;
    EXPECT_EQ(sheets.size(), 1u);
    return sheets.empty() ? StreamSheet{} : sheets[0];
}

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// The printed colour of page dot (x, y), y from the top of the page: red,
// green and blue from the cyan, magenta and yellow planes, the page being
// the media's width in the middle of the head.
Rgb Dot(const StreamSheet& sheet, int x, int y)
{
    const int left = (sheet.cyan.width - MediaWidthForMulticut(sheet.multicut)) / 2;
    return {static_cast<double>(sheet.cyan.At(left + x, y)), static_cast<double>(sheet.magenta.At(left + x, y)),
            static_cast<double>(sheet.yellow.At(left + x, y))};
}

// Mean colour of a square of `size` dots at (x, y).
Rgb Mean(const StreamSheet& sheet, int x, int y, int size)
{
    Rgb sum;
    for (int j = y; j < y + size; ++j) {
        for (int i = x; i < x + size; ++i) {
            const Rgb dot = Dot(sheet, i, j);
            sum.r += dot.r;
            sum.g += dot.g;
            sum.b += dot.b;
        }
    }
    const double n = static_cast<double>(size) * size;
    return {sum.r / n, sum.g / n, sum.b / n};
}

// The page corners whose square of 160 dots (40 dots in from the edges)
// is the green mark: "top-left", "top-right", "bottom-left",
// "bottom-right", joined by spaces.
std::string MarkedCorners(const StreamSheet& sheet)
{
    const int width = MediaWidthForMulticut(sheet.multicut);
    const int height = sheet.cyan.height;
    const struct {
        const char* name;
        int x, y;
    } corners[] = {{"top-left", 40, 40},
                   {"top-right", width - 200, 40},
                   {"bottom-left", 40, height - 200},
                   {"bottom-right", width - 200, height - 200}};
    std::string marked;
    for (const auto& corner : corners) {
        const Rgb mean = Mean(sheet, corner.x, corner.y, 160);
        if (mean.g - mean.r > 100 && mean.g - mean.b > 100)
            marked += std::string(marked.empty() ? "" : " ") + corner.name;
    }
    return marked;
}

class PhotoFilter : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ImageLibraryPresent())
            GTEST_SKIP() << "the image library is a placeholder: no sheet pixels to check";
    }
};

// Each orientation tag stores other pixels of the same portrait scene; all
// print the scene upright, its marked corner at the page's top left. An
// untagged landscape photo is laid on the portrait page turned a quarter
// anticlockwise, its top-left corner at the page's bottom left.
TEST_F(PhotoFilter, EveryOrientationTagPrintsTheSceneUpright)
{
    const struct {
        const char* photo;
        const char* corner;
    } cases[] = {
        {"orientation-1.jpg", "top-left"}, {"orientation-2.jpg", "top-left"}, {"orientation-3.jpg", "top-left"},
        {"orientation-4.jpg", "top-left"}, {"orientation-5.jpg", "top-left"}, {"orientation-6.jpg", "top-left"},
        {"orientation-7.jpg", "top-left"}, {"orientation-8.jpg", "top-left"}, {"landscape.jpg", "bottom-left"},
    };
    const std::vector<FilterRun> runs = PrintPhotos(cases);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].photo);
        const StreamSheet sheet = OnlySheet(runs[i]);
        ASSERT_TRUE(sheet.complete);
        EXPECT_EQ(MarkedCorners(sheet), cases[i].corner);
    }
}

// A HEIF is turned by its own transform properties (irot), which libheif
// applies, never by an EXIF orientation tag beside them: a phone's photo
// taken sideways prints upright once, not turned twice by the tag it also
// carries, and a photo whose turn is only in an EXIF tag prints as stored.
TEST_F(PhotoFilter, HeifTurnsByItsTransformPropertiesNotByExif)
{
    const struct {
        const char* photo;
        const char* corner;
    } cases[] = {
        {"heif-irot.heic", "top-left"},
        {"heif-irot-exif.heic", "top-left"},
        {"heif-exif-only.heic", "bottom-right"},
    };
    const std::vector<FilterRun> runs = PrintPhotos(cases);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].photo);
        const StreamSheet sheet = OnlySheet(runs[i]);
        ASSERT_TRUE(sheet.complete);
        EXPECT_EQ(MarkedCorners(sheet), cases[i].corner);
    }
}

// The same scene saved in Adobe RGB with its profile prints like the sRGB
// original (read as sRGB, its values would print washed out).
TEST_F(PhotoFilter, AdobeRgbPhotoPrintsLikeItsSrgbOriginal)
{
    const struct {
        const char* photo;
    } photos[] = {{"srgb.jpg"}, {"adobe.jpg"}};
    const std::vector<FilterRun> runs = PrintPhotos(photos);
    const StreamSheet srgb = OnlySheet(runs[0]);
    const StreamSheet adobe = OnlySheet(runs[1]);
    ASSERT_TRUE(srgb.complete && adobe.complete);
    double difference = 0;
    double saturationSrgb = 0;
    double saturationAdobe = 0;
    int count = 0;
    for (int y = 8; y < srgb.cyan.height; y += 16) {
        for (int x = 8; x < MediaWidthForMulticut(srgb.multicut); x += 16) {
            const Rgb a = Dot(srgb, x, y);
            const Rgb b = Dot(adobe, x, y);
            difference += (std::fabs(a.r - b.r) + std::fabs(a.g - b.g) + std::fabs(a.b - b.b)) / 3;
            const auto saturation = [](const Rgb& c) {
                const double high = std::max({c.r, c.g, c.b});
                const double low = std::min({c.r, c.g, c.b});
                return high > 0 ? (high - low) / high : 0.0;
            };
            saturationSrgb += saturation(a);
            saturationAdobe += saturation(b);
            ++count;
        }
    }
    EXPECT_LT(difference / count, 3.0) << "mean difference per channel";
    EXPECT_NEAR(saturationAdobe / count, saturationSrgb / count, 0.02);
}

// Grey when the job asks, whichever way it asks; from standard input too.
TEST_F(PhotoFilter, MonochromeJobsPrintGrey)
{
    std::vector<std::future<FilterRun>> runs;
    const char* const asked[] = {"print-color-mode=monochrome", "ColorModel=Gray"};
    for (const char* options : asked)
        runs.push_back(std::async(std::launch::async, PrintPhoto, TestPhoto("srgb.jpg"), options, true));
    const StreamSheet colour = OnlySheet(PrintPhoto(TestPhoto("srgb.jpg"), "", false));
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(asked[i]);
        const StreamSheet sheet = OnlySheet(runs[i].get());
        ASSERT_TRUE(sheet.complete);
        double spread = 0;
        for (int y = 0; y < sheet.cyan.height; y += 7) {
            for (int x = 0; x < MediaWidthForMulticut(sheet.multicut); x += 7) {
                const Rgb dot = Dot(sheet, x, y);
                spread = std::max({spread, std::fabs(dot.r - dot.g), std::fabs(dot.g - dot.b)});
            }
        }
        EXPECT_LE(spread, 2.0);
    }
    EXPECT_GT(std::fabs(Mean(colour, 500, 900, 200).r - Mean(colour, 500, 900, 200).b), 10.0)
        << "the photo itself is not grey";
}

// Photos that cannot be printed are refused with one ERROR: line and exit
// status 1 before anything is sent, and before anything too large is
// decoded.
TEST(PhotoRefusal, DamagedOversizedAndForeignFilesAreRefused)
{
    const struct {
        const char* photo;
        const char* reason;
    } cases[] = {
        {"truncated.jpg", "ERROR: The photo is damaged: "},
        {"corrupt.png", "ERROR: The photo is damaged: "},
        {"oversized.png", "ERROR: The photo is too large (30000 x 30000 pixels, at most 100 megapixels"},
        {"padded.jpg", "ERROR: The photo file is too large (73.4 MB, at most 64 MiB)."},
        {"text.jpg", "ERROR: The file is not a photo this printer takes"},
    };
    const std::vector<FilterRun> runs = PrintPhotos(cases);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].photo);
        const FilterRun& run = runs[i];
        const auto& c = cases[i];
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_TRUE(run.output.empty());
        EXPECT_NE(run.errors.find(c.reason), std::string::npos) << run.errors;
    }
}

// SIGTERM while the photo is still arriving (or being decoded) ends the
// program at once: status 0, nothing sent.
TEST(PhotoCancel, SigtermWhileReadingThePhotoEndsTheJob)
{
    JobStartFile start;
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(feed[0], 0);
        close(feed[0]);
        close(feed[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        setenv("PPD", BuiltPpd().c_str(), 1);
        execl(VANTORA_PHOTO_PROGRAM, "vantora_rt50_photo", start.JobId().c_str(), "user", "photo", "1", "",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(feed[0]);
    // Half a photo, and the rest never comes. Once the program has taken
    // what came, it is reading the photo.
    const char half[4096] = "\xff\xd8\xff\xe0";
    ASSERT_EQ(write(feed[1], half, sizeof half), static_cast<ssize_t>(sizeof half));
    int unread = 1;
    for (int i = 0; i < kProgramLimitSeconds * 100 && unread > 0; ++i) {
        if (ioctl(feed[1], FIONREAD, &unread) != 0)
            unread = 0;
        if (unread > 0)
            usleep(10 * 1000);
    }
    kill(child, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < kProgramLimitSeconds * 10 && ended == 0; ++i) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0)
            usleep(100 * 1000);
    }
    close(feed[1]);
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the cancelled photo job did not end";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

struct CancelAfter {
    int asked = 0;
    int cancelAt = 0;
};

bool CancelWhenAsked(void* data)
{
    CancelAfter* cancel = static_cast<CancelAfter*>(data);
    return ++cancel->asked >= cancel->cancelAt;
}

// In process (the printer application): the job is asked for a cancel
// while the photo is decoded, and decoding stops when it says so.
TEST(PhotoCancel, DecodingStopsWhenTheJobIsCancelled)
{
    vantora_photo::PageRequest request;
    request.width = 1266;
    request.height = 1836;
    CancelAfter cancel;
    request.isCanceled = CancelWhenAsked;
    request.cancelData = &cancel;
    const int fd = open(TestPhoto("orientation-6.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    // Not cancelled: done, and the job was asked along the way.
    cancel.cancelAt = 1 << 30;
    vantora_photo::RenderedPage page;
    std::string reason;
    ASSERT_EQ(vantora_photo::RenderPhoto(fd, request, &page, &reason), vantora_photo::RenderResult::Done) << reason;
    std::free(page.pixels);
    const int asked = cancel.asked;
    EXPECT_GE(asked, 3);

    // Cancelled after the header was read, while the pixels are decoded.
    cancel = CancelAfter{0, 2};
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    EXPECT_EQ(vantora_photo::RenderPhoto(fd, request, &page, &reason), vantora_photo::RenderResult::Canceled);
    EXPECT_EQ(page.pixels, nullptr);
    EXPECT_LT(cancel.asked, asked);
    close(fd);
}

// A panorama is not cut to a sliver when filling: it is fitted whole,
// turned along the page, with white beside it.
TEST(PhotoRender, PanoramaIsFittedWholeWhenFilling)
{
    vantora_photo::PageRequest request;
    request.width = 1266;
    request.height = 1836;
    const int fd = open(TestPhoto("panorama.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    vantora_photo::RenderedPage page;
    std::string reason;
    ASSERT_EQ(vantora_photo::RenderPhoto(fd, request, &page, &reason), vantora_photo::RenderResult::Done) << reason;
    close(fd);
    const size_t rowBytes = vantora_photo::PageRowBytes(page.width);
    const auto white = [&](int x, int y) {
        const unsigned char* dot = page.pixels + rowBytes * static_cast<size_t>(page.height - 1 - y) + 3 * x;
        return dot[0] == 255 && dot[1] == 255 && dot[2] == 255;
    };
    // 1836 / 8 = 230 dots of photo across the middle of the 1266-dot page.
    EXPECT_TRUE(white(100, 918) && white(1165, 918));
    EXPECT_FALSE(white(633, 100) || white(633, 918) || white(633, 1735));
    std::free(page.pixels);
}

// The job's options: fill unless the job chose how to scale the photo.
TEST(PhotoOptions, ScalingAndColourModeFromTheJobsOptions)
{
    using vantora_photo::Scaling;
    const struct {
        const char* options;
        Scaling scaling;
    } cases[] = {
        {"", Scaling::Fill},
        {"media=102x153mm", Scaling::Fill},
        {"print-scaling=fill", Scaling::Fill},
        {"print-scaling=fit", Scaling::Fit},
        {"print-scaling=none", Scaling::Fit},
        {"print-scaling=auto", Scaling::Auto},
        {"print-scaling=auto-fit", Scaling::Auto},
        {"fit-to-page", Scaling::Fit},
        {"fitplot=true", Scaling::Fit},
        {"fitplot=false", Scaling::Fill},
        {"scaling=80", Scaling::Fit},
        {"ppi=300", Scaling::Fit},
        {"natural-scaling=100", Scaling::Fit},
        {"crop-to-fit", Scaling::Fill},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(c.options, 0, &options);
        EXPECT_EQ(vantora_photo::ScalingOf(count, options), c.scaling);
        EXPECT_FALSE(vantora_photo::MonochromeOf(count, options));
        cupsFreeOptions(count, options);
    }
    for (const char* grey : {"print-color-mode=monochrome", "print-color-mode=process-monochrome", "ColorModel=Gray",
                             "ColorModel=Black"}) {
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(grey, 0, &options);
        EXPECT_TRUE(vantora_photo::MonochromeOf(count, options)) << grey;
        cupsFreeOptions(count, options);
    }
}

}  // namespace
