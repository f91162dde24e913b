#include "PhotoCage.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace vantora_photo {

namespace {

// What the decoder writes before the page's pixels (and its reason).
struct DecodedHeader {
    char magic[8];
    uint32_t refused;        // 0: a page follows; 1: the reason says why not
    uint32_t width;
    uint32_t height;
    uint32_t reasonBytes;
    uint64_t pixelBytes;
};
constexpr char kMagic[8] = {'R', 'T', '5', '0', 'P', 'A', 'G', 'E'};
constexpr uint32_t kMaxReasonBytes = 400;
// Longest page side the decoder renders: a 600 dpi page of the largest media.
constexpr long kMaxPageSide = 16384;

std::mutex g_programLock;
std::string g_program = "/proc/self/exe";

bool WriteAll(int fd, const void* data, size_t length)
{
    const char* at = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t put = write(fd, at, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

// Writes the decoder's answer; 0, or 1 when it could not be written.
int Answer(const RenderedPage* page, size_t pixelBytes, const std::string& reason)
{
    DecodedHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    const std::string text = reason.substr(0, kMaxReasonBytes);
    header.refused = page == nullptr ? 1 : 0;
    header.width = page != nullptr ? static_cast<uint32_t>(page->width) : 0;
    header.height = page != nullptr ? static_cast<uint32_t>(page->height) : 0;
    header.reasonBytes = page == nullptr ? static_cast<uint32_t>(text.size()) : 0;
    header.pixelBytes = page != nullptr ? pixelBytes : 0;
    bool written = WriteAll(STDOUT_FILENO, &header, sizeof header);
    if (page == nullptr)
        written = written && WriteAll(STDOUT_FILENO, text.data(), text.size());
    else
        written = written && WriteAll(STDOUT_FILENO, page->pixels, pixelBytes);
    return written ? 0 : 1;
}

const char* ScalingName(Scaling scaling)
{
    return scaling == Scaling::Fit ? "fit" : scaling == Scaling::Auto ? "auto" : "fill";
}

// Why a decoder gave no page: a sentence without a final stop.
std::string CageFailure(const vantora_cage::CageOutcome& outcome)
{
    if (outcome.timedOut)
        return "The photo took too long to decode (at most " + std::to_string(kDecoderCpuSeconds) +
               " seconds of processing a photo, " + std::to_string(vantora_cage::kJobCpuSeconds) + " a job)";
    if (outcome.outputTooLarge)
        return "The photo decoder gave more than the page";
    if (outcome.exitStatus == 127)
        return "The photo decoder cannot be started";
    if (outcome.signal == SIGSEGV || outcome.signal == SIGABRT || outcome.signal == SIGBUS)
        return "The photo could not be decoded: the decoder stopped on it (it may need more memory than a photo "
               "may have)";
    if (outcome.signal != 0)
        return "The photo could not be decoded: the decoder was stopped (signal " + std::to_string(outcome.signal) +
               ")";
    return "The photo could not be decoded";
}

// Keeps printable ASCII only.
std::string Printable(const std::string& text)
{
    std::string copy;
    for (char c : text)
        copy += (c >= 0x20 && c < 0x7f) ? c : '?';
    return copy;
}

}  // namespace

bool IsPhotoDecoderCall(int argc, char* argv[])
{
    return argc >= 2 && std::strcmp(argv[1], kPhotoDecoderArgument) == 0;
}

int PhotoDecoderMain(int argc, char* argv[])
{
    // program --vantora-photo-decoder WIDTH HEIGHT SCALING MONOCHROME TYPE
    if (argc != 7)
        return 2;
    PageRequest request;
    const long width = std::strtol(argv[2], nullptr, 10);
    const long height = std::strtol(argv[3], nullptr, 10);
    if (width <= 0 || height <= 0 || width > kMaxPageSide || height > kMaxPageSide)
        return 2;
    request.width = static_cast<int>(width);
    request.height = static_cast<int>(height);
    request.scaling = std::strcmp(argv[4], "fit") == 0    ? Scaling::Fit
                      : std::strcmp(argv[4], "auto") == 0 ? Scaling::Auto
                                                          : Scaling::Fill;
    request.monochrome = std::strcmp(argv[5], "1") == 0;
    request.declaredType = argv[6];
    std::string reason;
    if (!StartPhotoDecoding(&reason))
        return Answer(nullptr, 0, reason);
    // libvips and its loaders are loaded: from here on the photo's bytes
    // are all it reads.
    vantora_cage::LockDownProcess();
    RenderedPage page;
    if (RenderPhoto(STDIN_FILENO, request, &page, &reason) != RenderResult::Done)
        return Answer(nullptr, 0, reason);
    const int status = Answer(&page, PageRowBytes(page.width) * static_cast<size_t>(page.height), reason);
    std::free(page.pixels);
    return status;
}

void SetPhotoDecoderProgram(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_programLock);
    g_program = path;
}

RenderResult RenderPhotoCaged(int fd, const PageRequest& request, vantora_cage::CpuBudget* budget,
                              RenderedPage* page, std::string* reason)
{
    *page = RenderedPage{};
    if (request.width <= 0 || request.height <= 0 || request.width > kMaxPageSide || request.height > kMaxPageSide) {
        *reason = "The page has no size";
        return RenderResult::Refused;
    }
    std::string program;
    {
        std::lock_guard<std::mutex> lock(g_programLock);
        program = g_program;
    }
    const std::string width = std::to_string(request.width);
    const std::string height = std::to_string(request.height);
    const char* const argv[] = {program.c_str(), kPhotoDecoderArgument, width.c_str(), height.c_str(),
                                ScalingName(request.scaling), request.monochrome ? "1" : "0",
                                request.declaredType != nullptr ? request.declaredType : "", nullptr};
    vantora_cage::CageLimits limits;
    limits.memoryBytes = kDecoderMemory;
    limits.cpuSeconds = kDecoderCpuSeconds;
    const size_t pixelBytes = PageRowBytes(request.width) * static_cast<size_t>(request.height);
    const vantora_cage::CageOutcome outcome =
        vantora_cage::RunCaged(argv, fd, limits, sizeof(DecodedHeader) + kMaxReasonBytes + pixelBytes, false,
                               {request.isCanceled, request.cancelData}, budget);
    if (!outcome.notes.empty())
        std::fputs(outcome.notes.c_str(), stderr);
    if (outcome.result == vantora_cage::CageResult::Canceled)
        return RenderResult::Canceled;
    if (outcome.result != vantora_cage::CageResult::Done) {
        *reason = CageFailure(outcome);
        return RenderResult::Refused;
    }

    // Only the exact page asked for is taken.
    DecodedHeader header{};
    const std::string& output = outcome.output;
    if (output.size() >= sizeof header)
        std::memcpy(&header, output.data(), sizeof header);
    const bool framed = output.size() >= sizeof header && std::memcmp(header.magic, kMagic, sizeof kMagic) == 0;
    if (framed && header.refused == 1 && header.reasonBytes <= kMaxReasonBytes &&
        output.size() == sizeof header + header.reasonBytes) {
        *reason = Printable(output.substr(sizeof header));
        if (reason->empty())
            *reason = "The photo could not be decoded";
        return RenderResult::Refused;
    }
    if (!framed || header.refused != 0 || header.width != static_cast<uint32_t>(request.width) ||
        header.height != static_cast<uint32_t>(request.height) || header.pixelBytes != pixelBytes ||
        output.size() != sizeof header + pixelBytes) {
        *reason = "The photo decoder's page is not the page asked for";
        return RenderResult::Refused;
    }
    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(pixelBytes + 1));
    if (pixels == nullptr) {
        *reason = "Not enough memory for the page";
        return RenderResult::Refused;
    }
    std::memcpy(pixels, output.data() + sizeof header, pixelBytes);
    page->pixels = pixels;
    page->width = request.width;
    page->height = request.height;
    return RenderResult::Done;
}

}  // namespace vantora_photo
