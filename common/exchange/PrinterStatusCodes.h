// The RT-50's status codes and what each means, in one table: the state a
// program acts on (ready, printing, busy, an error the user mends, a system
// error, no answer), a short text, the advice for the user, and the message
// code the status file carries for the window.
//
// Each program maps the state to its own vocabulary: the backend to CUPS's
// printer-state-reasons and INFO: lines, the printer application to PAPPL's
// reasons, the daemon to the status file's message code.
#pragma once

#include <cstdint>

// GetStatus's result when the exchange failed: outside the range of the
// 32-bit status codes a reply can carry.
constexpr int64_t kStatusFailed = 0x80000000LL;

namespace vantora_exchange {

// Status and message of a printer that does not answer, as the status file
// carries them.
inline constexpr long kOfflineStatus = 99999;
inline constexpr int kOfflineMessage = 6;

enum class PrinterState {
    kReady,        // 0 waiting, 900 power saving: idle, nothing printing
    kPrinting,     // 1: prints the sheets it holds
    kBusy,         // 500 cooling the print head: ready again by itself
    kUserError,    // door, trash box, paper, ribbon, jam, size: mended at the printer
    kSystemError,  // 1600, 2000-2800 and unknown codes: service or a restart
    kNoAnswer,     // the query failed (kStatusFailed), or the offline status 99999
};

// What exactly the printer reports, for the reasons each program shows:
// CUPS's printer-state-reasons, PAPPL's reasons, the advice texts.
enum class StatusCondition {
    kNone,          // waiting or printing
    kPowerSaving,   // 900: idle; answers its counters only after a long pause
    kCooling,       // 500
    kDoorOpen,      // 1000
    kNoTrashBox,    // 1010
    kPaperEnd,      // 1100
    kRibbonEnd,     // 1200
    kPaperJam,      // 1300
    kRibbonError,   // 1400
    kPaperSize,     // 1500: the loaded media does not fit the sheet
    kSystemError,   // 1600, 2000-2800 and unknown codes
    kNoAnswer,      // the query failed, or the offline status
};

struct StatusEntry {
    long code;            // the printer's status code
    int message;          // message code of the status file
    PrinterState state;
    StatusCondition condition;
    const char* text;     // e.g. "Paper end"
    const char* advice;   // what the user does, e.g. "load paper and ribbon"; null when nothing
};

// The entry of a status code: the table's own, the no-answer entry for
// kStatusFailed, or, for any code the table does not know, a system error
// with message code 210.
const StatusEntry& DescribeStatus(int64_t status);

// The state of a status code (DescribeStatus(status).state).
PrinterState PrinterStateOf(int64_t status);

// The condition of a status code (DescribeStatus(status).condition).
StatusCondition ConditionOf(int64_t status);

// True when the printer answers its life counter at once: it answers, and
// it does not save power.
bool CounterAnswersPromptly(int64_t status);

// When a sheet may be started: its START is sent only while the printer
// waits, saves power or prints (a printing RT-50 takes the next sheet into
// its buffer and prints it after the ones it holds). Cooling, any error
// and no answer: the printer would refuse the sheet, or nothing is known.
bool SheetMayStart(int64_t status);

// The message code the window shows for a status code: the table's (0 -> 1,
// 1 -> 2, 1000 -> 100, ..., 99999 -> 6); any other value gives 210.
int GetMessage(long status);

}  // namespace vantora_exchange
