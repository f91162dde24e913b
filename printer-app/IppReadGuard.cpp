// Bounds how deep the collections of an IPP message read by libcups may
// nest, in the printer application's process.
//
// libcups 2.4's ippReadIO() reads a nested collection by calling itself,
// with no bound, and keeps about a kilobyte of stack (and a 32 KiB read
// buffer) per level: one anonymous request nested some thousands deep
// overflows a client thread's stack and ends the process, before any
// login check. That recursive call does not go through the PLT, so this
// definition sees only the outer call (PAPPL's ippRead() makes it through
// the PLT); it hands libcups a read callback of its own instead, which
// sees every byte in order, follows the nesting with IppNestingGauge and
// fails the read once it passes kMaxIppNesting. libcups then unwinds every
// level and reports an error; PAPPL answers 400 Bad Request and closes the
// connection. Should a libcups read a message otherwise than the gauge
// follows it, the stack the read has taken is a bound of its own: every
// level calls the callback before it goes deeper.
//
// This file is linked into the program itself (never a library), whose
// ippReadIO is exported so that libcups' own calls resolve to it.
#include "IppNesting.h"

#include <cups/ipp.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>

// libcups' setter of the last error (exported, not declared by its
// headers): PAPPL logs the reason of a failed read from it. Weak, so that
// a libcups without it only loses the message.
extern "C" void _cupsSetError(ipp_status_t status, const char* message, int localize) __attribute__((weak));

namespace {

using ReadIOFunction = ipp_state_t (*)(void*, ipp_iocb_t, int, ipp_t*, ipp_t*);

// Stack a read may take: some ten times what kMaxIppNesting levels take
// (about 1.2 KiB each), far below a thread's stack (8 MiB).
constexpr uintptr_t kMaxReadStack = 128 * 1024;

struct GuardedSource {
    void* source;
    ipp_iocb_t read;
    IppNestingGauge gauge;
    uintptr_t stackTop;   // the frame of the outer call
};

ssize_t GuardedRead(void* data, ipp_uchar_t* buffer, size_t length)
{
    GuardedSource* guarded = static_cast<GuardedSource*>(data);
    const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const bool tooDeep = here < guarded->stackTop && guarded->stackTop - here > kMaxReadStack;
    const ssize_t bytes = tooDeep ? -1 : guarded->read(guarded->source, buffer, length);
    if (tooDeep || (bytes > 0 && !guarded->gauge.Take(buffer, static_cast<size_t>(bytes)))) {
        if (_cupsSetError != nullptr) {
            char message[128];
            std::snprintf(message, sizeof message,
                          "IPP request refused: collections nested deeper than %d levels, or an extension tag.",
                          kMaxIppNesting);
            _cupsSetError(IPP_STATUS_ERROR_BAD_REQUEST, message, 0);
        }
        return -1;
    }
    return bytes;
}

ReadIOFunction RealReadIO()
{
    static const ReadIOFunction real = reinterpret_cast<ReadIOFunction>(dlsym(RTLD_NEXT, "ippReadIO"));
    return real;
}

}  // namespace

// libcups' reader with the nesting bound (see above). Its result is
// libcups': IPP_STATE_ERROR for a message nested too deep.
extern "C" ipp_state_t ippReadIO(void* src, ipp_iocb_t cb, int blocking, ipp_t* parent, ipp_t* ipp)
{
    const ReadIOFunction real = RealReadIO();
    if (real == nullptr)
        return IPP_STATE_ERROR;
    // A read of the inner part of a message (never made from outside
    // libcups) or of a message already read is libcups' alone.
    const ipp_state_t state = ipp != nullptr ? ippGetState(ipp) : IPP_STATE_ERROR;
    if (src == nullptr || cb == nullptr || ipp == nullptr || parent != nullptr || state == IPP_STATE_DATA)
        return real(src, cb, blocking, parent, ipp);
    // libcups leaves a read that does not block only between two
    // attributes of the top level, so the next call starts at a tag.
    GuardedSource guarded{src, cb, IppNestingGauge(state == IPP_STATE_IDLE || state == IPP_STATE_HEADER),
                          reinterpret_cast<uintptr_t>(__builtin_frame_address(0))};
    return real(&guarded, GuardedRead, blocking, parent, ipp);
}
