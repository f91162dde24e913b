// Untrusted documents are decoded by programs of their own: a child that
// reads the document on its standard input and writes what it made to a
// pipe, as an unprivileged user (nobody when the caller is root; the
// caller's own user otherwise) with no new privileges, bounded memory, CPU
// time and output, killed when the job is cancelled or it takes too long.
// A document that crashes or hangs its decoder ends that child only. The
// PDF renderer (poppler) and the photo decoder both run this way.
#pragma once

#include <cstddef>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>

namespace vantora_cage {

// What a caged program may use.
struct CageLimits {
    rlim_t memoryBytes = rlim_t{2} << 30;   // address space
    int cpuSeconds = 60;                    // CPU time (also its longest wall time)
};

// CPU seconds a job's documents may use together, over all their pages;
// shared by every caged program the job starts.
struct CpuBudget {
    double secondsLeft = 0;
};

// Most CPU time one job's decoders and renderers take together.
inline constexpr int kJobCpuSeconds = 180;

enum class CageResult {
    Done,       // the program ended with status 0
    Failed,     // it failed, crashed or went past a limit: the outcome says how
    Canceled,
};

// What a caged program left behind.
struct CageOutcome {
    CageResult result = CageResult::Failed;
    int exitStatus = -1;         // its exit status; -1 when killed or not started
    int signal = 0;              // the signal that ended it, if one did
    std::string output;          // standard output (its tail when keepTail)
    std::string lastError;       // the last line it wrote to standard error
    std::string notes;           // its "DEBUG:" lines, at most a few
    bool outputTooLarge = false;
    bool timedOut = false;       // past its CPU or wall time
    double cpuSeconds = 0;       // CPU time it used
};

// Asked while a caged program runs; true ends it.
struct CancelCheck {
    bool (*isCanceled)(void* data) = nullptr;
    void* data = nullptr;
};

// Runs `argv` (argv[0] a full path) caged, the document open on `input` as
// its standard input (from its start when it can seek), and waits for it.
// `maxOutput` bounds its standard output: beyond it the program is killed
// (outputTooLarge), unless `keepTail`, where only the last bytes are kept.
// With a `budget`, the program's CPU time is at most what the budget has
// left, and what it used is taken from it.
CageOutcome RunCaged(const char* const* argv, int input, const CageLimits& limits, size_t maxOutput, bool keepTail,
                     const CancelCheck& cancel, CpuBudget* budget);

// Starts a long-lived caged process (no CPU limit of its own) on `input`
// as its standard input, its standard output going nowhere and its
// standard error the caller's: the program `argv`, or when `argv` is null
// `serve` (returning its exit status) in the forked child, which only a
// caller with a single thread may ask for. Returns its process id, or -1.
pid_t StartCagedService(const char* const* argv, int (*serve)(), int input, const CageLimits& limits);

// Called by a caged program once it has loaded what it needs: from then on
// it opens no file and no socket and starts no program (Landlock and a
// seccomp filter). A kernel without one of them leaves that part out, with
// a "DEBUG:" line on standard error saying so. Returns the number of parts
// in force (0 to 2).
int LockDownProcess();

}  // namespace vantora_cage
