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
#include "FilterJob.h"
#include "PhotoRender.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

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
    const vantora_photo::RenderResult result = vantora_photo::RenderPhoto(fd, request, &page, &reason);
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
