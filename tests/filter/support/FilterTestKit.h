// Helpers for the filter's tests: writing CUPS raster streams with libcups,
// running the real filter program and reading its command stream back.
#pragma once

#include "CommandStream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace filtertest {

// One raster page. `pixel(x, y, rgb)` gives the colour of column x of
// raster line y (line 0 is the top of the page).
struct RasterPage {
    unsigned width = 1266;
    unsigned height = 1836;
    unsigned bitsPerPixel = 24;
    unsigned bytesPerLine = 0;    // 0: 3 x width (or width for 8-bit)
    unsigned copies = 1;
    unsigned xdpi = 300, ydpi = 300;
    unsigned linesWritten = ~0u;  // fewer: the stream ends inside the page
    std::string pageSizeName;     // the PPD size CUPS rasterised the page for; "" none
    std::function<void(unsigned x, unsigned y, uint8_t rgb[3])> pixel;
};

// Fills the header the way a CUPS RGB 8-bit chunky raster page looks.
cups_page_header2_t MakeHeader(const RasterPage& page);

// Writes `pages` as a CUPS raster stream (libcups, write mode) to `path`.
// Returns false when libcups refused.
bool WriteRasterFile(const std::string& path, const std::vector<RasterPage>& pages);

// Writes the pages to an open descriptor; stops after `stopAfterLines`
// lines in total when given.
bool WriteRaster(int fd, const std::vector<RasterPage>& pages);

// A unique job id and its job start file "/tmp/Print_<id>.log", created on
// construction and removed on destruction.
class JobStartFile {
public:
    JobStartFile();
    ~JobStartFile();
    const std::string& JobId() const { return m_jobId; }

private:
    std::string m_jobId;
    std::string m_path;
};

// The job start file of job 1, which cupsfilter and a fresh scheduler's first
// job use: created when missing and removed again only then.
class JobOneStartFile {
public:
    JobOneStartFile();
    ~JobOneStartFile();
    JobOneStartFile(const JobOneStartFile&) = delete;
    JobOneStartFile& operator=(const JobOneStartFile&) = delete;

private:
    bool m_created = false;
};

// A folder under /tmp removed with its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct FilterRun {
    int exitStatus = -1;       // -1: did not exit normally
    int signal = 0;
    bool overran = false;      // killed after its time limit
    std::vector<uint8_t> output;
    std::string errors;
};

// How long a program the tests start may run before it is killed.
constexpr int kProgramLimitSeconds = 120;

// Runs `program` with `args` (argv[1..]; argv[0] is the program, standing in
// for the queue name) and the environment variable PPD
// set to `ppd` (unset when empty); standard input comes from `inputPath`
// (empty: /dev/null). A program (with the programs it started) that runs
// longer than `limitSeconds` is killed, and the calling test fails naming
// it.
FilterRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& ppd,
                     const std::string& inputPath, int limitSeconds = kProgramLimitSeconds);

// Runs the built filter as CUPS would: job id, user, title, copies,
// options, and the raster file as seventh argument when `asFile`.
FilterRun RunFilter(const std::string& jobId, const std::string& options, const std::string& rasterPath,
                    const std::string& ppd, bool asFile = false);

// Parses a command stream; fails the calling test on a malformed one.
std::vector<StreamPacket> Packets(const std::vector<uint8_t>& output);

// "NAME/PARAM" of every packet, in order.
std::vector<std::string> PacketNames(const std::vector<StreamPacket>& packets);

// The packet names of one sheet with default settings.
std::vector<std::string> SheetPacketNames();

// True when the real image library is linked (the placeholder refuses
// every bitmap); pixel checks need it.
bool ImageLibraryPresent();

// Paths of the built filter program and PPD.
std::string FilterProgram();
std::string BuiltPpd();

}  // namespace filtertest
