#include "AppPrintJob.h"

#include "JobQueue.h"
#include "JobSettings.h"
#include "PhotoCage.h"
#include "PhotoJob.h"
#include "DeviceEntryRT50.h"
#include "AttachedPrinter.h"
#include "PdfPages.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Largest sheet stream accepted: three planes of the longest page at 600
// dpi come to about 21 MB.
constexpr size_t kMaxSheetBytes = 64u * 1024 * 1024;

bool JobIsCanceled(void* job)
{
    return job != nullptr && papplJobIsCanceled(static_cast<pappl_job_t*>(job));
}

// Fill the page unless the job asked to fit it, or the page's shape is far
// from the media's (a document page on photo media shows whole).
bool ChooseFill(pappl_scaling_t scaling, long width, long height, long pageWidth, long pageHeight)
{
    if (scaling == PAPPL_SCALING_FILL)
        return true;
    if (scaling != PAPPL_SCALING_AUTO && scaling != 0)
        return false;
    if (width <= 0 || height <= 0 || pageWidth <= 0 || pageHeight <= 0)
        return false;
    const double ratio = (static_cast<double>(width) / height) / (static_cast<double>(pageWidth) / pageHeight);
    return ratio > 0.9 && ratio < 1.1;
}

}  // namespace

SheetSink::SheetSink(AttachedPrinter* attached, pappl_job_t* job)
    : m_attached(attached), m_job(job), m_sheets(job)
{
}

int SheetSink::TakePacket(const unsigned char* data, size_t length)
{
    if (length > kMaxSheetBytes - m_sheet.size())
        return ENOMEM;
    m_sheet.insert(m_sheet.end(), data, data + length);
    return 0;
}

int SheetSink::EndSheet()
{
    if (m_attached == nullptr)
        return EIO;
    const int result = m_attached->PrintSheet(m_sheet.data(), m_sheet.size(), &m_sheets, m_job, JobIsCanceled, m_job);
    m_sheet.clear();
    if (result != 0)
        return result;
    // The count is the job's sheets so far, those an earlier run printed
    // (skipped here) among them: a job resumed after a restart counts each
    // sheet once, whatever count the saved state brought back.
    ++m_printed;
    if (m_job != nullptr && m_countImpressions)
        papplJobSetImpressionsCompleted(m_job, m_printed - papplJobGetImpressionsCompleted(m_job));
    ShowMediaSheetsCompleted(m_job, m_printed);
    return 0;
}

void JobLogSink::Message(MessageLevel level, const char* text)
{
    if (m_job == nullptr)
        return;
    static const pappl_loglevel_t kLevels[] = {PAPPL_LOGLEVEL_DEBUG, PAPPL_LOGLEVEL_INFO, PAPPL_LOGLEVEL_WARN,
                                               PAPPL_LOGLEVEL_ERROR};
    papplLogJob(m_job, kLevels[static_cast<int>(level)], "%s", text);
    // An error is the reason a job ends: clients and the jobs page show it.
    if (level == MessageLevel::kError)
        papplJobSetMessage(m_job, "%s", text);
}

AppPrintJob::AppPrintJob(pappl_job_t* job, const pappl_pr_options_t& options, const char* scaling,
                           AttachedPrinter* attached)
    : m_job(job), m_sink(attached, job), m_messages(job)
{
    m_jobId = std::to_string(job != nullptr ? papplJobGetID(job) : 1);
    m_filter.jobId = m_jobId.c_str();
    m_filter.numOptions = BuildFilterOptions(options, scaling, &m_filter.options);
    m_optionText = OptionString(m_filter.numOptions, m_filter.options);
    m_filter.isCanceled = JobIsCanceled;
    m_filter.cancelData = job;
    m_filter.messages = &m_messages;
    m_scaling = options.print_scaling;
    m_scalingChosen = scaling != nullptr;
    m_monochrome = options.print_color_mode == PAPPL_COLOR_MODE_MONOCHROME;
    DeviceEntry_RT50* device = new DeviceEntry_RT50();
    device->SetSink(&m_sink);
    m_filter.device = device;
}

AppPrintJob::~AppPrintJob()
{
    std::free(m_page.pixels);
    CloseFilterJob(&m_filter);
}

void AppPrintJob::Log(pappl_loglevel_t level, const char* message)
{
    if (level == PAPPL_LOGLEVEL_ERROR)
        m_messages.Message(MessageLevel::kError, message);
    else if (m_job != nullptr)
        papplLogJob(m_job, level, "%s", message);
}

bool AppPrintJob::Start()
{
    Log(PAPPL_LOGLEVEL_DEBUG, ("Filter options: " + m_optionText).c_str());
    if (ApplyJobSettings(&m_filter) != 0) {
        m_failed = true;
        return false;
    }
    m_started = true;
    return true;
}

bool AppPrintJob::UseResolution(unsigned x, unsigned y)
{
    // The head prints 300 x 300 or 600 x 600 dpi; a page of another
    // resolution is brought to the 300 dpi page like any other size.
    const char* value = x == 600 && y == 600 ? "600x600dpi" : "300x300dpi";
    const char* current = cupsGetOption("Resolution", m_filter.numOptions, m_filter.options);
    if (m_started && current != nullptr && std::strcmp(current, value) == 0)
        return true;
    if (m_started && m_pending > 0) {
        if (FinishPages(&m_filter, m_pending, m_pageIndex) != 0) {
            m_failed = true;
            return false;
        }
        m_pending = 0;
    }
    m_filter.numOptions = cupsAddOption("Resolution", value, m_filter.numOptions, &m_filter.options);
    m_optionText = OptionString(m_filter.numOptions, m_filter.options);
    return Start();
}

bool AppPrintJob::StartPage(const cups_page_header2_t& header, int copies)
{
    std::free(m_page.pixels);
    m_page = PageBuffer{};
    m_header = header;
    const bool grey = header.cupsBitsPerPixel == 8 && header.cupsBitsPerColor == 8;
    const bool colour = header.cupsBitsPerPixel == 24 && header.cupsBitsPerColor == 8;
    if ((!grey && !colour) || header.cupsWidth == 0 || header.cupsHeight == 0 || header.cupsWidth > kMaxPageDots ||
        header.cupsHeight > kMaxPageDots ||
        static_cast<unsigned long long>(header.cupsBytesPerLine) < static_cast<unsigned long long>(header.cupsWidth) * (grey ? 1 : 3)) {
        Log(PAPPL_LOGLEVEL_ERROR, "Only 8-bit grey and 24-bit colour pages of a printable size can be printed.");
        if (m_job != nullptr)
            papplJobSetReasons(m_job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        m_failed = true;
        return false;
    }
    if (!UseResolution(header.HWResolution[0], header.HWResolution[1]))
        return false;
    m_bytesPerPixel = grey ? 1 : 3;
    m_copies = copies < 1 ? 1 : (copies > 999 ? 999 : copies);
    m_stride = PageStride(header.cupsWidth);
    m_page.width = header.cupsWidth;
    m_page.height = header.cupsHeight;
    m_page.pixels = static_cast<unsigned char*>(std::malloc(m_stride * header.cupsHeight + 1));
    if (m_page.pixels == nullptr) {
        Log(PAPPL_LOGLEVEL_ERROR, "Not enough memory for the page.");
        m_failed = true;
        return false;
    }
    // Lines that never come stay white.
    std::memset(m_page.pixels, 255, m_stride * header.cupsHeight);
    return true;
}

bool AppPrintJob::WriteLine(unsigned y, const unsigned char* line)
{
    if (m_page.pixels == nullptr || line == nullptr || y >= static_cast<unsigned long>(m_page.height))
        return !m_failed;
    unsigned char* row = m_page.pixels + m_stride * (static_cast<unsigned long>(m_page.height) - 1 - y);
    const unsigned long width = static_cast<unsigned long>(m_page.width);
    if (m_bytesPerPixel == 3 && m_monochrome) {
        // Rec. 601 luma, as a grey raster page would carry it.
        for (unsigned long x = 0; x < width; ++x) {
            const unsigned grey = (77u * line[3 * x] + 150u * line[3 * x + 1] + 29u * line[3 * x + 2] + 128u) >> 8;
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<unsigned char>(grey);
        }
    } else if (m_bytesPerPixel == 3) {
        std::memcpy(row, line, width * 3);
    } else {
        for (unsigned long x = 0; x < width; ++x)
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = line[x];
    }
    return true;
}

bool AppPrintJob::EndPage()
{
    if (m_failed || m_page.pixels == nullptr)
        return false;
    // The printable page in raster dots: 600 dpi pages are twice as wide
    // before the pipeline brings them to the head's 300 dpi.
    const DeviceEntry& device = *m_filter.device;
    const long pageWidth = static_cast<long>(device.m_media.planePageWidth) * (device.m_settings.resolutionMode == 2 ? 2 : 1);
    const long pageHeight = device.m_media.planeHeight;
    const bool fill = ChooseFill(m_scaling, m_page.width, m_page.height, pageWidth, pageHeight);
    if (!FitPageToMedia(&m_page, pageWidth, pageHeight, fill)) {
        Log(PAPPL_LOGLEVEL_ERROR, "Not enough memory to fit the page to the media.");
        m_failed = true;
        return false;
    }
    cups_page_header2_t header = m_header;
    header.cupsWidth = static_cast<unsigned>(m_page.width);
    header.cupsHeight = static_cast<unsigned>(m_page.height);
    header.cupsBitsPerPixel = 24;
    header.cupsBitsPerColor = 8;
    header.cupsBytesPerLine = header.cupsWidth * 3;
    header.NumCopies = static_cast<unsigned>(m_copies);
    unsigned char* pixels = m_page.pixels;
    m_page = PageBuffer{};
    if (PrintPage(&m_filter, pixels, header, m_pageIndex, &m_pending) != 0) {
        m_failed = true;
        return false;
    }
    ++m_pageIndex;
    // PAPPL counts each raster page once; its further copies are ours.
    if (m_job != nullptr && m_copies > 1)
        papplJobSetImpressionsCompleted(m_job, m_copies - 1);
    return true;
}

bool AppPrintJob::PrintPhoto(const char* file, int copies, bool monochrome)
{
    if (m_failed)
        return false;
    const int fd = file != nullptr ? open(file, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        RefusePhoto(std::string("The photo cannot be read: ") + std::strerror(errno));
        return false;
    }
    const bool printed = PrintPicture(fd, m_job != nullptr ? papplJobGetFormat(m_job) : nullptr, copies, monochrome,
                                      false);
    close(fd);
    return printed;
}

bool AppPrintJob::PrintPicture(int fd, const char* type, int copies, bool monochrome, bool documentPage)
{
    vantora_photo::PageRequest request = vantora_photo::PageRequestOf(m_filter);
    request.monochrome = request.monochrome || monochrome;
    // A photo fills the sheet unless the job says otherwise; a document's
    // page is shown whole unless it has the sheet's shape.
    if (documentPage && !m_scalingChosen)
        request.scaling = vantora_photo::Scaling::Auto;
    request.declaredType = type;
    vantora_photo::RenderedPage page;
    std::string reason;
    const vantora_photo::RenderResult rendered =
        vantora_photo::RenderPhotoCaged(fd, request, m_cpuBudget, &page, &reason);
    if (rendered == vantora_photo::RenderResult::Canceled)
        return true;
    if (rendered == vantora_photo::RenderResult::Refused) {
        RefusePhoto(reason);
        return false;
    }
    const int clamped = copies < 1 ? 1 : (copies > 999 ? 999 : copies);
    if (vantora_photo::PrintRenderedPage(&m_filter, &page, clamped, m_pageIndex, &m_pending) != 0) {
        std::free(page.pixels);
        Log(PAPPL_LOGLEVEL_ERROR, "The page could not be printed.");
        m_failed = true;
        return false;
    }
    ++m_pageIndex;
    return true;
}

bool AppPrintJob::PrintPdf(int pdf, int first, int last, int copies, bool collate, bool monochrome)
{
    if (m_failed)
        return false;
    const vantora_photo::PageRequest request = vantora_photo::PageRequestOf(m_filter);
    const pdf_pages::CancelCheck cancel{request.isCanceled, request.cancelData};
    // The page drawn at least as large as the sheet's page both ways for a
    // page up to 2:3 in shape (600 dpi pages are twice as wide).
    const int longer = std::max(request.width, request.height);
    const int shorter = std::min(request.width, request.height);
    const int drawnSide = std::max(longer, shorter * 3 / 2);
    const int clamped = copies < 1 ? 1 : (copies > 999 ? 999 : copies);
    const int rounds = collate ? clamped : 1;
    const int together = collate ? 1 : clamped;
    for (int round = 0; round < rounds; ++round) {
        for (int number = first; number <= last; ++number) {
            if (JobCanceled(m_filter))
                return true;
            int png = -1;
            std::string reason;
            const pdf_pages::PdfResult drawn =
                pdf_pages::RenderPdfPage(pdf, number, drawnSide, cancel, m_cpuBudget, &png, &reason);
            if (drawn == pdf_pages::PdfResult::Canceled) {
                Log(PAPPL_LOGLEVEL_INFO, pdf_pages::kRendererStopped);
                return true;
            }
            if (drawn == pdf_pages::PdfResult::Refused) {
                RefusePhoto(reason);
                return false;
            }
            // poppler's picture of the page is a PNG.
            const bool printed = PrintPicture(png, "image/png", together, monochrome, true);
            close(png);
            if (!printed)
                return false;
        }
    }
    return true;
}

void AppPrintJob::RefusePhoto(const std::string& reason)
{
    Log(PAPPL_LOGLEVEL_ERROR, (reason + ".").c_str());
    if (m_job != nullptr) {
        // The job's message names the document's format with the reason:
        // a client shows it, not the log.
        const char* format = papplJobGetFormat(m_job);
        papplJobSetMessage(m_job, "%s not printed: %s.", format != nullptr ? format : "document", reason.c_str());
        papplJobSetReasons(m_job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    }
    m_failed = true;
}

bool AppPrintJob::Finish()
{
    if (m_failed)
        return false;
    if (FinishPages(&m_filter, m_pending, m_pageIndex) != 0) {
        m_failed = true;
        return false;
    }
    m_pending = 0;
    if (JobCanceled(m_filter))
        return false;
    m_sink.JobDone();
    return true;
}
