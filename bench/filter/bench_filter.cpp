// Filter time per page and peak memory per page for a 4x6 photo at the
// three resolutions, with neutral settings and with border, sharpening and
// colour adjustment. A page is converted (ColorProcess), split into its
// slot (SetImageData) and sent as one sheet to /dev/null. Peak memory is
// that of the real filter program printing one page, over an empty job
// (each of those runs includes the filter's one-second start-up wait).
#include "DeviceEntryRT50.h"
#include "FilterJob.h"

#include <benchmark/benchmark.h>
#include <cups/raster.h>

#include <string>
#include <vector>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Case {
    const char* resolution;
    long width, height;
};

const Case kCases[] = {
    {"300x300dpi", 1266, 1836},
    {"300x600dpi", 1266, 3672},
    {"600x600dpi", 2532, 3672},
};

const char* OptionsFor(bool adjusted, const char* resolution, char* buffer, size_t size)
{
    std::snprintf(buffer, size,
                  adjusted ? "PageSize=102x153mm Resolution=%s ZpxBorder=Enable ZpxSharpness=3 "
                             "ZpxColorAdjustment=Enable ZpxGamma=20 ZpxBrightness=5 ZpxContrast=5 ZpxChroma=10"
                           : "PageSize=102x153mm Resolution=%s",
                  resolution);
    return buffer;
}

// A photo-like page: smooth gradients with some fine detail.
unsigned char* MakePage(long w, long h)
{
    const size_t stride = ((static_cast<size_t>(w) * 24 + 31) / 32) * 4;
    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(stride * static_cast<size_t>(h)));
    for (long y = 0; y < h; ++y) {
        unsigned char* row = pixels + stride * static_cast<size_t>(y);
        for (long x = 0; x < w; ++x) {
            row[x * 3 + 0] = static_cast<unsigned char>(x * 255 / w);
            row[x * 3 + 1] = static_cast<unsigned char>(y * 255 / h);
            row[x * 3 + 2] = static_cast<unsigned char>(((x * 7) ^ (y * 13)) & 0xff);
        }
    }
    return pixels;
}

// Converts and prints one page on a configured device.
void PrintOnePage(DeviceEntry_RT50& device, const Case& c)
{
    _tagBITMAPHANDLE* image = device.MakeImageData(MakePage(c.width, c.height), c.width, c.height, 0);
    device.SetImageData(0, image);
    device.SendImageData(1);
    IL_FreeBitmap(image);
    std::free(image);
}

void Configure(DeviceEntry_RT50& device, const char* optionText, int sink)
{
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(optionText, 0, &options);
    device.SetResolution(count, options, nullptr);
    device.SetMediaSize(count, options, nullptr);
    device.SetBorder(count, options, nullptr);
    device.SetSharpness(count, options, nullptr);
    device.SetGamma(count, options, nullptr);
    device.SetIntensity(count, options, nullptr);
    device.SetContrast(count, options, nullptr);
    device.SetSaturation(count, options, nullptr);
    device.SetColorAdjustment(count, options, nullptr);
    cupsFreeOptions(count, options);
    device.SetOutputFd(sink);
}

// Writes a one-page (or, with pages 0, empty) CUPS raster file of the case.
void WriteRaster(const std::string& path, const Case& c, int pages)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    for (int p = 0; p < pages; ++p) {
        cups_page_header2_t header;
        std::memset(&header, 0, sizeof header);
        header.cupsWidth = static_cast<unsigned>(c.width);
        header.cupsHeight = static_cast<unsigned>(c.height);
        header.cupsBitsPerColor = 8;
        header.cupsBitsPerPixel = 24;
        header.cupsBytesPerLine = static_cast<unsigned>(c.width * 3);
        header.cupsColorSpace = CUPS_CSPACE_RGB;
        header.NumCopies = 1;
        cupsRasterWriteHeader2(raster, &header);
        std::vector<unsigned char> line(header.cupsBytesPerLine);
        for (long y = 0; y < c.height; ++y) {
            for (size_t i = 0; i < line.size(); ++i)
                line[i] = static_cast<unsigned char>((i * 7 + static_cast<size_t>(y) * 3) & 0xff);
            cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
        }
    }
    cupsRasterClose(raster);
    close(fd);
}

// Peak resident memory (KiB) of the real filter program printing `raster`.
long FilterPeakKiB(const std::string& raster, const char* optionText)
{
    // The filter waits for the backend's job start file; this run has one.
    const std::string jobId = "8" + std::to_string(getpid());
    const std::string startFile = "/tmp/Print_" + jobId + ".log";
    close(open(startFile.c_str(), O_WRONLY | O_CREAT, 0600));
    const pid_t pid = fork();
    if (pid == 0) {
        const int sink = open("/dev/null", O_WRONLY);
        dup2(sink, 1);
        execl(VANTORA_FILTER_PROGRAM, "VANTORA-RT-50", jobId.c_str(), "bench", "bench", "1", optionText,
              raster.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    unlink(startFile.c_str());
    return usage.ru_maxrss;
}

// Peak memory of a one-page job over that of an empty job, and of the
// whole one-page job, measured before any benchmark runs: a child's peak
// includes what it inherited at fork, so the parent must still be small.
double gPeakMiB[3][2];
double gJobPeakMiB[3][2];

void MeasurePeakMemory()
{
    char folder[] = "/tmp/vantora-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return;
    const std::string empty = std::string(folder) + "/empty.ras";
    const std::string page = std::string(folder) + "/page.ras";
    for (int r = 0; r < 3; ++r) {
        WriteRaster(empty, kCases[r], 0);
        WriteRaster(page, kCases[r], 1);
        for (int adjusted = 0; adjusted < 2; ++adjusted) {
            char optionText[256];
            OptionsFor(adjusted != 0, kCases[r].resolution, optionText, sizeof optionText);
            const long baseline = FilterPeakKiB(empty, optionText);
            const long peak = FilterPeakKiB(page, optionText);
            gPeakMiB[r][adjusted] = static_cast<double>(peak - baseline) / 1024.0;
            gJobPeakMiB[r][adjusted] = static_cast<double>(peak) / 1024.0;
        }
    }
    unlink(empty.c_str());
    unlink(page.c_str());
    rmdir(folder);
}

void BM_FilterPage(benchmark::State& state)
{
    const Case& c = kCases[state.range(0)];
    const bool adjusted = state.range(1) != 0;
    char optionText[256];
    OptionsFor(adjusted, c.resolution, optionText, sizeof optionText);
    const int sink = open("/dev/null", O_WRONLY);
    DeviceEntry_RT50 device;
    Configure(device, optionText, sink);
    for (auto _ : state)
        PrintOnePage(device, c);
    close(sink);

    state.counters["peak_MiB_per_page"] = gPeakMiB[state.range(0)][state.range(1)];
    state.counters["job_peak_MiB"] = gJobPeakMiB[state.range(0)][state.range(1)];
    state.SetLabel(std::string(c.resolution) + (adjusted ? " border+sharpen+colour" : " default"));
}

}  // namespace

BENCHMARK(BM_FilterPage)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"res", "adjusted"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    MeasurePeakMemory();
    // The same heap policy as the filter program.
    KeepPageBlocksInHeap();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
