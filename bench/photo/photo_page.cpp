// photo_page: the photo front end alone, for the benchmark. Renders one
// photo onto the RT-50's 4x6 page at 300 dpi (or WIDTH x HEIGHT dots) and
// writes it as one CUPS raster page on standard output, the page the raster
// filter's job driver would get.
//
//   photo_page PHOTO [fill|fit [WIDTH HEIGHT]] > page.ras
//
// With CANCEL_AFTER_MS=N in the environment the job is cancelled N ms after
// decoding starts, as Cancel-Job does in the printer application; the
// program then says on standard error how long decoding took to stop.
// With CAGED=1 the photo is decoded as the printer application decodes
// it, by this program started again as the caged decoder service
// (PhotoCage.h); with CAGED=2 as vantora_rt50_photo does, the service
// forked from this program. TYPE=mime declares its type. With REPEAT=N the
// photo is rendered N times (the service started once) and the median
// time of one rendering is said on standard error.
#include "FilterJob.h"
#include "PhotoCage.h"
#include "PhotoRender.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> g_canceled{false};
Clock::time_point g_canceledAt;

bool IsCanceled(void*)
{
    return g_canceled.load();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (vantora_photo::IsPhotoDecoderCall(argc, argv))
        return vantora_photo::PhotoDecoderMain(argc, argv);
    if (argc != 2 && argc != 3 && argc != 5) {
        std::fprintf(stderr, "Usage: photo_page PHOTO [fill|fit [WIDTH HEIGHT]]\n");
        return 2;
    }
    KeepPageBlocksInHeap();  // as vantora_rt50_photo does
    vantora_photo::PageRequest request;
    request.width = argc == 5 ? std::atoi(argv[3]) : 1266;
    request.height = argc == 5 ? std::atoi(argv[4]) : 1836;
    request.scaling = argc >= 3 && std::strcmp(argv[2], "fit") == 0 ? vantora_photo::Scaling::Fit
                                                                     : vantora_photo::Scaling::Fill;
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const char* cancelAfter = std::getenv("CANCEL_AFTER_MS");
    std::thread canceller;
    if (cancelAfter != nullptr) {
        request.isCanceled = IsCanceled;
        const int ms = std::atoi(cancelAfter);
        canceller = std::thread([ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            g_canceledAt = Clock::now();
            g_canceled = true;
        });
    }
    vantora_photo::RenderedPage page;
    std::string reason;
    request.declaredType = std::getenv("TYPE");
    const char* cagedMode = std::getenv("CAGED");
    const bool caged = cagedMode != nullptr && (cagedMode[0] == '1' || cagedMode[0] == '2');
    if (cagedMode != nullptr && cagedMode[0] == '2')
        vantora_photo::StartPhotoDecoderHere();
    const char* repeatText = std::getenv("REPEAT");
    const int repeat = repeatText != nullptr && std::atoi(repeatText) > 1 ? std::atoi(repeatText) : 1;
    std::vector<double> times;
    vantora_photo::RenderResult result = vantora_photo::RenderResult::Refused;
    for (int i = 0; i < repeat; ++i) {
        if (i > 0) {
            std::free(page.pixels);
            lseek(fd, 0, SEEK_SET);
        }
        const Clock::time_point began = Clock::now();
        result = caged ? vantora_photo::RenderPhotoCaged(fd, request, nullptr, &page, &reason)
                       : vantora_photo::RenderPhoto(fd, request, &page, &reason);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());

    }
    if (repeat > 1) {
        std::sort(times.begin(), times.end());
        std::fprintf(stderr, "one rendering: %.1f ms (median of %d)\n", times[times.size() / 2], repeat);
    }
    const Clock::time_point stopped = Clock::now();
    if (canceller.joinable())
        canceller.join();
    if (result == vantora_photo::RenderResult::Canceled) {
        std::fprintf(stderr, "cancelled: decoding stopped %.0f ms after the cancel\n",
                     std::chrono::duration<double, std::milli>(stopped - g_canceledAt).count());
        return 0;
    }
    if (result != vantora_photo::RenderResult::Done) {
        std::fprintf(stderr, "ERROR: %s.\n", reason.c_str());
        return 1;
    }
    close(fd);

    cups_page_header2_t header{};
    header.cupsWidth = static_cast<unsigned>(page.width);
    header.cupsHeight = static_cast<unsigned>(page.height);
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 24;
    header.cupsBytesPerLine = header.cupsWidth * 3;
    header.cupsColorSpace = CUPS_CSPACE_RGB;
    header.HWResolution[0] = header.HWResolution[1] = 300;
    header.NumCopies = 1;
    cups_raster_t* raster = cupsRasterOpen(1, CUPS_RASTER_WRITE);
    bool ok = raster != nullptr && cupsRasterWriteHeader2(raster, &header);
    const size_t rowBytes = vantora_photo::PageRowBytes(page.width);
    for (int y = page.height - 1; ok && y >= 0; --y)
        ok = cupsRasterWritePixels(raster, page.pixels + rowBytes * y, header.cupsBytesPerLine) != 0;
    if (raster != nullptr)
        cupsRasterClose(raster);
    std::free(page.pixels);
    return ok ? 0 : 1;
}
