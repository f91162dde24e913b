// Whole jobs through the real filter program: CUPS raster streams written
// with libcups go in, the command stream is read back packet by packet and
// plane by plane.
#include "DeviceEntryRT50.h"
#include "FilterJob.h"
#include "FilterTestKit.h"
#include "HdxImgLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filtertest;

namespace {

// Quadrants: red top left, green top right, blue bottom left, white bottom
// right; colours that survive the neutral processing unchanged.
void Quadrants(unsigned w, unsigned h, unsigned x, unsigned y, uint8_t rgb[3])
{
    const bool right = x >= w / 2;
    const bool bottom = y >= h / 2;
    rgb[0] = (!right && !bottom) || (right && bottom) ? 255 : 0;
    rgb[1] = (right && !bottom) || (right && bottom) ? 255 : 0;
    rgb[2] = (!right && bottom) || (right && bottom) ? 255 : 0;
}

RasterPage QuadrantPage(unsigned w = 1266, unsigned h = 1836)
{
    RasterPage page;
    page.width = w;
    page.height = h;
    page.pixel = [w, h](unsigned x, unsigned y, uint8_t rgb[3]) { Quadrants(w, h, x, y, rgb); };
    return page;
}

// Red, green and blue of the dot at column x, row y (from the top) of a
// sheet: the cyan, magenta and yellow planes carry them.
void SheetDot(const StreamSheet& sheet, int x, int y, uint8_t rgb[3])
{
    rgb[0] = sheet.cyan.At(x, y);
    rgb[1] = sheet.magenta.At(x, y);
    rgb[2] = sheet.yellow.At(x, y);
}

void ExpectDot(const StreamSheet& sheet, int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t rgb[3];
    SheetDot(sheet, x, y, rgb);
    EXPECT_EQ(rgb[0], r) << "red at " << x << "," << y;
    EXPECT_EQ(rgb[1], g) << "green at " << x << "," << y;
    EXPECT_EQ(rgb[2], b) << "blue at " << x << "," << y;
}

struct Job {
    explicit Job(const std::vector<RasterPage>& pages, const std::string& options = "PageSize=102x153mm",
                 const std::string& ppd = "", bool asFile = false)
    {
        const std::string raster = dir.Path("job.ras");
        EXPECT_TRUE(WriteRasterFile(raster, pages));
        run = RunFilter(start.JobId(), options, raster, ppd, asFile);
        packets = Packets(run.output);
        std::string error;
        EXPECT_TRUE(CollectSheets(packets, sheets, &error)) << error;
    }
    TempDir dir;
    JobStartFile start;
    FilterRun run;
    std::vector<StreamPacket> packets;
    std::vector<StreamSheet> sheets;
};

std::vector<std::string> Expected(int sheets)
{
    std::vector<std::string> names = {"CNTRL/SET_SYS_TIME"};
    for (int i = 0; i < sheets; ++i) {
        const auto sheet = SheetPacketNames();
        names.insert(names.end(), sheet.begin(), sheet.end());
    }
    return names;
}

const StreamPacket* Find(const std::vector<StreamPacket>& packets, const std::string& param)
{
    for (const StreamPacket& packet : packets)
        if (packet.param == param)
            return &packet;
    return nullptr;
}

TEST(FilterJob, WrongArgumentCountsEndAtOnce)
{
    const std::string usage = "Usage: vantora_rt50_filter job-id user title copies options [file]\n";
    FilterRun five = RunProgram(FilterProgram(), {"q", "1", "u", "t"}, "", "");
    EXPECT_EQ(five.exitStatus, 1);
    EXPECT_TRUE(five.output.empty());
    EXPECT_EQ(five.errors, usage);
    FilterRun eight = RunProgram(FilterProgram(), {"q", "1", "u", "t", "1", "", "f", "x"}, "", "");
    EXPECT_EQ(eight.exitStatus, 1);
    EXPECT_TRUE(eight.output.empty());
    EXPECT_EQ(eight.errors, usage);
    FilterRun missing = RunProgram(FilterProgram(), {"1", "u", "t", "1", "", "/nonexistent/job.ras"}, "", "");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_TRUE(missing.output.empty());
    EXPECT_EQ(missing.errors.rfind("ERROR: ", 0), 0u) << missing.errors;
    EXPECT_NE(missing.errors.find("/nonexistent/job.ras"), std::string::npos) << missing.errors;
    EXPECT_EQ(std::count(missing.errors.begin(), missing.errors.end(), '\n'), 1);
}

TEST(FilterJob, LostOutputEndsTheJobWithAnError)
{
    // Under a scheduler SIGPIPE may be ignored: writing to a pipe nobody
    // reads then fails, and the job must not end as if it had been printed.
    TempDir dir;
    JobStartFile start;
    ASSERT_TRUE(WriteRasterFile(dir.Path("job.ras"), {QuadrantPage(60, 40)}));
    const std::string errors = dir.Path("stderr");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    close(out[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_IGN);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out[1], 1);
        dup2(err, 2);
        unsetenv("PPD");
        const std::string program = FilterProgram();
        const std::string raster = dir.Path("job.ras");
        execl(program.c_str(), program.c_str(), start.JobId().c_str(), "u", "t", "1", "PageSize=102x153mm",
              raster.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream file(errors);
    const std::string message((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(message, "ERROR: Unable to write print data: Broken pipe\n");
}

TEST(FilterJob, EmptyStreamSendsOnlyTheClock)
{
    Job job({});
    EXPECT_EQ(job.run.exitStatus, 0);
    EXPECT_EQ(PacketNames(job.packets), std::vector<std::string>{"CNTRL/SET_SYS_TIME"});
    EXPECT_TRUE(job.run.errors.empty()) << job.run.errors;
}

TEST(FilterJob, TwoPagesWithTheBuiltPpdDefaults)
{
    Job job({QuadrantPage(), QuadrantPage()}, "", BuiltPpd());
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    EXPECT_EQ(PacketNames(job.packets), Expected(2));
    EXPECT_EQ(Find(job.packets, "CUTTER")->PayloadText(), "00000000");
    EXPECT_EQ(Find(job.packets, "OVERCOAT")->PayloadText(), "00000000");
    EXPECT_EQ(Find(job.packets, "BUFFCNTRL")->PayloadText(), "00000001");
    EXPECT_EQ(Find(job.packets, "PRINTSPEED")->PayloadText(), "00000000");
    EXPECT_EQ(Find(job.packets, "DECURL")->PayloadText(), "020000000000");
    EXPECT_EQ(Find(job.packets, "MULTICUT")->PayloadText(), "00000048");
    EXPECT_EQ(Find(job.packets, "START")->rawLengthField, "        ");
    ASSERT_EQ(job.sheets.size(), 2u);
    for (const StreamSheet& sheet : job.sheets) {
        ASSERT_TRUE(sheet.complete);
        EXPECT_EQ(sheet.yellow.width, 1408);
        EXPECT_EQ(sheet.yellow.height, 1836);
        EXPECT_EQ(sheet.yellow.yPixelsPerMetre, 11811);
        if (!ImageLibraryPresent())
            continue;
        // The page sits in columns 71..1336, top line of the raster at the
        // top of the plane; white outside.
        ExpectDot(sheet, 71, 0, 255, 0, 0);
        ExpectDot(sheet, 71 + 632, 917, 255, 0, 0);
        ExpectDot(sheet, 71 + 633, 0, 0, 255, 0);
        ExpectDot(sheet, 71, 918, 0, 0, 255);
        ExpectDot(sheet, 1336, 1835, 255, 255, 255);
        ExpectDot(sheet, 70, 10, 255, 255, 255);
        ExpectDot(sheet, 1337, 10, 255, 255, 255);
        ExpectDot(sheet, 1336, 10, 0, 255, 0);
    }
}

TEST(FilterJob, CopiesArePrintedAsSheets)
{
    RasterPage page = QuadrantPage(600, 400);
    page.copies = 3;
    Job job({page});
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    EXPECT_EQ(PacketNames(job.packets), Expected(3));
    RasterPage none = QuadrantPage(60, 40);
    none.copies = 0;
    Job nothing({none});
    EXPECT_EQ(PacketNames(nothing.packets), Expected(0));
}

TEST(FilterJob, OptionsOverridePpdDefaults)
{
    TempDir dir;
    const std::string ppd = dir.Path("defaults.ppd");
    FILE* file = std::fopen(ppd.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("*PPD-Adobe: \"4.3\"\n*DefaultPageSize: 115x153mm\n*DefaultZpxDecurl: Enable\n"
               "*DefaultZpxOvercoatFinish: Matte\n*DefaultZpxPrintRetry: Disable\n*DefaultResolution: 300x600dpi\n",
               file);
    std::fclose(file);
    Job job({QuadrantPage(1408, 3672)}, "ZpxOvercoatFinish=Luster Zpx2InchCut=Enable", ppd);
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    EXPECT_EQ(PacketNames(job.packets), Expected(1));
    EXPECT_EQ(Find(job.packets, "CUTTER")->PayloadText(), "00000120");
    EXPECT_EQ(Find(job.packets, "OVERCOAT")->PayloadText(), "00000022");
    EXPECT_EQ(Find(job.packets, "BUFFCNTRL")->PayloadText(), "00000000");
    EXPECT_EQ(Find(job.packets, "DECURL")->PayloadText(), "010000000000");
    EXPECT_EQ(Find(job.packets, "MULTICUT")->PayloadText(), "00000051");
    ASSERT_EQ(job.sheets.size(), 1u);
    EXPECT_EQ(job.sheets[0].cyan.height, 3672);
    EXPECT_EQ(job.sheets[0].cyan.yPixelsPerMetre, 23622);
    if (ImageLibraryPresent()) {
        ExpectDot(job.sheets[0], 0, 0, 255, 0, 0);
        ExpectDot(job.sheets[0], 1407, 3671, 255, 255, 255);
    }
}

TEST(FilterJob, SixHundredDpiPageIsHalvedAcross)
{
    RasterPage page = QuadrantPage(2532, 3672);
    page.xdpi = page.ydpi = 600;
    Job job({page}, "PageSize=102x153mm Resolution=600x600dpi", "", true);
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    ASSERT_EQ(job.sheets.size(), 1u);
    EXPECT_EQ(job.sheets[0].magenta.width, 1408);
    EXPECT_EQ(job.sheets[0].magenta.height, 3672);
    EXPECT_EQ(job.sheets[0].magenta.yPixelsPerMetre, 23622);
    if (ImageLibraryPresent()) {
        ExpectDot(job.sheets[0], 100, 100, 255, 0, 0);
        ExpectDot(job.sheets[0], 1300, 3600, 255, 255, 255);
        ExpectDot(job.sheets[0], 1340, 100, 255, 255, 255);
    }
}

TEST(FilterJob, StreamEndingInsideAPageLeavesBlackRows)
{
    RasterPage page = QuadrantPage();
    page.linesWritten = 500;
    Job job({page});
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    EXPECT_EQ(PacketNames(job.packets), Expected(1));
    if (ImageLibraryPresent()) {
        ExpectDot(job.sheets[0], 100, 499, 255, 0, 0);
        ExpectDot(job.sheets[0], 100, 500, 0, 0, 0);
        ExpectDot(job.sheets[0], 1300, 1835, 0, 0, 0);
    }
}

TEST(FilterJob, BorderShrinksThePageInsideWhite)
{
    Job job({QuadrantPage()}, "PageSize=102x153mm ZpxBorder=Enable ZpxSharpness=3 ZpxColorAdjustment=Enable "
                              "ZpxGamma=20 ZpxChroma=2");
    EXPECT_EQ(job.run.exitStatus, 0) << job.run.errors;
    EXPECT_EQ(PacketNames(job.packets), Expected(1));
    if (ImageLibraryPresent()) {
        const StreamSheet& sheet = job.sheets[0];
        // 1134 x 1644 centred: columns 137..1270, rows 96..1739.
        ExpectDot(sheet, 136, 900, 255, 255, 255);
        ExpectDot(sheet, 1271, 900, 255, 255, 255);
        ExpectDot(sheet, 700, 95, 255, 255, 255);
        ExpectDot(sheet, 700, 1740, 255, 255, 255);
        uint8_t rgb[3];
        SheetDot(sheet, 300, 400, rgb);
        EXPECT_GT(rgb[0], 200);
        EXPECT_LT(rgb[1], 60);
        EXPECT_LT(rgb[2], 60);
    }
}

TEST(FilterJob, UnknownPageSizeIsRefused)
{
    Job job({QuadrantPage(100, 100)}, "PageSize=A4");
    EXPECT_EQ(job.run.exitStatus, 1);
    EXPECT_EQ(PacketNames(job.packets), std::vector<std::string>{"CNTRL/SET_SYS_TIME"});
    EXPECT_NE(job.run.errors.find("ERROR:"), std::string::npos);
    EXPECT_NE(job.run.errors.find("\"A4\""), std::string::npos) << job.run.errors;
    Job none({QuadrantPage(100, 100)}, "");
    EXPECT_EQ(none.run.exitStatus, 1);
    EXPECT_NE(none.run.errors.find("ERROR:"), std::string::npos);
}

// The packets after the clock, whose payload is the time of the run.
std::vector<StreamPacket> AfterClock(const std::vector<StreamPacket>& packets)
{
    return packets.empty() ? packets : std::vector<StreamPacket>(packets.begin() + 1, packets.end());
}

bool SamePackets(const std::vector<StreamPacket>& a, const std::vector<StreamPacket>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].param != b[i].param || a[i].payload != b[i].payload)
            return false;
    return true;
}

TEST(FilterJob, EveryNameOfASizePrintsTheSameStream)
{
    // The names themselves are checked with the model's table; here the
    // stream: the same bytes whichever name asked, as CUPS hands the name
    // over (media alone when it could not map it).
    const RasterPage page = QuadrantPage(240, 300);
    for (const char* ppdName : {"102x153mm", "115x204mm"}) {
        Job reference({page}, std::string("PageSize=") + ppdName);
        ASSERT_EQ(reference.sheets.size(), 1u) << ppdName;
        const std::string name = ppdName[1] == '0' ? "na_index-4x6_4x6in" : "w324h576";
        Job media({page}, "media=" + name);
        EXPECT_EQ(media.run.exitStatus, 0) << media.run.errors;
        EXPECT_TRUE(SamePackets(AfterClock(media.packets), AfterClock(reference.packets))) << name;
    }
    // A document CUPS rasterised for the queue's default size, because the
    // scheduler could not map the name asked for, is not printed on another.
    RasterPage document = QuadrantPage(1200, 1800);
    document.pageSizeName = "102x153mm";
    Job same({document}, "media=w288h432");
    EXPECT_EQ(same.sheets.size(), 1u) << same.run.errors;
    Job other({document}, "media=w288h576");
    EXPECT_EQ(other.run.exitStatus, 1);
    EXPECT_TRUE(other.sheets.empty());
    EXPECT_NE(other.run.errors.find("\"102x153mm\", not for the \"w288h576\""), std::string::npos)
        << other.run.errors;

    Job refused({page}, "media=na_5x7_5x7in");
    EXPECT_EQ(refused.run.exitStatus, 1);
    EXPECT_TRUE(refused.sheets.empty());
    EXPECT_NE(refused.run.errors.find("\"na_5x7_5x7in\""), std::string::npos) << refused.run.errors;
}

TEST(FilterJob, APageRasterisedAtThePapersSizeFillsThePrintablePage)
{
    // CUPS rasterises a document for the 4x6 in paper; the sheet must reach
    // every edge of the printable page (1266 x 1836 at 300 dpi) as a photo
    // does, at each resolution.
    struct Case {
        unsigned xdpi, ydpi, width, height;
        int planeHeight;
    };
    for (const Case& c : {Case{300, 300, 1200, 1800, 1836}, Case{300, 600, 1200, 3600, 3672},
                          Case{600, 600, 2400, 3600, 3672}}) {
        SCOPED_TRACE(c.ydpi);
        RasterPage page = QuadrantPage(c.width, c.height);
        page.xdpi = c.xdpi;
        page.ydpi = c.ydpi;
        const std::string resolution = std::to_string(c.xdpi) + "x" + std::to_string(c.ydpi) + "dpi";
        Job job({page}, "PageSize=102x153mm Resolution=" + resolution);
        ASSERT_EQ(job.sheets.size(), 1u) << job.run.errors;
        const StreamSheet& sheet = job.sheets[0];
        ASSERT_EQ(sheet.yellow.height, c.planeHeight);
        // The image spans columns 71..1336 of the 1408-dot plane; the
        // quadrants meet in the middle, none is cut away.
        for (int y : {0, c.planeHeight / 4, c.planeHeight * 3 / 4, c.planeHeight - 1}) {
            ExpectDot(sheet, 71, y, y < c.planeHeight / 2 ? 255 : 0, 0, y < c.planeHeight / 2 ? 0 : 255);
            ExpectDot(sheet, 1336, y, y < c.planeHeight / 2 ? 0 : 255, 255, y < c.planeHeight / 2 ? 0 : 255);
        }
    }
    // A page of another size is printed as it is, centred.
    Job small({QuadrantPage(1100, 1700)}, "PageSize=102x153mm");
    ASSERT_EQ(small.sheets.size(), 1u);
    ExpectDot(small.sheets[0], 71, 918, 255, 255, 255);
}

TEST(FilterJob, PagesThatAreNot24BitOrTooLargeAreRefused)
{
    RasterPage grey = QuadrantPage(300, 200);
    grey.bitsPerPixel = 8;
    Job greyJob({QuadrantPage(100, 100), grey});
    EXPECT_EQ(greyJob.run.exitStatus, 1);
    // The first page is printed, nothing of the grey page.
    EXPECT_EQ(PacketNames(greyJob.packets), Expected(1));
    EXPECT_EQ(std::count(greyJob.run.errors.begin(), greyJob.run.errors.end(), '\n'), 1);
    EXPECT_EQ(greyJob.run.errors.rfind("ERROR: ", 0), 0u) << greyJob.run.errors;

    RasterPage huge = QuadrantPage(kMaxPageDots + 1, 10);
    huge.linesWritten = 0;
    Job hugeJob({huge});
    EXPECT_EQ(hugeJob.run.exitStatus, 1);
    EXPECT_EQ(PacketNames(hugeJob.packets), Expected(0));
    EXPECT_EQ(hugeJob.run.errors.rfind("ERROR: ", 0), 0u) << hugeJob.run.errors;

    RasterPage tall = QuadrantPage(10, 0x7fffffffu);
    tall.linesWritten = 0;
    Job tallJob({tall});
    EXPECT_EQ(tallJob.run.exitStatus, 1);
    EXPECT_EQ(PacketNames(tallJob.packets), Expected(0));
}

TEST(FilterJob, ShortLinesAreNeverReadPastTheirEnd)
{
    // 24 bits per pixel but fewer bytes per line than 3 x width.
    RasterPage page = QuadrantPage(300, 20);
    page.bytesPerLine = 300;
    Job job({page});
    EXPECT_EQ(PacketNames(job.packets), Expected(0));
    EXPECT_NE(job.run.exitStatus, 0);
    EXPECT_EQ(job.run.errors.rfind("ERROR: ", 0), 0u) << job.run.errors;
}

TEST(FilterJob, HugeLineLengthIsRefused)
{
    // libcups reads such a header as it stands; write it by hand (the
    // uncompressed stream format: sync word, then the header).
    TempDir dir;
    cups_page_header2_t header = MakeHeader(QuadrantPage(100, 10));
    header.cupsBytesPerLine = 0x7ffffffeu;  // the largest libcups reads
    const std::string path = dir.Path("bad.ras");
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const unsigned sync = CUPS_RASTER_SYNCv1;
    std::fwrite(&sync, sizeof sync, 1, file);
    std::fwrite(&header, sizeof header, 1, file);
    std::fclose(file);
    JobStartFile start;
    FilterRun run = RunFilter(start.JobId(), "PageSize=102x153mm", path, "");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(PacketNames(Packets(run.output)), Expected(0));
    EXPECT_EQ(run.errors.rfind("ERROR: ", 0), 0u) << run.errors;
}

TEST(FilterJob, SigtermDuringAPageSendsNoImage)
{
    signal(SIGPIPE, SIG_IGN);
    JobStartFile start;
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        unsetenv("PPD");
        const std::string program = FilterProgram();
        execl(program.c_str(), program.c_str(), start.JobId().c_str(), "u", "t", "1", "PageSize=102x153mm",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // Ten lines of a page; the filter answers the start of the stream with
    // its clock packet, which shows that it is past its start-up.
    RasterPage first = QuadrantPage();
    cups_raster_t* raster = cupsRasterOpen(in[1], CUPS_RASTER_WRITE);
    cups_page_header2_t header = MakeHeader(first);
    cupsRasterWriteHeader2(raster, &header);
    std::vector<uint8_t> line(header.cupsBytesPerLine, 128);
    for (int y = 0; y < 10; ++y)
        cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
    uint8_t clock[48];
    size_t got = 0;
    while (got < sizeof clock) {
        const ssize_t n = read(out[0], clock + got, sizeof clock - got);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    kill(pid, SIGTERM);
    for (unsigned y = 10; y < header.cupsHeight; ++y)
        cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
    cupsRasterWriteHeader2(raster, &header);
    for (unsigned y = 0; y < header.cupsHeight; ++y)
        cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
    cupsRasterClose(raster);
    close(in[1]);

    std::vector<uint8_t> output(clock, clock + sizeof clock);
    uint8_t buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        output.insert(output.end(), buffer, buffer + n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(PacketNames(Packets(output)), std::vector<std::string>{"CNTRL/SET_SYS_TIME"});
}

}  // namespace

namespace {

// A model that lays two images on a sheet, with and without printing the
// first image of a job alone.
template <int RemainHalf>
class TwoUpModel : public DeviceEntry_RT50 {
public:
    int GetMultiLayoutNum(const char*) override { return 2; }
    int GetRemainHalf(const char*) override { return RemainHalf; }
};

// Runs the job driver in this process on `pages` with the given model and
// returns its packets.
template <typename Model>
std::vector<StreamPacket> RunInProcess(int pages, int* status)
{
    TempDir dir;
    std::vector<RasterPage> raster(static_cast<size_t>(pages), QuadrantPage(60, 40));
    EXPECT_TRUE(WriteRasterFile(dir.Path("job.ras"), raster));
    JobStartFile start;
    FILE* out = std::tmpfile();
    std::string path = dir.Path("job.ras");
    std::string jobId = start.JobId();
    char options[] = "PageSize=102x102mm";
    char* argv[] = {const_cast<char*>("VANTORA-RT-50"), jobId.data(), const_cast<char*>("u"),
                    const_cast<char*>("t"), const_cast<char*>("1"), options, path.data(), nullptr};
    unsetenv("PPD");
    *status = RunFilterJob(7, argv, [] { return static_cast<DeviceEntry*>(new Model()); }, fileno(out));
    std::vector<uint8_t> bytes;
    std::rewind(out);
    int c;
    while ((c = std::fgetc(out)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(out);
    return Packets(bytes);
}

size_t Sheets(const std::vector<StreamPacket>& packets)
{
    return static_cast<size_t>(
        std::count_if(packets.begin(), packets.end(), [](const StreamPacket& p) { return p.param == "START"; }));
}

TEST(FilterJobPhases, WriteFailureBetweenSheetsEndsThePages)
{
    TempDir dir;
    ASSERT_TRUE(WriteRasterFile(dir.Path("job.ras"), {QuadrantPage(60, 40), QuadrantPage(60, 40)}));
    JobStartFile start;
    std::string path = dir.Path("job.ras");
    std::string jobId = start.JobId();
    char options[] = "PageSize=102x153mm";
    char* argv[] = {const_cast<char*>("VANTORA-RT-50"), jobId.data(), const_cast<char*>("u"),
                    const_cast<char*>("t"), const_cast<char*>("1"), options, path.data(), nullptr};
    unsetenv("PPD");
    FILE* out = std::tmpfile();
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);

    FilterJob job;
    ASSERT_EQ(OpenFilterJob(7, argv, [] { return static_cast<DeviceEntry*>(new DeviceEntry_RT50()); },
                            fileno(out), &job), 0);
    ASSERT_EQ(ApplyJobSettings(&job), 0);
    EXPECT_EQ(job.layout, 1);
    // The output fails after the clock packet, while the first sheet goes out.
    job.device->SetOutputFd(full);
    testing::internal::CaptureStderr();
    EXPECT_EQ(PrintJobPages(&job), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Unable to write print data: No space left on device\n");
    EXPECT_EQ(job.device->OutputError(), ENOSPC);
    CloseFilterJob(&job);
    EXPECT_EQ(job.device, nullptr);
    close(full);
    std::fclose(out);
}

TEST(FilterJobLayout, TwoImagesPerSheetAndTheFirstAlone)
{
    int status = -1;
    // Pages 1+2 and 3+4; with five pages the fifth goes alone at the end.
    EXPECT_EQ(Sheets(RunInProcess<TwoUpModel<0>>(4, &status)), 2u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Sheets(RunInProcess<TwoUpModel<0>>(5, &status)), 3u);
    // Page 1 alone, then 2+3, then 4 alone at the end.
    EXPECT_EQ(Sheets(RunInProcess<TwoUpModel<1>>(4, &status)), 3u);
    EXPECT_EQ(Sheets(RunInProcess<TwoUpModel<1>>(3, &status)), 2u);
    EXPECT_EQ(status, 0);
}

}  // namespace
