#include "FilterJob.h"

#include "Common.h"
#include "PhotoPrinterDeviceRT50.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cups/raster.h>

volatile sig_atomic_t Canceled = 0;

void CancelJob(int)
{
    Canceled = 1;
}

int PrinterStatusCheck(const char* jobId, int, cups_option_t*)
{
    char path[128];
    const int length = std::snprintf(path, sizeof path, "%s/Print_%s.log", "/tmp", jobId != nullptr ? jobId : "");
    if (length < 0 || length >= static_cast<int>(sizeof path))
        return 0;
    for (int attempt = 0; attempt < 120; ++attempt) {
        struct stat info {};
        if (stat(path, &info) == 0) {
            sleep(1);
            return 0;
        }
        sleep(1);
    }
    return 0;
}

const char* CheckPageHeader(const cups_page_header2_t& header)
{
    if (header.cupsBitsPerPixel != 24)
        return "only 24-bit RGB pages can be printed";
    if (static_cast<uint64_t>(header.cupsBytesPerLine) < 3ULL * header.cupsWidth)
        return "the page's lines are shorter than its width";
    if (header.cupsWidth > kMaxPageDots || header.cupsHeight > kMaxPageDots)
        return "the page is too large";
    // A valid line holds 3 bytes per dot; anything far longer is not a
    // page this filter made a request for.
    if (static_cast<uint64_t>(header.cupsBytesPerLine) > 8ULL * kMaxPageDots)
        return "the page's lines are too long";
    return nullptr;
}

namespace {

// Copies `text` for a message, keeping printable ASCII only.
void PrintableCopy(const char* text, char* out, size_t outSize)
{
    size_t length = 0;
    for (const char* c = text; c != nullptr && *c != '\0' && length + 1 < outSize; ++c)
        out[length++] = (*c >= 0x20 && *c < 0x7f) ? *c : '?';
    out[length] = '\0';
}

// Sends the settings commands of one sheet and the sheet itself.
void PrintSheet(DeviceEntry& device, int count, int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    device.SendCutterMode(numOptions, options, ppd);
    device.SendOvercoatFinish(numOptions, options, ppd);
    device.SendPrintRetry(numOptions, options, ppd);
    device.SendPrintSpeed(numOptions, options, ppd);
    device.SendDecurl(numOptions, options, ppd);
    device.SendImageData(count);
}

// Reads the lines of one page into a bottom-up 24-bit buffer. Returns the
// buffer (null when memory ran out); *canceled tells whether the job was
// cancelled while reading.
unsigned char* ReadPage(cups_raster_t* raster, const cups_page_header2_t& header, bool* canceled)
{
    *canceled = false;
    const size_t stride = ((static_cast<size_t>(header.cupsWidth) * 24 + 31) / 32) * 4;
    const size_t rows = header.cupsHeight;
    unsigned char* pixels = static_cast<unsigned char*>(std::calloc(stride * rows + 1, 1));
    unsigned char* line = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(header.cupsBytesPerLine) + 1));
    if (pixels == nullptr || line == nullptr) {
        std::free(pixels);
        std::free(line);
        return nullptr;
    }
    const size_t lineBytes = static_cast<size_t>(header.cupsWidth) * 3;
    for (size_t i = 0; i < rows; ++i) {
        if (cupsRasterReadPixels(raster, line, header.cupsBytesPerLine) == 0)
            break;
        std::memcpy(pixels + (rows - 1 - i) * stride, line, lineBytes);
        if (Canceled && i + 1 < rows)
            break;
    }
    std::free(line);
    if (Canceled) {
        std::free(pixels);
        *canceled = true;
        return nullptr;
    }
    return pixels;
}

void ReleaseImage(_tagBITMAPHANDLE* image)
{
    if (image == nullptr)
        return;
    IL_FreeBitmap(image);
    std::free(image);
}

}  // namespace

void KeepPageBlocksInHeap()
{
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

int FilterMain(int argc, char* argv[])
{
    return RunFilterJob(argc, argv, [] { return static_cast<DeviceEntry*>(new DeviceEntry_RT50()); }, 1);
}

int RunFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd)
{
    if (argc != 6 && argc != 7)
        return 1;
    int input = 0;
    if (argc == 7) {
        input = open(argv[6], O_RDONLY);
        if (input < 0) {
            sleep(1);
            return 1;
        }
    }

    cups_option_t* options = nullptr;
    const int numOptions = cupsParseOptions(argv[5], 0, &options);
    ppdfile_s* ppd = wrappedPpdOpenFile(std::getenv("PPD"));

    Canceled = 0;
    struct sigaction action {};
    action.sa_handler = CancelJob;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);

    PrinterStatusCheck(argv[1], numOptions, options);

    cups_raster_t* raster = cupsRasterOpen(input, CUPS_RASTER_READ);
    DeviceEntry* device = makeDevice();
    device->SetOutputFd(outputFd);

    device->SendSysTime();
    device->SetResolution(numOptions, options, ppd);
    device->SetMediaSize(numOptions, options, ppd);
    device->SetBorder(numOptions, options, ppd);
    device->SetSharpness(numOptions, options, ppd);
    device->SetGamma(numOptions, options, ppd);
    device->SetIntensity(numOptions, options, ppd);
    device->SetContrast(numOptions, options, ppd);
    device->SetSaturation(numOptions, options, ppd);
    device->SetColorAdjustment(numOptions, options, ppd);
    device->SetPaperRotate(numOptions, options, ppd);

    const int layout = device->GetMultiLayoutNum(argv[1]) > 0 ? device->GetMultiLayoutNum(argv[1]) : 1;
    const int remainHalf = device->GetRemainHalf(argv[1]) % 2;

    int status = 0;
    int pageIndex = 0;
    int pending = 0;
    cups_page_header2_t header;
    bool endOfStream = false;
    while (raster != nullptr) {
        if (!cupsRasterReadHeader2(raster, &header)) {
            endOfStream = true;
            break;
        }
        if (Canceled)
            break;

        // A page the printer cannot take ends the job before anything of it
        // is sent.
        if (device->m_media.mediaId == -1) {
            char name[128];
            PrintableCopy(_GetCupsValue("PageSize", numOptions, options, ppd), name, sizeof name);
            std::fprintf(stderr, "ERROR: The page size \"%s\" is not supported by the RT-50.\n",
                         name[0] != '\0' ? name : "(none)");
            status = 1;
            break;
        }
        if (const char* reason = CheckPageHeader(header)) {
            std::fprintf(stderr, "ERROR: Page %d cannot be printed: %s.\n", pageIndex + 1, reason);
            status = 1;
            break;
        }

        bool canceled = false;
        unsigned char* pixels = ReadPage(raster, header, &canceled);
        if (canceled)
            break;
        if (pixels == nullptr) {
            std::fprintf(stderr, "ERROR: Not enough memory for page %d.\n", pageIndex + 1);
            status = 1;
            break;
        }
        _tagBITMAPHANDLE* image = device->MakeImageData(pixels, header.cupsWidth, header.cupsHeight, pending);

        for (int copy = 0; copy < static_cast<int>(header.NumCopies) && !Canceled; ++copy) {
            const int target = (remainHalf == 1 && pageIndex == 0 && copy == 0) ? 1 : layout;
            // The buffer has three slots; a full buffer is printed first.
            if (pending >= PhotoImageBuffer::kSlots) {
                PrintSheet(*device, pending, numOptions, options, ppd);
                pending = 0;
            }
            device->SetImageData(pending, image);
            ++pending;
            if (pending >= target) {
                PrintSheet(*device, target, numOptions, options, ppd);
                pending = 0;
            }
        }
        ReleaseImage(image);
        ++pageIndex;
        if (Canceled)
            break;
    }

    if (endOfStream && !Canceled && pending > 0)
        PrintSheet(*device, pending, numOptions, options, ppd);

    wrappedPpdClose(ppd);
    if (raster != nullptr)
        cupsRasterClose(raster);
    delete device;
    cupsFreeOptions(numOptions, options);
    if (input > 0)
        close(input);
    return status;
}
