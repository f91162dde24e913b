#include "PrinterStatusCodes.h"

namespace vantora_exchange {

namespace {

using S = PrinterState;
using C = StatusCondition;

constexpr StatusEntry kStatusTable[] = {
    {0, 1, S::kReady, C::kNone, "Ready", nullptr},
    {1, 2, S::kPrinting, C::kNone, "Printing", nullptr},
    {500, 3, S::kBusy, C::kCooling, "Cooling the print head", nullptr},
    {900, 5, S::kReady, C::kPowerSaving, "Ready (power saving)", nullptr},
    {1000, 100, S::kUserError, C::kDoorOpen, "Top door open", "close the printer's door"},
    {1010, 101, S::kUserError, C::kNoTrashBox, "No trash box", "insert the printer's trash box"},
    {1100, 102, S::kUserError, C::kPaperEnd, "Paper end", "load paper and ribbon"},
    {1200, 103, S::kUserError, C::kRibbonEnd, "Ribbon end", "load a new ribbon"},
    {1300, 104, S::kUserError, C::kPaperJam, "Paper jam", "remove the jammed paper"},
    {1400, 105, S::kUserError, C::kRibbonError, "Ribbon error", "check the ribbon"},
    {1500, 106, S::kUserError, C::kPaperSize, "Paper size setting error", "load the paper the job is set for"},
    {1600, 107, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2000, 200, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2100, 201, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2200, 202, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2300, 203, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2400, 204, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2500, 205, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2600, 206, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2610, 207, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2700, 208, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {2800, 209, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"},
    {kOfflineStatus, kOfflineMessage, S::kNoAnswer, C::kNoAnswer, "Not answering", "check the printer's power and cable"},
};

constexpr StatusEntry kUnknownStatus = {-1, 210, S::kSystemError, C::kSystemError, "System error", "switch the printer off and on"};

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

StatusCondition ConditionOf(int64_t status)
{
    return DescribeStatus(status).condition;
}

bool CounterAnswersPromptly(int64_t status)
{
    const StatusCondition condition = ConditionOf(status);
    return condition != StatusCondition::kPowerSaving && condition != StatusCondition::kNoAnswer;
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
