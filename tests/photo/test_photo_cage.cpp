// The caged photo decoder: its confinement and limits, the exact page it
// hands back, the checks made on a photo's bytes before decoding, and the
// hostile photos (make_hostile_photos.py) refused by vantora_rt50_photo
// with their reason.
#include "Cage.h"
#include "FilterTestKit.h"
#include "PhotoCage.h"
#include "PhotoChecks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vantora_photo;

namespace {

std::string TestPhoto(const std::string& name)
{
    return std::string(VANTORA_TEST_PHOTOS) + "/" + name;
}

std::vector<unsigned char> Bytes(const std::string& name)
{
    std::ifstream file(TestPhoto(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(PhotoChecks, FormatsAreKnownByTheirBytesAndDeclaredTypes)
{
    const struct {
        const char* photo;
        PhotoFormat format;
    } files[] = {{"srgb.jpg", PhotoFormat::Jpeg},        {"corrupt.png", PhotoFormat::Png},
                 {"mismatch.tif", PhotoFormat::Tiff},    {"mismatch.gif", PhotoFormat::Gif},
                 {"mismatch.webp", PhotoFormat::Webp},   {"scene.heic", PhotoFormat::Heif},
                 {"grid-bomb.heic", PhotoFormat::Heif},  {"text.jpg", PhotoFormat::Unknown}};
    for (const auto& file : files) {
        const std::vector<unsigned char> bytes = Bytes(file.photo);
        EXPECT_EQ(SniffPhotoFormat(bytes.data(), bytes.size()), file.format) << file.photo;
        // A signature cut short is no format.
        EXPECT_EQ(SniffPhotoFormat(bytes.data(), 2), PhotoFormat::Unknown) << file.photo;
    }
    EXPECT_EQ(FormatOfType("image/heic"), PhotoFormat::Heif);
    EXPECT_EQ(FormatOfType("image/avif"), PhotoFormat::Heif);
    EXPECT_EQ(FormatOfType("image/jpeg"), PhotoFormat::Jpeg);
    EXPECT_EQ(FormatOfType("image/jpeg2000"), PhotoFormat::Unknown);
    EXPECT_EQ(FormatOfType("application/pdf"), PhotoFormat::Unknown);
    EXPECT_EQ(FormatOfType(nullptr), PhotoFormat::Unknown);

    // A HEIF's type by its coding: the major brand, else the compatible
    // brands within the ftyp box (a brand past its end does not count).
    const struct {
        std::string ftyp;
        const char* type;
    } brands[] = {
        {std::string("\0\0\0\x18" "ftypheic\0\0\0\0" "mif1heic", 24), "image/heic"},
        {std::string("\0\0\0\x18" "ftypmif1\0\0\0\0" "miafavif", 24), "image/avif"},
        {std::string("\0\0\0\x14" "ftypmif1\0\0\0\0" "miaf" "heic", 24), "image/heif"},
        {std::string("\0\0\0\x10" "ftypisom\0\0\0\0", 16), nullptr},
        {std::string("II*\0" "ftypavif\0\0\0\0", 16), nullptr},   // a TIFF's signature first
    };
    for (const auto& brand : brands) {
        const auto* data = reinterpret_cast<const unsigned char*>(brand.ftyp.data());
        const char* type = HeifType(data, brand.ftyp.size());
        EXPECT_STREQ(type, brand.type) << brand.ftyp.substr(8);
    }
    const std::vector<unsigned char> scene = Bytes("scene.heic");
    EXPECT_STREQ(HeifType(scene.data(), scene.size()), "image/heic");
    const std::vector<unsigned char> avif = Bytes("scene.avif");
    EXPECT_STREQ(HeifType(avif.data(), avif.size()), "image/avif");
    const std::vector<unsigned char> jpeg = Bytes("srgb.jpg");
    EXPECT_EQ(HeifType(jpeg.data(), jpeg.size()), nullptr);
}

// Scans counted to the limit and no further, on whole and cut files.
TEST(PhotoChecks, JpegScansAreCountedWithinTheBytesGiven)
{
    const std::vector<unsigned char> baseline = Bytes("srgb.jpg");
    EXPECT_EQ(CountJpegScans(baseline.data(), baseline.size(), kMaxJpegScans), 1);
    const std::vector<unsigned char> progressive = Bytes("progressive.jpg");
    const int scans = CountJpegScans(progressive.data(), progressive.size(), kMaxJpegScans);
    EXPECT_GE(scans, 5);
    EXPECT_LE(scans, 20);
    const std::vector<unsigned char> bomb = Bytes("scan-bomb.jpg");
    EXPECT_EQ(CountJpegScans(bomb.data(), bomb.size(), kMaxJpegScans), kMaxJpegScans + 1);
    EXPECT_EQ(CountJpegScans(bomb.data(), bomb.size(), 1 << 20), 40000);
    for (size_t length = 0; length < progressive.size(); length += 61)
        EXPECT_LE(CountJpegScans(progressive.data(), length, kMaxJpegScans), scans) << length;
}

// A grid is as large as its tiles, whatever size it states; a container
// cut anywhere is read no further than its bytes.
TEST(PhotoChecks, HeifGridIsJudgedByItsTiles)
{
    int64_t pixels = 0;
    std::string problem;
    const std::vector<unsigned char> grid = Bytes("grid-bomb.heic");
    ASSERT_TRUE(HeifDecodedPixels(grid.data(), grid.size(), &pixels, &problem)) << problem;
    EXPECT_EQ(pixels, int64_t{961} * 512 * 512);
    const std::vector<unsigned char> scene = Bytes("scene.heic");
    ASSERT_TRUE(HeifDecodedPixels(scene.data(), scene.size(), &pixels, &problem)) << problem;
    EXPECT_EQ(pixels, 320 * 480);
    for (size_t length = 0; length < grid.size(); ++length) {
        int64_t cut = 0;
        if (HeifDecodedPixels(grid.data(), length, &cut, &problem)) {
            EXPECT_LE(cut, int64_t{961} * 512 * 512) << length;
        }
    }
}

// Once locked down, a decoder opens no file, makes no socket and starts
// no program.
TEST(PhotoCage, LockedDownDecoderOpensNoFileSocketOrProgram)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);   // open before: still usable
        if (vantora_cage::LockDownProcess() != 2)
            _exit(1);
        int failed = 0;
        char byte = 0;
        if (read(fd, &byte, 1) != 0)
            failed |= 2;
        if (open("/etc/hostname", O_RDONLY) >= 0 || open("/tmp", O_RDONLY | O_DIRECTORY) >= 0)
            failed |= 4;
        if (open("/tmp/caged-decoder-was-here", O_WRONLY | O_CREAT, 0600) >= 0)
            failed |= 8;
        if (socket(AF_INET, SOCK_STREAM, 0) >= 0 || socket(AF_UNIX, SOCK_STREAM, 0) >= 0 ||
            socket(AF_INET6, SOCK_DGRAM, 0) >= 0)
            failed |= 16;
        execl("/bin/true", "true", static_cast<char*>(nullptr));
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not locked down, 2: its input lost, 4: a file read, 8: a file made, "
                                         "16: a socket made, 0 after exec: a program started";
}

std::atomic<bool> g_cancel{false};
bool Canceled(void*)
{
    return g_cancel.load();
}

// A spinning child ends at the job's CPU budget, which it uses up; a
// spent budget starts nothing; a cancel ends a child at once; a root
// caller's child runs as nobody.
TEST(PhotoCage, BudgetCancelAndUserBoundTheChild)
{
    vantora_cage::CageLimits limits;
    limits.cpuSeconds = 20;
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(input, 0);
    vantora_cage::CpuBudget budget{1.0};
    const char* const spin[] = {"/bin/sh", "-c", "while :; do :; done", nullptr};
    vantora_cage::CageOutcome outcome = vantora_cage::RunCaged(spin, input, limits, 100, false, {}, &budget);
    EXPECT_EQ(outcome.result, vantora_cage::CageResult::Failed);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_GE(outcome.cpuSeconds, 0.5);
    EXPECT_LT(budget.secondsLeft, 0.5);
    outcome = vantora_cage::RunCaged(spin, input, limits, 100, false, {}, &budget);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.cpuSeconds, 0.0) << "a spent budget started a program";

    g_cancel = false;
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        g_cancel = true;
    });
    const char* const sleeper[] = {"/bin/sleep", "100", nullptr};
    outcome = vantora_cage::RunCaged(sleeper, input, limits, 100, false, {Canceled, nullptr}, nullptr);
    canceller.join();
    EXPECT_EQ(outcome.result, vantora_cage::CageResult::Canceled);

    const char* const who[] = {"/usr/bin/id", "-u", nullptr};
    outcome = vantora_cage::RunCaged(who, input, limits, 100, false, {}, nullptr);
    EXPECT_EQ(outcome.result, vantora_cage::CageResult::Done);
    EXPECT_EQ(outcome.output, geteuid() == 0 ? "65534\n" : std::to_string(geteuid()) + "\n");
    close(input);
}

// The caged decoder's page is byte for byte the page decoded in process;
// a decoder that answers anything but that page is not believed.
TEST(PhotoCage, CagedPageIsTheInProcessPageAndNothingElseIsTaken)
{
    PageRequest request;
    request.width = 1266;
    request.height = 1836;
    SetPhotoDecoderProgram(VANTORA_PHOTO_PROGRAM);
    for (const char* name : {"orientation-6.jpg", "scene.heic", "adobe.jpg"}) {
        SCOPED_TRACE(name);
        const int fd = open(TestPhoto(name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        RenderedPage direct, caged;
        std::string reason;
        ASSERT_EQ(RenderPhoto(fd, request, &direct, &reason), RenderResult::Done) << reason;
        ASSERT_EQ(RenderPhotoCaged(fd, request, nullptr, &caged, &reason), RenderResult::Done) << reason;
        EXPECT_EQ(std::memcmp(direct.pixels, caged.pixels, PageRowBytes(request.width) * request.height), 0);
        std::free(direct.pixels);
        std::free(caged.pixels);
        close(fd);
    }
    const int fd = open(TestPhoto("srgb.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    // A job that has used its CPU time decodes nothing more.
    vantora_cage::CpuBudget spent{0.2};
    RenderedPage page;
    std::string reason;
    EXPECT_EQ(RenderPhotoCaged(fd, request, &spent, &page, &reason), RenderResult::Refused);
    EXPECT_EQ(reason, "The job has used its processing time (180 seconds)");
    // A service that is not the decoder (ended, or never started) gives
    // no page.
    for (const char* liar : {"/bin/echo", "/bin/false", "/nonexistent/decoder"}) {
        SetPhotoDecoderProgram(liar);
        EXPECT_EQ(RenderPhotoCaged(fd, request, nullptr, &page, &reason), RenderResult::Refused) << liar;
        EXPECT_TRUE(reason == "The photo decoder cannot be started" ||
                    reason == "The photo could not be decoded: the decoder ended without an answer")
            << liar << ": " << reason;
        EXPECT_EQ(page.pixels, nullptr);
    }
    close(fd);
    SetPhotoDecoderProgram("/proc/self/exe");
}

// vantora_rt50_photo as CUPS runs it, the document's type in CONTENT_TYPE:
// bombs and photos of another format than their type end refused, with
// their reason, long before a bomb would have ended.
TEST(HostilePhotos, RefusedWithTheirReasonWithinSeconds)
{
    const struct {
        const char* photo;
        const char* type;
        const char* reason;
    } cases[] = {
        {"grid-bomb.heic", "image/heic",
         "ERROR: The photo is too large (252 megapixels when decoded, at most 24 megapixels"},
        {"wide.webp", "image/webp", "ERROR: The photo is too large (16383 x 6103 pixels, at most 24 megapixels"},
        {"scan-bomb.jpg", "image/jpeg", "ERROR: The photo has too many scans (more than 100)."},
        {"mismatch.tif", "image/jpeg", "ERROR: The photo was sent as JPEG but is a TIFF file."},
        {"mismatch.gif", "image/png", "ERROR: The photo was sent as PNG but is a GIF file."},
        {"mismatch.webp", "image/jpeg", "ERROR: The photo was sent as JPEG but is a WebP file."},
        {"scene.heic", "image/png", "ERROR: The photo was sent as PNG but is a HEIF file."},
        {"srgb.jpg", "image/heic", "ERROR: The photo was sent as HEIF but is a JPEG file."},
    };
    using Clock = std::chrono::steady_clock;
    std::vector<std::future<std::pair<filtertest::FilterRun, double>>> runs;
    for (const auto& c : cases) {
        runs.push_back(std::async(std::launch::async, [&c] {
            filtertest::JobStartFile start;
            const Clock::time_point began = Clock::now();
            filtertest::FilterRun run = filtertest::RunProgram(
                "/usr/bin/env",
                {std::string("CONTENT_TYPE=") + c.type, VANTORA_PHOTO_PROGRAM, start.JobId(), "user", "photo", "1",
                 "", TestPhoto(c.photo)},
                filtertest::BuiltPpd(), "");
            return std::make_pair(run, std::chrono::duration<double>(Clock::now() - began).count());
        }));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].photo);
        const auto [run, seconds] = runs[i].get();
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_TRUE(run.output.empty());
        EXPECT_NE(run.errors.find(cases[i].reason), std::string::npos) << run.errors;
        // The bombs took tens of seconds; refused, they take a second's
        // pause and moments more (generous for a loaded machine).
        EXPECT_LT(seconds, 30.0);
    }
}

}  // namespace
