#include "PhotoCage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vantora_photo {

namespace {

// A photo to decode, sent to the decoder service with two descriptors:
// the photo and the socket its answer goes to.
struct DecodeRequest {
    uint32_t magic;
    int32_t width;
    int32_t height;
    int32_t scaling;       // Scaling
    int32_t monochrome;
    int32_t cpuSeconds;
    char type[64];         // the declared MIME type, NUL-terminated; empty for any photo
};

// What the decoder writes before the page's pixels (or its reason).
struct DecodedHeader {
    char magic[8];
    uint32_t refused;        // 0: a page follows; 1: the reason says why not
    uint32_t width;
    uint32_t height;
    uint32_t reasonBytes;
    uint64_t pixelBytes;
};

// What the decoder's supervisor writes last: how the decoder ended.
struct DecoderEnd {
    char magic[8];
    int32_t exitStatus;      // -1 when a signal ended it
    int32_t signal;
    uint64_t cpuMicroseconds;
};

constexpr uint32_t kRequestMagic = 0x52543530;   // "RT50"
constexpr char kPageMagic[8] = {'R', 'T', '5', '0', 'P', 'A', 'G', 'E'};
constexpr char kEndMagic[8] = {'R', 'T', '5', '0', 'D', 'O', 'N', 'E'};
constexpr uint32_t kMaxReasonBytes = 400;
// Longest page side the decoder renders: a 600 dpi page of the largest media.
constexpr int kMaxPageSide = 16384;

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

// Writes the decoder's answer to `fd`; 0, or 1 when it could not be written.
int Answer(int fd, const RenderedPage* page, const std::string& reason)
{
    DecodedHeader header{};
    std::memcpy(header.magic, kPageMagic, sizeof kPageMagic);
    const std::string text = reason.substr(0, kMaxReasonBytes);
    const size_t pixelBytes = page != nullptr ? PageRowBytes(page->width) * static_cast<size_t>(page->height) : 0;
    header.refused = page == nullptr ? 1 : 0;
    header.width = page != nullptr ? static_cast<uint32_t>(page->width) : 0;
    header.height = page != nullptr ? static_cast<uint32_t>(page->height) : 0;
    header.reasonBytes = page == nullptr ? static_cast<uint32_t>(text.size()) : 0;
    header.pixelBytes = pixelBytes;
    bool written = WriteAll(fd, &header, sizeof header);
    if (page == nullptr)
        written = written && WriteAll(fd, text.data(), text.size());
    else
        written = written && WriteAll(fd, page->pixels, pixelBytes);
    return written ? 0 : 1;
}

// In the decoder: renders the photo on `photo` and answers on `reply`.
[[noreturn]] void Decode(const DecodeRequest& request, int photo, int reply, bool started,
                         const std::string& startError)
{
    const struct rlimit cpu {static_cast<rlim_t>(request.cpuSeconds), static_cast<rlim_t>(request.cpuSeconds) + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    if (!started)
        _exit(Answer(reply, nullptr, startError));
    PageRequest page;
    page.width = request.width;
    page.height = request.height;
    page.scaling = static_cast<Scaling>(request.scaling);
    page.monochrome = request.monochrome != 0;
    page.declaredType = request.type;
    RenderedPage rendered;
    std::string reason;
    if (RenderPhoto(photo, page, &rendered, &reason) != RenderResult::Done)
        _exit(Answer(reply, nullptr, reason));
    _exit(Answer(reply, &rendered, reason));
}

// In the supervisor: runs the decoder, kills it when the job's side of
// `reply` closes (a cancel), and writes how it ended.
[[noreturn]] void Supervise(const DecodeRequest& request, int photo, int reply, bool started,
                            const std::string& startError)
{
    signal(SIGCHLD, SIG_DFL);
    const pid_t decoder = fork();
    if (decoder == 0)
        Decode(request, photo, reply, started, startError);
    close(photo);
    int status = 0;
    struct rusage usage {};
    if (decoder > 0) {
        for (;;) {
            const pid_t ended = wait4(decoder, &status, WNOHANG, &usage);
            if (ended == decoder || (ended < 0 && errno != EINTR))
                break;
            struct pollfd hangup {reply, POLLRDHUP, 0};
            if (poll(&hangup, 1, 50) > 0 && (hangup.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                kill(decoder, SIGKILL);
                while (wait4(decoder, &status, 0, &usage) < 0 && errno == EINTR) {
                }
                break;
            }
        }
    }
    DecoderEnd end{};
    std::memcpy(end.magic, kEndMagic, sizeof kEndMagic);
    end.exitStatus = decoder > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end.signal = decoder > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    end.cpuMicroseconds = static_cast<uint64_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1'000'000u +
                          static_cast<uint64_t>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    WriteAll(reply, &end, sizeof end);
    _exit(0);
}

// The decoder service on standard input: libvips started once, the
// process locked down, then a supervisor and a decoder forked for each
// photo asked for. Ends when the caller's side of the socket closes.
int ServePhotoDecoding()
{
    mallopt(M_ARENA_MAX, 2);
    signal(SIGPIPE, SIG_IGN);
    // No file grows here; standard error, should it be a file, only loses
    // its lines.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGCHLD, SIG_IGN);   // supervisors are reaped by the kernel
    std::string startError;
    const bool started = StartPhotoDecoding(&startError);
    // Nothing is decoded here: libvips' first decoding starts threads, and
    // a process with threads cannot be forked safely for the next photo.
    vantora_cage::LockDownProcess();
    for (;;) {
        DecodeRequest request{};
        char control[CMSG_SPACE(2 * sizeof(int))] = {};
        struct iovec part {&request, sizeof request};
        struct msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(STDIN_FILENO, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        // The caller is gone. The process ends at once, without the exit
        // handlers of the libraries it loaded: locked down, a handler that
        // needs a call the cage forbids (a sanitizer's leak check traces
        // its threads) would never end.
        if (got <= 0)
            _exit(0);
        int fds[2] = {-1, -1};
        for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(2 * sizeof(int)))
                std::memcpy(fds, CMSG_DATA(c), sizeof fds);
        }
        request.type[sizeof request.type - 1] = '\0';
        const bool valid = got == static_cast<ssize_t>(sizeof request) && request.magic == kRequestMagic &&
                           fds[0] >= 0 && fds[1] >= 0 && request.width > 0 && request.height > 0 &&
                           request.width <= kMaxPageSide && request.height <= kMaxPageSide &&
                           request.scaling >= 0 && request.scaling <= 2 && request.cpuSeconds > 0;
        if (valid && fork() == 0) {
            close(STDIN_FILENO);
            Supervise(request, fds[0], fds[1], started, startError);
        }
        for (int fd : fds) {
            if (fd >= 0)
                close(fd);
        }
    }
}

// The running decoder service of this process.
std::mutex g_serviceLock;
std::string g_program = "/proc/self/exe";
int g_service = -1;        // our side of its socket
pid_t g_servicePid = -1;

// Starts the service (the program again, or a fork of this process when
// `forkOnly`) unless it runs. Called with g_serviceLock held.
bool StartService(bool forkOnly)
{
    if (g_service >= 0) {
        // Gone (the caller reaps it, or it stays a zombie until then): start anew.
        if (waitpid(g_servicePid, nullptr, WNOHANG) == 0)
            return true;
        close(g_service);
        g_service = -1;
    }
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        return false;
    vantora_cage::CageLimits limits;
    limits.memoryBytes = kDecoderMemory;
    const char* const argv[] = {g_program.c_str(), kPhotoDecoderArgument, nullptr};
    const pid_t pid = vantora_cage::StartCagedService(forkOnly ? nullptr : argv,
                                                      forkOnly ? ServePhotoDecoding : nullptr, sockets[1], limits);
    close(sockets[1]);
    if (pid < 0) {
        close(sockets[0]);
        return false;
    }
    g_service = sockets[0];
    g_servicePid = pid;
    return true;
}

// Sends the request with its two descriptors; false when the service is gone.
bool SendRequest(const DecodeRequest& request, int photo, int reply)
{
    char control[CMSG_SPACE(2 * sizeof(int))] = {};
    struct iovec part {const_cast<DecodeRequest*>(&request), sizeof request};
    struct msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    struct cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(2 * sizeof(int));
    const int fds[2] = {photo, reply};
    std::memcpy(CMSG_DATA(c), fds, sizeof fds);
    std::lock_guard<std::mutex> lock(g_serviceLock);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!StartService(false))
            return false;
        ssize_t sent;
        do {
            sent = sendmsg(g_service, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent == static_cast<ssize_t>(sizeof request))
            return true;
        // The service ended (a crash, or a program that is no decoder).
        close(g_service);
        g_service = -1;
        waitpid(g_servicePid, nullptr, WNOHANG);
    }
    return false;
}

// Keeps printable ASCII only.
std::string Printable(const std::string& text)
{
    std::string copy;
    for (char c : text)
        copy += (c >= 0x20 && c < 0x7f) ? c : '?';
    return copy;
}

// Why a decoder that gave no answer ended: a sentence without a final stop.
std::string DecoderFailure(const DecoderEnd& end, double cpuSeconds, int cpuLimit)
{
    if (end.signal == SIGXCPU || (end.signal == SIGKILL && cpuSeconds >= cpuLimit))
        return "The photo took too long to decode (at most " + std::to_string(kDecoderCpuSeconds) +
               " seconds of processing a photo, " + std::to_string(vantora_cage::kJobCpuSeconds) + " a job)";
    if (end.signal == SIGSEGV || end.signal == SIGABRT || end.signal == SIGBUS)
        return "The photo could not be decoded: the decoder stopped on it (it may need more memory than a photo "
               "may have)";
    if (end.signal != 0)
        return "The photo could not be decoded: the decoder was stopped (signal " + std::to_string(end.signal) + ")";
    return "The photo could not be decoded";
}

}  // namespace

bool IsPhotoDecoderCall(int argc, char* argv[])
{
    return argc >= 2 && std::strcmp(argv[1], kPhotoDecoderArgument) == 0;
}

int PhotoDecoderMain(int argc, char*[])
{
    return argc == 2 ? ServePhotoDecoding() : 2;
}

bool StartPhotoDecoderHere()
{
    std::lock_guard<std::mutex> lock(g_serviceLock);
    return StartService(true);
}

void SetPhotoDecoderProgram(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_serviceLock);
    g_program = path;
    if (g_service >= 0) {
        close(g_service);
        g_service = -1;
        waitpid(g_servicePid, nullptr, 0);
    }
}

RenderResult RenderPhotoCaged(int fd, const PageRequest& request, vantora_cage::CpuBudget* budget,
                              RenderedPage* page, std::string* reason)
{
    *page = RenderedPage{};
    if (request.width <= 0 || request.height <= 0 || request.width > kMaxPageSide || request.height > kMaxPageSide) {
        *reason = "The page has no size";
        return RenderResult::Refused;
    }
    int cpuSeconds = kDecoderCpuSeconds;
    if (budget != nullptr) {
        if (budget->secondsLeft < 0.5) {
            *reason = "The job has used its processing time (" + std::to_string(vantora_cage::kJobCpuSeconds) +
                      " seconds)";
            return RenderResult::Refused;
        }
        cpuSeconds = std::min(cpuSeconds, static_cast<int>(std::ceil(budget->secondsLeft)));
    }
    DecodeRequest message{};
    message.magic = kRequestMagic;
    message.width = request.width;
    message.height = request.height;
    message.scaling = static_cast<int32_t>(request.scaling);
    message.monochrome = request.monochrome ? 1 : 0;
    message.cpuSeconds = cpuSeconds;
    if (request.declaredType != nullptr) {
        if (std::strlen(request.declaredType) >= sizeof message.type) {
            *reason = "The document's type is not a photo this printer takes";
            return RenderResult::Refused;
        }
        std::strcpy(message.type, request.declaredType);
    }
    // A file from its start; a pipe from where it is.
    if (lseek(fd, 0, SEEK_SET) != 0 && errno != ESPIPE) {
        *reason = std::string("The photo cannot be read: ") + std::strerror(errno);
        return RenderResult::Refused;
    }
    int reply[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reply) != 0) {
        *reason = "The photo decoder cannot be started";
        return RenderResult::Refused;
    }
    const bool sent = SendRequest(message, fd, reply[1]);
    close(reply[1]);
    if (!sent) {
        close(reply[0]);
        *reason = "The photo decoder cannot be started";
        return RenderResult::Refused;
    }

    // The answer, then how the decoder ended, until the supervisor closes
    // the socket. A cancel (or a decoder past its time) closes our side,
    // and the supervisor kills the decoder.
    const size_t pixelBytes = PageRowBytes(request.width) * static_cast<size_t>(request.height);
    const size_t maxOutput = sizeof(DecodedHeader) + kMaxReasonBytes + pixelBytes + sizeof(DecoderEnd);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kDecoderCpuSeconds);
    std::string output;
    output.reserve(sizeof(DecodedHeader) + pixelBytes + sizeof(DecoderEnd));
    bool canceled = false, timedOut = false, tooLarge = false;
    std::vector<char> buffer(1 << 18);
    for (;;) {
        if (request.isCanceled != nullptr && request.isCanceled(request.cancelData)) {
            canceled = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        struct pollfd ready {reply[0], POLLIN, 0};
        const int polled = poll(&ready, 1, 100);
        if (polled < 0 && errno != EINTR)
            break;
        if (polled <= 0)
            continue;
        const ssize_t got = read(reply[0], buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        output.append(buffer.data(), static_cast<size_t>(got));
        if (output.size() > maxOutput) {
            tooLarge = true;
            break;
        }
    }
    close(reply[0]);
    if (canceled)
        return RenderResult::Canceled;
    if (timedOut) {
        *reason = "The photo took too long to decode (more than " + std::to_string(kDecoderCpuSeconds) + " seconds)";
        return RenderResult::Refused;
    }
    if (tooLarge) {
        *reason = "The photo decoder's page is not the page asked for";
        return RenderResult::Refused;
    }

    DecoderEnd end{};
    if (output.size() < sizeof end) {
        *reason = "The photo could not be decoded: the decoder ended without an answer";
        return RenderResult::Refused;
    }
    std::memcpy(&end, output.data() + output.size() - sizeof end, sizeof end);
    output.resize(output.size() - sizeof end);
    if (std::memcmp(end.magic, kEndMagic, sizeof kEndMagic) != 0) {
        *reason = "The photo decoder's page is not the page asked for";
        return RenderResult::Refused;
    }
    const double used = static_cast<double>(end.cpuMicroseconds) / 1e6;
    if (budget != nullptr)
        budget->secondsLeft -= used;
    if (end.exitStatus != 0) {
        *reason = DecoderFailure(end, used, cpuSeconds);
        return RenderResult::Refused;
    }

    // Only the exact page asked for is taken.
    DecodedHeader header{};
    if (output.size() >= sizeof header)
        std::memcpy(&header, output.data(), sizeof header);
    const bool framed = output.size() >= sizeof header && std::memcmp(header.magic, kPageMagic, sizeof kPageMagic) == 0;
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
