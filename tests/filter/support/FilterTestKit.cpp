#include "FilterTestKit.h"

#include "HdxImgLib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace filtertest {

namespace {

std::atomic<int> gJobCounter{0};

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::vector<uint8_t> data;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return data;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(file);
    return data;
}

}  // namespace

bool ImageLibraryPresent()
{
    unsigned char pixel[4] = {};
    _tagBITMAPHANDLE probe{};
    const bool present =
        IL_CreateBitmap(&probe, kBitmapStructSize, kBitmapKind, 1, 1, 24, 1, nullptr, 4, pixel, 4) == IL_SUCCESS;
    IL_FreeBitmap(&probe);
    return present;
}

std::string FilterProgram()
{
    return VANTORA_FILTER_PROGRAM;
}

std::string BuiltPpd()
{
    return VANTORA_BUILT_PPD;
}

cups_page_header2_t MakeHeader(const RasterPage& page)
{
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    std::snprintf(header.MediaClass, sizeof header.MediaClass, "%s", "");
    header.HWResolution[0] = page.xdpi;
    header.HWResolution[1] = page.ydpi;
    header.PageSize[0] = page.width * 72 / page.xdpi;
    header.PageSize[1] = page.height * 72 / page.ydpi;
    header.ImagingBoundingBox[2] = header.PageSize[0];
    header.ImagingBoundingBox[3] = header.PageSize[1];
    header.NumCopies = page.copies;
    std::snprintf(header.cupsPageSizeName, sizeof header.cupsPageSizeName, "%s", page.pageSizeName.c_str());
    header.cupsWidth = page.width;
    header.cupsHeight = page.height;
    header.cupsBitsPerPixel = page.bitsPerPixel;
    header.cupsBitsPerColor = 8;
    header.cupsBytesPerLine = page.bytesPerLine != 0 ? page.bytesPerLine : page.width * (page.bitsPerPixel / 8);
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsColorSpace = page.bitsPerPixel == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_K;
    header.cupsNumColors = page.bitsPerPixel == 24 ? 3 : 1;
    return header;
}

bool WriteRaster(int fd, const std::vector<RasterPage>& pages)
{
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    if (raster == nullptr)
        return false;
    bool ok = true;
    for (const RasterPage& page : pages) {
        cups_page_header2_t header = MakeHeader(page);
        if (!cupsRasterWriteHeader2(raster, &header)) {
            ok = false;
            break;
        }
        std::vector<uint8_t> line(header.cupsBytesPerLine, 0);
        const unsigned lines = page.linesWritten < page.height ? page.linesWritten : page.height;
        for (unsigned y = 0; y < lines && ok; ++y) {
            if (page.pixel && page.bitsPerPixel == 24) {
                for (unsigned x = 0; x < page.width && (x + 1) * 3 <= line.size(); ++x)
                    page.pixel(x, y, &line[x * 3]);
            }
            ok = cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
        }
        if (lines < page.height)
            break;  // the stream ends inside this page
    }
    cupsRasterClose(raster);
    return ok;
}

bool WriteRasterFile(const std::string& path, const std::vector<RasterPage>& pages)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = WriteRaster(fd, pages);
    close(fd);
    return ok;
}

JobStartFile::JobStartFile()
{
    m_jobId = "9" + std::to_string(getpid()) + std::to_string(gJobCounter++);
    m_path = "/tmp/Print_" + m_jobId + ".log";
    FILE* file = std::fopen(m_path.c_str(), "w");
    if (file != nullptr)
        std::fclose(file);
}

JobStartFile::~JobStartFile()
{
    unlink(m_path.c_str());
}

JobOneStartFile::JobOneStartFile()
{
    struct stat info {};
    if (stat("/tmp/Print_1.log", &info) != 0) {
        FILE* file = std::fopen("/tmp/Print_1.log", "w");
        if (file != nullptr) {
            std::fclose(file);
            m_created = true;
        }
    }
}

JobOneStartFile::~JobOneStartFile()
{
    if (m_created)
        unlink("/tmp/Print_1.log");
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/vantora-filter-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir()
{
    if (m_path == "/tmp")
        return;
    nftw(
        m_path.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 8,
        FTW_DEPTH | FTW_PHYS);
}

FilterRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& ppd,
                     const std::string& inputPath, int limitSeconds)
{
    FilterRun run;
    TempDir dir;
    const std::string outPath = dir.Path("stdout");
    const std::string errPath = dir.Path("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so that an overrun takes its children too.
        setpgid(0, 0);
        const int in = open(inputPath.empty() ? "/dev/null" : inputPath.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (ppd.empty())
            unsetenv("PPD");
        else
            setenv("PPD", ppd.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    pid_t ended = 0;
    while (pid > 0 && (ended = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        usleep(10 * 1000);
    if (pid > 0 && ended == 0) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        run.overran = true;
        std::string line = program;
        for (const std::string& arg : args)
            line += " " + arg;
        ADD_FAILURE() << line << ": did not finish within " << limitSeconds << " s; killed";
    }
    if (WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    run.output = ReadFile(outPath);
    const std::vector<uint8_t> errors = ReadFile(errPath);
    run.errors.assign(errors.begin(), errors.end());
    return run;
}

FilterRun RunFilter(const std::string& jobId, const std::string& options, const std::string& rasterPath,
                    const std::string& ppd, bool asFile)
{
    std::vector<std::string> args = {jobId, "tester", "test job", "1", options};
    if (asFile)
        args.push_back(rasterPath);
    return RunProgram(FilterProgram(), args, ppd, asFile ? std::string() : rasterPath);
}

std::vector<StreamPacket> Packets(const std::vector<uint8_t>& output)
{
    std::vector<StreamPacket> packets;
    std::string error;
    EXPECT_TRUE(ParseCommandStream(output, packets, &error)) << error;
    return packets;
}

std::vector<std::string> PacketNames(const std::vector<StreamPacket>& packets)
{
    std::vector<std::string> names;
    for (const StreamPacket& packet : packets)
        names.push_back(packet.name + "/" + packet.param);
    return names;
}

std::vector<std::string> SheetPacketNames()
{
    return {"CNTRL/CUTTER", "CNTRL/OVERCOAT", "CNTRL/BUFFCNTRL", "CNTRL/PRINTSPEED", "CNTRL/DECURL",
            "IMAGE/MULTICUT", "IMAGE/YPLANE", "IMAGE/MPLANE", "IMAGE/CPLANE", "CNTRL/START"};
}

}  // namespace filtertest
