// Filter time per page and peak memory per page for a 4x6 photo at the
// three resolutions, with neutral settings and with border, sharpening and
// colour adjustment. A page is converted (ColorProcess), split into its
// slot (SetImageData) and sent as one sheet to /dev/null.
#include "PhotoPrinterDeviceRT50.h"

#include <benchmark/benchmark.h>

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

// Peak resident memory (KiB) of a child that runs `work`.
long ChildPeakKiB(bool doWork, const Case& c, const char* optionText)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (doWork) {
            const int sink = open("/dev/null", O_WRONLY);
            DeviceEntry_RT50 device;
            Configure(device, optionText, sink);
            PrintOnePage(device, c);
        }
        _exit(0);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
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

    const long baseline = ChildPeakKiB(false, c, optionText);
    const long peak = ChildPeakKiB(true, c, optionText);
    state.counters["peak_MiB_per_page"] = static_cast<double>(peak - baseline) / 1024.0;
    state.SetLabel(std::string(c.resolution) + (adjusted ? " border+sharpen+colour" : " default"));
}

}  // namespace

BENCHMARK(BM_FilterPage)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"res", "adjusted"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

BENCHMARK_MAIN();
