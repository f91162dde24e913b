#include "FilterJob.h"

#include "DeviceEntryRT50.h"
#include "ExchangeFiles.h"
#include "PageFit.h"
#include "SettingsLookup.h"

#include <cerrno>
#include <cstdarg>
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
    char path[vantora_exchange::kPathSize];
    if (!vantora_exchange::JobStartFilePath(vantora_exchange::kExchangeDir, jobId, path, sizeof path))
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

// Sends the settings commands of one sheet and the sheet itself. Returns 1
// when the sheet was sent, 0 when not (see ReportNotSent).
int PrintSheet(const FilterJob& job, int count)
{
    DeviceEntry& device = *job.device;
    // A cut the page size cannot take is dropped, and the job says so once.
    if (!device.m_cutRefusalTold && device.TwoInchCutRefused(job.numOptions, job.options, job.ppd)) {
        device.m_cutRefusalTold = true;
        JobMessage(job, MessageLevel::kInfo,
                   "The %gx%g in page cannot be cut into 2-inch strips (only 4, 6 and 8 inch long pages can); "
                   "it is printed uncut.",
                   device.m_media.width, device.m_media.height);
    }
    // A command the sheet does not need (an overcoat the model's table does
    // not list, a model without decurl) sends nothing and gives 0; only a
    // packet that was not written fails the sheet, and it stops every later
    // write, so one check after the five is enough.
    device.SendCutterMode(job.numOptions, job.options, job.ppd);
    device.SendOvercoatFinish(job.numOptions, job.options, job.ppd);
    device.SendPrintRetry(job.numOptions, job.options, job.ppd);
    device.SendPrintSpeed(job.numOptions, job.options, job.ppd);
    device.SendDecurl(job.numOptions, job.options, job.ppd);
    if (device.OutputError() != 0)
        return 0;
    return device.SendImageData(count);
}

// Reports on standard error why a packet or sheet of page `page` was not
// sent: the write error, or memory that ran out making it. Returns 1.
int ReportNotSent(const FilterJob& job, int page)
{
    const DeviceEntry& device = *job.device;
    if (device.OutputError() != 0)
        JobMessage(job, MessageLevel::kError, "Unable to write print data: %s", std::strerror(device.OutputError()));
    else
        JobMessage(job, MessageLevel::kError, "Not enough memory to send page %d.", page);
    return 1;
}

// Reads the lines of one page into a bottom-up 24-bit buffer. Returns the
// buffer (null when memory ran out); *canceled tells whether the job was
// cancelled while reading.
unsigned char* ReadPage(const FilterJob& job, const cups_page_header2_t& header, bool* canceled)
{
    cups_raster_t* raster = job.raster;
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
        if (JobCanceled(job) && i + 1 < rows)
            break;
    }
    std::free(line);
    if (JobCanceled(job)) {
        std::free(pixels);
        *canceled = true;
        return nullptr;
    }
    return pixels;
}

// True when `value` dots are within two of `inches` at `dpi`.
bool DotsNear(unsigned value, double inches, unsigned dpi)
{
    const double dots = inches * dpi;
    return value + 2.0 >= dots && value <= dots + 2.0;
}

// A page rasterised at the size of the paper itself, as CUPS rasterises
// documents for the queue's page sizes, is enlarged to fill the printable
// page, which reaches past the paper's edges, and cropped evenly: the
// document prints borderless as a photo does. Any other page is left as it
// is. Returns the pixels to print (null when memory ran out; `pixels` is
// released then); `header` then describes them.
unsigned char* FillPaperPage(const FilterJob& job, unsigned char* pixels, cups_page_header2_t* header)
{
    const DeviceMediaBufferInfo& media = job.device->m_media;
    const unsigned xdpi = header->HWResolution[0];
    const unsigned ydpi = header->HWResolution[1];
    if (media.mediaId == -1 || media.tableResolution <= 0 || (xdpi != 300 && xdpi != 600) ||
        (ydpi != 300 && ydpi != 600) || !DotsNear(header->cupsWidth, media.width, xdpi) ||
        !DotsNear(header->cupsHeight, media.height, ydpi))
        return pixels;
    PageBuffer page;
    page.pixels = pixels;
    page.width = header->cupsWidth;
    page.height = header->cupsHeight;
    const long pageWidth = static_cast<long>(media.pageWidth) * xdpi / static_cast<unsigned>(media.tableResolution);
    const long pageHeight = static_cast<long>(media.pageHeight) * ydpi / static_cast<unsigned>(media.tableResolution);
    if (!FitPageToMedia(&page, pageWidth, pageHeight, true))
        return nullptr;
    header->cupsWidth = static_cast<unsigned>(page.width);
    header->cupsHeight = static_cast<unsigned>(page.height);
    header->cupsBytesPerLine = header->cupsWidth * 3;
    return page.pixels;
}

void ReleaseImage(_tagBITMAPHANDLE* image)
{
    if (image == nullptr)
        return;
    IL_FreeBitmap(image);
    std::free(image);
}

// Checks, before anything of it is read, that the printer can take a page.
// Returns 0, or 1 after an ERROR: line.
int CheckPage(const FilterJob& job, const cups_page_header2_t& header, int page)
{
    if (job.device->m_media.mediaId == -1) {
        char name[128];
        PrintableCopy(_GetCupsValue("PageSize", job.numOptions, job.options, job.ppd), name, sizeof name);
        JobMessage(job, MessageLevel::kError, "The page size \"%s\" is not supported by the RT-50.",
                   name[0] != '\0' ? name : "(none)");
        return 1;
    }
    if (const char* reason = CheckPageHeader(header)) {
        JobMessage(job, MessageLevel::kError, "Page %d cannot be printed: %s.", page, reason);
        return 1;
    }
    return 0;
}

// Checks that CUPS rasterised the page for the size the job prints. A name
// of a size the scheduler cannot map to the PPD's (w288h576) leaves a
// document at the queue's default size: printed on the size asked for, it
// would show white bands or be cut. Returns 0, or 1 after an ERROR: line.
int CheckRasterisedSize(const FilterJob& job, const cups_page_header2_t& header, int page)
{
    char rasterised[sizeof header.cupsPageSizeName];
    PrintableCopy(header.cupsPageSizeName, rasterised, sizeof rasterised);
    const int mediaId = MediaIdForPageSize_RT50(rasterised);
    if (mediaId == kUnknownMediaId || mediaId == job.device->m_media.mediaId)
        return 0;
    char asked[128];
    PrintableCopy(_GetCupsValue("PageSize", job.numOptions, job.options, job.ppd), asked, sizeof asked);
    JobMessage(job, MessageLevel::kError,
               "Page %d was made for the page size \"%s\", not for the \"%s\" the job asks for; ask for the size "
               "by the PPD's name or its standard name.",
               page, rasterised, asked);
    return 1;
}

// Places the page image into the sheets once per copy the page header asks
// for, printing each sheet as it fills. An empty page (no width or height) has no planes and
// prints as a white sheet. Returns 0, or 1 after an ERROR: line.
int PrintCopies(const FilterJob& job, _tagBITMAPHANDLE* image, const cups_page_header2_t& header, int pageIndex,
                int* pending)
{
    DeviceEntry& device = *job.device;
    const bool emptyPage = header.cupsWidth == 0 || header.cupsHeight == 0;
    for (int copy = 0; copy < static_cast<int>(header.NumCopies) && !JobCanceled(job); ++copy) {
        const int target = (job.remainHalf == 1 && pageIndex == 0 && copy == 0) ? 1 : job.layout;
        // The buffer has three slots; a full buffer is printed first.
        if (*pending >= PageImageBuffer::kSlots) {
            if (PrintSheet(job, *pending) != 1)
                return ReportNotSent(job, pageIndex + 1);
            *pending = 0;
        }
        if (device.SetImageData(*pending, image) != 0 && !emptyPage) {
            JobMessage(job, MessageLevel::kError, "Not enough memory to process page %d.", pageIndex + 1);
            return 1;
        }
        ++*pending;
        if (*pending >= target) {
            if (PrintSheet(job, target) != 1)
                return ReportNotSent(job, pageIndex + 1);
            *pending = 0;
        }
    }
    return 0;
}

}  // namespace

void KeepPageBlocksInHeap()
{
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

int PrintUsage(const char* program)
{
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", program);
    return 1;
}

int FilterMain(int argc, char* argv[])
{
    return RunFilterJob(argc, argv, [] { return static_cast<DeviceEntry*>(new DeviceEntry_RT50()); }, 1);
}

int OpenFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd, FilterJob* job)
{
    if (argc != 6 && argc != 7)
        return PrintUsage("vantora_rt50_filter");
    job->jobId = argv[1];
    job->input = 0;
    if (argc == 7) {
        job->input = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (job->input < 0) {
            char name[256];
            PrintableCopy(argv[6], name, sizeof name);
            const int error = errno;
            JobMessage(*job, MessageLevel::kError, "Unable to open print file \"%s\": %s", name, std::strerror(error));
            // As CUPS's own filters do: the scheduler reads a filter's
            // messages while it runs, and the pause lets it show this one as
            // the job's reason before it handles the exit.
            sleep(1);
            return 1;
        }
    }

    job->numOptions = cupsParseOptions(argv[5], 0, &job->options);
    job->ppd = wrappedPpdOpenFile(std::getenv("PPD"));

    Canceled = 0;
    struct sigaction action {};
    action.sa_handler = CancelJob;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);

    PrinterStatusCheck(argv[1], job->numOptions, job->options);

    job->raster = cupsRasterOpen(job->input, CUPS_RASTER_READ);
    job->device = makeDevice();
    if (job->device == nullptr) {
        JobMessage(*job, MessageLevel::kError, "Not enough memory to start the job.");
        return 1;
    }
    job->device->SetOutputFd(outputFd);
    return 0;
}

int ApplyJobSettings(FilterJob* job)
{
    DeviceEntry& device = *job->device;
    const int n = job->numOptions;
    cups_option_t* options = job->options;
    ppdfile_s* ppd = job->ppd;

    // The clock is the first packet of every job.
    if (device.SendSysTime() != 1 && device.OutputError() != 0)
        return ReportNotSent(*job, 0);
    // The settings only record values. An unknown resolution falls back to
    // 300 dpi; an unknown page size is refused at the first page, so that a
    // job without pages still ends normally.
    device.SetResolution(n, options, ppd);
    device.SetMediaSize(n, options, ppd);
    device.SetBorder(n, options, ppd);
    device.SetSharpness(n, options, ppd);
    device.SetGamma(n, options, ppd);
    device.SetIntensity(n, options, ppd);
    device.SetContrast(n, options, ppd);
    device.SetSaturation(n, options, ppd);
    device.SetColorAdjustment(n, options, ppd);
    device.SetPaperRotate(n, options, ppd);

    const int layout = device.GetMultiLayoutNum(job->jobId);
    job->layout = layout > 0 ? layout : 1;
    job->remainHalf = device.GetRemainHalf(job->jobId) % 2;
    return 0;
}

void JobMessage(const FilterJob& job, MessageLevel level, const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    StderrMessageSink standardError;
    (job.messages != nullptr ? *job.messages : static_cast<MessageSink&>(standardError)).Message(level, text);
}

bool JobCanceled(const FilterJob& job)
{
    return Canceled || (job.isCanceled != nullptr && job.isCanceled(job.cancelData));
}

int PrintPage(FilterJob* job, unsigned char* pixels, const cups_page_header2_t& header, int pageIndex, int* pending)
{
    if (CheckPage(*job, header, pageIndex + 1) != 0) {
        std::free(pixels);
        return 1;
    }
    _tagBITMAPHANDLE* image = job->device->MakeImageData(pixels, header.cupsWidth, header.cupsHeight, *pending);
    const int result = PrintCopies(*job, image, header, pageIndex, pending);
    ReleaseImage(image);
    return result;
}

int FinishPages(FilterJob* job, int pending, int pageCount)
{
    if (JobCanceled(*job) || pending == 0)
        return 0;
    if (PrintSheet(*job, pending) != 1)
        return ReportNotSent(*job, pageCount);
    return 0;
}

int PrintJobPages(FilterJob* job)
{
    int pageIndex = 0;
    int pending = 0;
    cups_page_header2_t header;
    while (job->raster != nullptr && cupsRasterReadHeader2(job->raster, &header)) {
        if (JobCanceled(*job))
            return 0;
        // Checked before anything of the page is read.
        if (CheckPage(*job, header, pageIndex + 1) != 0 || CheckRasterisedSize(*job, header, pageIndex + 1) != 0)
            return 1;

        bool canceled = false;
        unsigned char* pixels = ReadPage(*job, header, &canceled);
        if (canceled)
            return 0;
        if (pixels == nullptr) {
            JobMessage(*job, MessageLevel::kError, "Not enough memory for page %d.", pageIndex + 1);
            return 1;
        }
        pixels = FillPaperPage(*job, pixels, &header);
        if (pixels == nullptr) {
            JobMessage(*job, MessageLevel::kError, "Not enough memory for page %d.", pageIndex + 1);
            return 1;
        }
        const int result = PrintPage(job, pixels, header, pageIndex, &pending);
        if (result != 0)
            return result;
        ++pageIndex;
        if (JobCanceled(*job))
            return 0;
    }

    // End of the stream: the last, incomplete sheet.
    return FinishPages(job, pending, pageIndex);
}

void CloseFilterJob(FilterJob* job)
{
    wrappedPpdClose(job->ppd);
    job->ppd = nullptr;
    if (job->raster != nullptr)
        cupsRasterClose(job->raster);
    job->raster = nullptr;
    delete job->device;
    job->device = nullptr;
    cupsFreeOptions(job->numOptions, job->options);
    job->numOptions = 0;
    job->options = nullptr;
    if (job->input > 0)
        close(job->input);
    job->input = -1;
}

int RunFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd)
{
    FilterJob job;
    int status = OpenFilterJob(argc, argv, makeDevice, outputFd, &job);
    if (status == 0)
        status = ApplyJobSettings(&job);
    if (status == 0)
        status = PrintJobPages(&job);
    CloseFilterJob(&job);
    return status;
}
