#include "PdfPages.h"

#include "Cage.h"
#include "PhotoRender.h"
#include "RequestParsers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace pdf_pages {

namespace {

constexpr const char* kPdfInfo = "/usr/bin/pdfinfo";
constexpr const char* kPdfToPpm = "/usr/bin/pdftoppm";
// Memory a renderer may map: a 600 dpi page and poppler's own.
constexpr rlim_t kRendererMemory = rlim_t{2} << 30;
// pdfinfo's report is kept from its end: the page count is near it.
constexpr size_t kReportTail = 16384;

using vantora_cage::CageOutcome;
using vantora_cage::CageResult;

PdfResult ResultOf(const CageOutcome& outcome)
{
    return outcome.result == CageResult::Done       ? PdfResult::Done
           : outcome.result == CageResult::Canceled ? PdfResult::Canceled
                                                    : PdfResult::Refused;
}

// Runs poppler's program `argv` caged on the PDF open on `input`.
CageOutcome RunRenderer(const char* const* argv, int input, size_t maxOutput, bool keepTail, const CancelCheck& cancel,
                        vantora_cage::CpuBudget* budget)
{
    vantora_cage::CageLimits limits;
    limits.memoryBytes = kRendererMemory;
    limits.cpuSeconds = kRenderSeconds;
    return vantora_cage::RunCaged(argv, input, limits, maxOutput, keepTail, {cancel.isCanceled, cancel.data}, budget);
}

// Why a renderer's run gives no page: a sentence without a final stop.
std::string Failure(const CageOutcome& outcome, const char* what)
{
    std::string reason = std::string("The PDF ") + what;
    if (outcome.timedOut)
        return reason + ": it took too long (at most " + std::to_string(kRenderSeconds) + " seconds a page, " +
               std::to_string(vantora_cage::kJobCpuSeconds) + " a job)";
    if (outcome.outputTooLarge)
        return reason + ": the page's picture is too large";
    if (outcome.exitStatus == 127)
        return reason + ": the PDF renderer (poppler-utils) is not installed or cannot start";
    if (!outcome.lastError.empty())
        return reason + " (" + outcome.lastError + ")";
    if (outcome.signal != 0)
        return reason + " (the PDF renderer failed on it)";
    return reason;
}

}  // namespace

PdfResult CountPdfPages(int pdf, const CancelCheck& cancel, vantora_cage::CpuBudget* budget, int* pages,
                        std::string* reason)
{
    const char* const argv[] = {kPdfInfo, "-", nullptr};
    const CageOutcome outcome = RunRenderer(argv, pdf, kReportTail, true, cancel, budget);
    if (ResultOf(outcome) != PdfResult::Done) {
        if (ResultOf(outcome) == PdfResult::Refused)
            *reason = Failure(outcome, "cannot be read");
        return ResultOf(outcome);
    }
    *pages = PdfInfoPageCount(outcome.output.data(), outcome.output.size(), kMaxPdfPages);
    if (*pages == 0) {
        *reason = "The PDF has no pages, or more than " + std::to_string(kMaxPdfPages);
        return PdfResult::Refused;
    }
    return PdfResult::Done;
}

PdfResult RenderPdfPage(int pdf, int page, int longSide, const CancelCheck& cancel, vantora_cage::CpuBudget* budget,
                        int* png, std::string* reason)
{
    const std::string first = std::to_string(page);
    const std::string side = std::to_string(std::max(longSide, 1));
    const char* const argv[] = {kPdfToPpm, "-png", "-singlefile", "-f", first.c_str(), "-l", first.c_str(),
                                "-scale-to", side.c_str(), "-", nullptr};
    CageOutcome outcome =
        RunRenderer(argv, pdf, static_cast<size_t>(vantora_photo::kMaxPhotoBytes), false, cancel, budget);
    if (outcome.result == CageResult::Done && outcome.output.empty()) {
        outcome.result = CageResult::Failed;
        outcome.lastError = "no picture came of it";
    }
    if (ResultOf(outcome) != PdfResult::Done) {
        if (ResultOf(outcome) == PdfResult::Refused)
            *reason = Failure(outcome, ("page " + first + " cannot be drawn").c_str());
        return ResultOf(outcome);
    }
    const int fd = memfd_create("pdf-page", MFD_CLOEXEC);
    size_t written = 0;
    while (fd >= 0 && written < outcome.output.size()) {
        const ssize_t put = write(fd, outcome.output.data() + written, outcome.output.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        written += static_cast<size_t>(put);
    }
    if (fd < 0 || written != outcome.output.size() || lseek(fd, 0, SEEK_SET) != 0) {
        if (fd >= 0)
            close(fd);
        *reason = "Not enough memory for the PDF's page";
        return PdfResult::Refused;
    }
    *png = fd;
    return PdfResult::Done;
}

}  // namespace pdf_pages
