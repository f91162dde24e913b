#include "Cage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantora_cage {

namespace {

// The user caged programs run as when the caller is root: nobody.
bool CageUser(uid_t* uid, gid_t* gid)
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

// In the child between fork and exec: only async-signal-safe calls (but
// for `serve`, run instead of a program by a caller with one thread).
// CPU time unbounded when `cpuSeconds` is 0.
[[noreturn]] void StartCaged(const char* const* argv, int (*serve)(), int input, int out, int err,
                             const CageLimits& limits, rlim_t cpuSeconds, bool dropUser, uid_t uid, gid_t gid,
                             pid_t parent, bool service)
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
    // The address-space limit would stop a sanitizer's shadow memory.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const struct rlimit memory {limits.memoryBytes, limits.memoryBytes};
    if (setrlimit(RLIMIT_AS, &memory) != 0)
        _exit(127);
#else
    (void)limits;
#endif
    // Past the soft limit SIGXCPU ends it; the hard limit a second later
    // kills it should it catch that.
    const struct rlimit cpu {cpuSeconds == 0 ? RLIM_INFINITY : cpuSeconds,
                             cpuSeconds == 0 ? RLIM_INFINITY : cpuSeconds + 1};
    const struct rlimit noFiles {0, 0};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0 || setrlimit(RLIMIT_FSIZE, &noFiles) != 0 ||
        setrlimit(RLIMIT_CORE, &noFiles) != 0)
        _exit(127);
    if (dropUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
        _exit(127);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    // A program ends with the thread that waits for it. A service outlives
    // the thread that started it: it ends when its caller's socket closes.
    if (!service) {
        prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        // The caller may have ended before the line above.
        if (getppid() != parent)
            _exit(127);
    }
    if (serve != nullptr)
        _exit(serve());
    static const char* const kEnvironment[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=/nonexistent",
                                               // Fewer malloc arenas: less address space per thread.
                                               "MALLOC_ARENA_MAX=2", nullptr};
    execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(kEnvironment));
    _exit(127);
}

// Sorts a program's standard error: its "DEBUG:" lines (at most four) into
// *notes, the last other line into *last; printable ASCII only.
void KeepLines(std::string* pending, std::string* last, std::string* notes, const char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (pending->rfind("DEBUG:", 0) == 0) {
                if (std::count(notes->begin(), notes->end(), '\n') < 4)
                    *notes += *pending + "\n";
            } else if (!pending->empty()) {
                *last = *pending;
            }
            pending->clear();
        } else if (c >= 0x20 && c < 0x7f && pending->size() < 200) {
            pending->push_back(c);
        }
    }
}

double CpuOf(const struct rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Landlock's interface, declared here for kernels newer than the headers.
struct LandlockRuleset {
    uint64_t handledAccessFs;
    uint64_t handledAccessNet;
    uint64_t scoped;
};
constexpr unsigned kLandlockVersionFlag = 1U << 0;   // LANDLOCK_CREATE_RULESET_VERSION

// Every file system right the kernel's Landlock knows at `abi`, both TCP
// rights from 4 on, abstract sockets and signals from 6 on; no rules, so
// nothing of them is allowed. 0 when in force, else why not.
const char* StartLandlock()
{
#if defined(SYS_landlock_create_ruleset) && defined(SYS_landlock_restrict_self)
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, kLandlockVersionFlag);
    if (abi < 1)
        return "Landlock is not available in this kernel";
    LandlockRuleset ruleset{};
    ruleset.handledAccessFs = (uint64_t{1} << 13) - 1;   // execute to make_sym
    if (abi >= 2)
        ruleset.handledAccessFs |= uint64_t{1} << 13;    // refer
    if (abi >= 3)
        ruleset.handledAccessFs |= uint64_t{1} << 14;    // truncate
    if (abi >= 5)
        ruleset.handledAccessFs |= uint64_t{1} << 15;    // ioctl on devices
    if (abi >= 4)
        ruleset.handledAccessNet = 3;                     // bind and connect TCP
    if (abi >= 6)
        ruleset.scoped = 3;                               // abstract sockets, signals
    const size_t size = abi >= 6 ? sizeof ruleset : abi >= 4 ? offsetof(LandlockRuleset, scoped)
                                                             : offsetof(LandlockRuleset, handledAccessNet);
    const long fd = syscall(SYS_landlock_create_ruleset, &ruleset, size, 0);
    if (fd < 0)
        return "the Landlock ruleset could not be made";
    const long restricted = syscall(SYS_landlock_restrict_self, static_cast<int>(fd), 0);
    close(static_cast<int>(fd));
    return restricted == 0 ? nullptr : "Landlock could not be entered";
#else
    return "Landlock is not known on this system";
#endif
}

// A seccomp filter: no new sockets (EACCES), no programs started and no
// tracing (EPERM). 0 when in force, else why not.
const char* StartSeccomp()
{
#if defined(__x86_64__)
    constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
    constexpr uint32_t kArch = 0;
#endif
    if (kArch == 0)
        return "no seccomp filter is made for this processor";
    constexpr uint32_t kDenySocket = SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA);
    constexpr uint32_t kDeny = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        // x32 calls on x86-64 carry a high bit: none are made here.
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kDeny),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kDenySocket),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execve, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execveat, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ptrace, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, kDeny),
    };
    struct sock_fprog program {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return "no new privileges could not be set";
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return "seccomp filters are not available in this kernel";
    return nullptr;
}

}  // namespace

CageOutcome RunCaged(const char* const* argv, int input, const CageLimits& limits, size_t maxOutput, bool keepTail,
                     const CancelCheck& cancel, CpuBudget* budget)
{
    CageOutcome outcome;
    int cpuSeconds = std::max(limits.cpuSeconds, 1);
    if (budget != nullptr) {
        if (budget->secondsLeft < 0.5) {
            outcome.timedOut = true;
            outcome.lastError = "the job has used its processing time";
            return outcome;
        }
        cpuSeconds = std::min(cpuSeconds, static_cast<int>(std::ceil(budget->secondsLeft)));
    }
    uid_t uid = 0;
    gid_t gid = 0;
    const bool dropUser = CageUser(&uid, &gid);
    // A pipe is read from where it is; a file from its start.
    if (lseek(input, 0, SEEK_SET) != 0 && errno != ESPIPE) {
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
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        StartCaged(argv, nullptr, input, out[1], err[1], limits, static_cast<rlim_t>(cpuSeconds), dropUser, uid, gid,
                   parent, false);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        outcome.lastError = "the decoder cannot be started";
        return outcome;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(limits.cpuSeconds, 1));
    std::string pendingError;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool kill = false;
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (cancel.isCanceled != nullptr && cancel.isCanceled(cancel.data)) {
            outcome.result = CageResult::Canceled;
            kill = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            outcome.timedOut = true;
            kill = true;
            break;
        }
        // A cancel is noticed within a tenth of a second.
        const int ready = poll(fds, 2, 100);
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
                KeepLines(&pendingError, &outcome.lastError, &outcome.notes, buffer, static_cast<size_t>(got));
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
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.cpuSeconds = CpuOf(usage);
    if (budget != nullptr)
        budget->secondsLeft -= outcome.cpuSeconds;
    if (!pendingError.empty() && pendingError.rfind("DEBUG:", 0) != 0)
        outcome.lastError = pendingError;
    if (kill)
        return outcome;
    if (WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
        if (outcome.exitStatus == 0)
            outcome.result = CageResult::Done;
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
        // SIGKILL past the soft limit: it had caught SIGXCPU.
        outcome.timedOut = outcome.signal == SIGXCPU ||
                           (outcome.signal == SIGKILL && outcome.cpuSeconds >= static_cast<double>(cpuSeconds));
    }
    return outcome;
}

pid_t StartCagedService(const char* const* argv, int (*serve)(), int input, const CageLimits& limits)
{
    uid_t uid = 0;
    gid_t gid = 0;
    const bool dropUser = CageUser(&uid, &gid);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        StartCaged(argv, serve, input, null, STDERR_FILENO, limits, 0, dropUser, uid, gid, parent, true);
    close(null);
    return pid;
}

int LockDownProcess()
{
    int inForce = 0;
    for (const char* (*part)() : {StartLandlock, StartSeccomp}) {
        const char* missing = part();
        if (missing == nullptr)
            ++inForce;
        else
            std::fprintf(stderr, "DEBUG: The decoder runs without part of its confinement: %s.\n", missing);
    }
    return inForce;
}

}  // namespace vantora_cage
