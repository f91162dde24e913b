#include "PrinterStatusCodes.h"

namespace vantora_exchange {

namespace {

using S = PrinterState;

constexpr StatusEntry kStatusTable[] = {
    {0, 1, S::kReady, "Ready", nullptr},
    {1, 2, S::kPrinting, "Printing", nullptr},
    {500, 3, S::kBusy, "Cooling the print head", nullptr},
    {900, 5, S::kReady, "Ready (power saving)", nullptr},
    {1000, 100, S::kUserError, "Top door open", "close the printer's door"},
    {1010, 101, S::kUserError, "No trash box", "insert the printer's trash box"},
    {1100, 102, S::kUserError, "Paper end", "load paper and ribbon"},
    {1200, 103, S::kUserError, "Ribbon end", "load a new ribbon"},
    {1300, 104, S::kUserError, "Paper jam", "remove the jammed paper"},
    {1400, 105, S::kUserError, "Ribbon error", "check the ribbon"},
    {1500, 106, S::kUserError, "Paper size setting error", "load the paper the job is set for"},
    {1600, 107, S::kSystemError, "System error", "switch the printer off and on"},
    {2000, 200, S::kSystemError, "System error", "switch the printer off and on"},
    {2100, 201, S::kSystemError, "System error", "switch the printer off and on"},
    {2200, 202, S::kSystemError, "System error", "switch the printer off and on"},
    {2300, 203, S::kSystemError, "System error", "switch the printer off and on"},
    {2400, 204, S::kSystemError, "System error", "switch the printer off and on"},
    {2500, 205, S::kSystemError, "System error", "switch the printer off and on"},
    {2600, 206, S::kSystemError, "System error", "switch the printer off and on"},
    {2610, 207, S::kSystemError, "System error", "switch the printer off and on"},
    {2700, 208, S::kSystemError, "System error", "switch the printer off and on"},
    {2800, 209, S::kSystemError, "System error", "switch the printer off and on"},
    {kOfflineStatus, kOfflineMessage, S::kNoAnswer, "Not answering", "check the printer's power and cable"},
};

constexpr StatusEntry kUnknownStatus = {-1, 210, S::kSystemError, "System error", "switch the printer off and on"};

// The table's entry of exactly this code, or null.
const StatusEntry* FindStatus(int64_t status)
{
    for (const StatusEntry& entry : kStatusTable) {
        if (entry.code == status)
            return &entry;
    }
    return nullptr;
}

}  // namespace

const StatusEntry& DescribeStatus(int64_t status)
{
    if (const StatusEntry* entry = FindStatus(status))
        return *entry;
    if (status == kStatusFailed)
        return *FindStatus(kOfflineStatus);
    return kUnknownStatus;
}

PrinterState PrinterStateOf(int64_t status)
{
    return DescribeStatus(status).state;
}

bool SheetMayStart(int64_t status)
{
    const PrinterState state = PrinterStateOf(status);
    return state == PrinterState::kReady || state == PrinterState::kPrinting;
}

int GetMessage(long status)
{
    const StatusEntry* entry = FindStatus(status);
    return entry != nullptr ? entry->message : kUnknownStatus.message;
}

}  // namespace vantora_exchange
