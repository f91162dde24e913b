// What a printer status code means for a print job: whether the printer
// takes a sheet now, the printer-state-reasons keyword CUPS shows for it,
// and the text of the INFO: line.
#pragma once

#include <cstdint>

namespace vantora_backend {

enum class StatusKind {
    kReady,       // 0 waiting, 900 power saving: takes a sheet
    kPrinting,    // 1: prints, and takes the next sheet into its buffer
    kBusy,        // 500 cooling the print head: a sheet waits until it is done
    kUserError,   // door, trash box, paper, ribbon, jam, size: mended at the printer
    kSystemError, // 1600, 2000-2800 and unknown codes: needs service or a restart
    kNoAnswer,    // the status query failed
};

struct StatusMeaning {
    StatusKind kind;
    // printer-state-reasons keyword with its severity suffix, or null.
    const char* reason;
    // Text for the INFO: line, e.g. "Paper end: load paper".
    const char* message;
};

// The meaning of a STATUS reply (GetStatus's kStatusFailed: no answer).
StatusMeaning DescribeStatus(int64_t status);

// True when a sheet's START may be sent: the printer waits, prints or sleeps.
bool TakesSheet(int64_t status);

}  // namespace vantora_backend
