#include "PhotoJob.h"

#include "DeviceEntryRT50.h"
#include "PhotoCage.h"
#include "PhotoChecks.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <thread>
#include <unistd.h>

namespace vantora_photo {

namespace {

bool Is(const char* value, const char* word)
{
    return value != nullptr && strcasecmp(value, word) == 0;
}

// An option given without a value, or with a true one.
bool IsSet(const char* value)
{
    return value != nullptr && !Is(value, "false") && !Is(value, "no") && !Is(value, "off");
}

bool FilterJobCanceled(void* job)
{
    return JobCanceled(*static_cast<const FilterJob*>(job));
}

// Set while the photo is decoded: nothing has been written yet then, so a
// cancel ends the program at once instead of waiting for a library call
// that does not ask for it.
volatile sig_atomic_t g_rendering = 0;

void CancelPhotoJob(int)
{
    Canceled = 1;
    if (g_rendering)
        _exit(0);
}

// Copies `text` for a message, keeping printable ASCII only.
std::string Printable(const char* text)
{
    std::string copy;
    for (const char* c = text; c != nullptr && *c != '\0' && copy.size() < 255; ++c)
        copy += (*c >= 0x20 && *c < 0x7f) ? *c : '?';
    return copy;
}

}  // namespace

Scaling ScalingOf(int numOptions, cups_option_t* options)
{
    const char* scaling = cupsGetOption("print-scaling", numOptions, options);
    if (Is(scaling, "fill"))
        return Scaling::Fill;
    if (Is(scaling, "fit") || Is(scaling, "none"))
        return Scaling::Fit;
    if (Is(scaling, "auto") || Is(scaling, "auto-fit"))
        return Scaling::Auto;
    if (IsSet(cupsGetOption("fit-to-page", numOptions, options)) ||
        IsSet(cupsGetOption("fitplot", numOptions, options)))
        return Scaling::Fit;
    for (const char* whole : {"scaling", "natural-scaling", "ppi"}) {
        if (cupsGetOption(whole, numOptions, options) != nullptr)
            return Scaling::Fit;
    }
    return Scaling::Fill;
}

bool MonochromeOf(int numOptions, cups_option_t* options)
{
    const char* mode = cupsGetOption("print-color-mode", numOptions, options);
    const char* model = cupsGetOption("ColorModel", numOptions, options);
    return Is(mode, "monochrome") || Is(mode, "process-monochrome") || Is(model, "Gray") || Is(model, "Grey") ||
           Is(model, "Black");
}

PageRequest PageRequestOf(const FilterJob& job)
{
    PageRequest request;
    const DeviceEntry& device = *job.device;
    if (device.m_media.mediaId != -1) {
        request.width = device.m_media.planePageWidth * (device.m_settings.resolutionMode == 2 ? 2 : 1);
        request.height = device.m_media.planeHeight;
    }
    request.scaling = ScalingOf(job.numOptions, job.options);
    request.monochrome = MonochromeOf(job.numOptions, job.options);
    request.isCanceled = FilterJobCanceled;
    request.cancelData = const_cast<FilterJob*>(&job);
    return request;
}

int PrintRenderedPage(FilterJob* job, RenderedPage* page, int copies, int pageIndex, int* pending)
{
    cups_page_header2_t header{};
    header.cupsWidth = static_cast<unsigned>(page->width);
    header.cupsHeight = static_cast<unsigned>(page->height);
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 24;
    header.cupsBytesPerLine = header.cupsWidth * 3;
    header.cupsColorSpace = CUPS_CSPACE_RGB;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.NumCopies = static_cast<unsigned>(copies < 1 ? 1 : copies);
    unsigned char* pixels = page->pixels;
    *page = RenderedPage{};
    return PrintPage(job, pixels, header, pageIndex, pending);
}

int PhotoFilterMain(int argc, char* argv[])
{
    if (argc != 6 && argc != 7)
        return PrintUsage("vantora_rt50_photo");
    // The decoder service forked while this process has one thread.
    StartPhotoDecoderHere();
    FilterJob job;
    job.jobId = argv[1];
    job.input = 0;
    if (argc == 7) {
        job.input = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (job.input < 0) {
            std::fprintf(stderr, "ERROR: Unable to open print file \"%s\": %s\n", Printable(argv[6]).c_str(),
                         std::strerror(errno));
            sleep(1);
            return 1;
        }
    }
    job.numOptions = cupsParseOptions(argv[5], 0, &job.options);
    job.ppd = wrappedPpdOpenFile(std::getenv("PPD"));

    Canceled = 0;
    struct sigaction action {};
    action.sa_handler = CancelPhotoJob;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);

    job.device = new DeviceEntry_RT50();
    job.device->SetOutputFd(1);
    job.device->SetResolution(job.numOptions, job.options, job.ppd);
    job.device->SetMediaSize(job.numOptions, job.options, job.ppd);
    PageRequest request = PageRequestOf(job);
    // The type the scheduler matched the document to: a file of another
    // format is refused rather than decoded. Another type means a filter
    // ahead of this one made the photo, of a format it chose.
    const char* contentType = std::getenv("CONTENT_TYPE");
    if (FormatOfType(contentType) != PhotoFormat::Unknown)
        request.declaredType = contentType;
    const long copies = std::strtol(argv[4], nullptr, 10);

    // The photo is decoded while the job driver waits for the backend's job
    // start file (its poll and its pause): the two overlap. A page size the
    // printer does not have is reported by the driver, as for a raster job.
    std::thread startWait([&job] { PrinterStatusCheck(job.jobId, job.numOptions, job.options); });
    RenderedPage page;
    std::string reason;
    RenderResult rendered = RenderResult::Done;
    if (request.width > 0) {
        g_rendering = 1;
        vantora_cage::CpuBudget budget{vantora_cage::kJobCpuSeconds};
        rendered = RenderPhotoCaged(job.input, request, &budget, &page, &reason);
        g_rendering = 0;
    }
    int status = 0;
    if (rendered == RenderResult::Refused) {
        std::fprintf(stderr, "ERROR: %s.\n", reason.c_str());
        // As for an unreadable file: the scheduler shows the reason while
        // the filter still runs.
        sleep(1);
        status = 1;
    }
    // Nothing to print: the job ends without the rest of the wait (the
    // waiting thread only polls a file and ends with the process).
    if (rendered != RenderResult::Done || JobCanceled(job))
        startWait.detach();
    else
        startWait.join();
    if (rendered == RenderResult::Done && !JobCanceled(job)) {
        int pending = 0;
        status = ApplyJobSettings(&job);
        if (status == 0 && !JobCanceled(job))
            status = PrintRenderedPage(&job, &page, copies > 9999 ? 9999 : static_cast<int>(copies), 0, &pending);
        if (status == 0)
            status = FinishPages(&job, pending, 1);
    }
    std::free(page.pixels);
    CloseFilterJob(&job);
    return status;
}

}  // namespace vantora_photo
