#include "PdfPages.h"

#include "PhotoRender.h"
#include "RequestParsers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pdf_pages {

namespace {

constexpr const char* kPdfInfo = "/usr/bin/pdfinfo";
constexpr const char* kPdfToPpm = "/usr/bin/pdftoppm";
// Memory a renderer may map: a 600 dpi page and poppler's own.
constexpr rlim_t kRendererMemory = rlim_t{2} << 30;
// pdfinfo's report is kept from its end: the page count is near it.
constexpr size_t kReportTail = 16384;

// What a renderer left behind.
struct RunOutcome {
    PdfResult result = PdfResult::Refused;
    int exitStatus = -1;         // its exit status; -1 when killed or not started
    std::string output;          // standard output (its tail for a report)
    std::string lastError;       // the last line it wrote to standard error
    bool outputTooLarge = false;
    bool timedOut = false;
};

// The user renderers run as when the application is root: nobody.
bool RendererUser(uid_t* uid, gid_t* gid)
{
    if (geteuid() != 0)
        return false;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwnam_r("nobody", &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        *uid = found->pw_uid;
        *gid = found->pw_gid;
    } else {
        *uid = 65534;
        *gid = 65534;
    }
    return true;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void StartRenderer(const char* const* argv, int input, int out, int err, bool dropUser, uid_t uid,
                                gid_t gid)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(input, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
        _exit(127);
    if (close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 4096; ++fd)
            close(fd);
    }
    const struct rlimit memory {kRendererMemory, kRendererMemory};
    const struct rlimit cpu {kRenderSeconds, kRenderSeconds};
    const struct rlimit noFiles {0, 0};
    if (setrlimit(RLIMIT_AS, &memory) != 0 || setrlimit(RLIMIT_CPU, &cpu) != 0 ||
        setrlimit(RLIMIT_FSIZE, &noFiles) != 0 || setrlimit(RLIMIT_CORE, &noFiles) != 0)
        _exit(127);
    if (dropUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
        _exit(127);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    static const char* const kEnvironment[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=/nonexistent", nullptr};
    execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(kEnvironment));
    _exit(127);
}

// Keeps the last line of a program's standard error, printable ASCII only.
void KeepLastLine(std::string* pending, std::string* last, const char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (!pending->empty())
                *last = *pending;
            pending->clear();
        } else if (c >= 0x20 && c < 0x7f && pending->size() < 200) {
            pending->push_back(c);
        }
    }
}

// Runs `argv` on the document open on `input` and waits for it.
// `maxOutput` bounds its standard output: beyond it the program is killed
// (outputTooLarge), unless `keepTail`, where only the last bytes are kept.
RunOutcome RunRenderer(const char* const* argv, int input, size_t maxOutput, bool keepTail, const CancelCheck& cancel)
{
    RunOutcome outcome;
    uid_t uid = 0;
    gid_t gid = 0;
    const bool dropUser = RendererUser(&uid, &gid);
    if (lseek(input, 0, SEEK_SET) != 0) {
        outcome.lastError = "the document cannot be read";
        return outcome;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return outcome;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return outcome;
    }
    const pid_t pid = fork();
    if (pid == 0)
        StartRenderer(argv, input, out[1], err[1], dropUser, uid, gid);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        outcome.lastError = "the renderer cannot be started";
        return outcome;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRenderSeconds);
    std::string pendingError;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool kill = false;
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (cancel.isCanceled != nullptr && cancel.isCanceled(cancel.data)) {
            outcome.result = PdfResult::Canceled;
            kill = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            outcome.timedOut = true;
            kill = true;
            break;
        }
        const int ready = poll(fds, 2, 200);
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            if (i == 1) {
                KeepLastLine(&pendingError, &outcome.lastError, buffer, static_cast<size_t>(got));
                continue;
            }
            outcome.output.append(buffer, static_cast<size_t>(got));
            if (outcome.output.size() > maxOutput) {
                if (keepTail) {
                    outcome.output.erase(0, outcome.output.size() - maxOutput);
                } else {
                    outcome.outputTooLarge = true;
                    kill = true;
                }
            }
        }
        if (kill)
            break;
    }
    for (const struct pollfd& fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    if (kill)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!pendingError.empty())
        outcome.lastError = pendingError;
    if (!kill && WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
        if (outcome.exitStatus == 0)
            outcome.result = PdfResult::Done;
    } else if (!kill && WIFSIGNALED(status)) {
        outcome.lastError = WTERMSIG(status) == SIGXCPU ? "it took too long" : "the renderer failed on it";
    }
    return outcome;
}

// Why a renderer's run gives no page: a sentence without a final stop.
std::string Failure(const RunOutcome& outcome, const char* what)
{
    std::string reason = std::string("The PDF ") + what;
    if (outcome.timedOut)
        return reason + ": it took longer than " + std::to_string(kRenderSeconds) + " seconds";
    if (outcome.outputTooLarge)
        return reason + ": the page's picture is too large";
    if (outcome.exitStatus == 127)
        return reason + ": the PDF renderer (poppler-utils) is not installed or cannot start";
    if (!outcome.lastError.empty())
        return reason + " (" + outcome.lastError + ")";
    return reason;
}

}  // namespace

PdfResult CountPdfPages(int pdf, const CancelCheck& cancel, int* pages, std::string* reason)
{
    const char* const argv[] = {kPdfInfo, "-", nullptr};
    const RunOutcome outcome = RunRenderer(argv, pdf, kReportTail, true, cancel);
    if (outcome.result != PdfResult::Done) {
        if (outcome.result == PdfResult::Refused)
            *reason = Failure(outcome, "cannot be read");
        return outcome.result;
    }
    *pages = PdfInfoPageCount(outcome.output.data(), outcome.output.size(), kMaxPdfPages);
    if (*pages == 0) {
        *reason = "The PDF has no pages, or more than " + std::to_string(kMaxPdfPages);
        return PdfResult::Refused;
    }
    return PdfResult::Done;
}

PdfResult RenderPdfPage(int pdf, int page, int longSide, const CancelCheck& cancel, int* png, std::string* reason)
{
    const std::string first = std::to_string(page);
    const std::string side = std::to_string(std::max(longSide, 1));
    const char* const argv[] = {kPdfToPpm, "-png", "-singlefile", "-f", first.c_str(), "-l", first.c_str(),
                                "-scale-to", side.c_str(), "-", nullptr};
    RunOutcome outcome =
        RunRenderer(argv, pdf, static_cast<size_t>(vantora_photo::kMaxPhotoBytes), false, cancel);
    if (outcome.result == PdfResult::Done && outcome.output.empty()) {
        outcome.result = PdfResult::Refused;
        outcome.lastError = "no picture came of it";
    }
    if (outcome.result != PdfResult::Done) {
        if (outcome.result == PdfResult::Refused)
            *reason = Failure(outcome, ("page " + first + " cannot be drawn").c_str());
        return outcome.result;
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
