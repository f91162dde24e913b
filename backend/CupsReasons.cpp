#include "CupsReasons.h"

#include "PrinterStatusCodes.h"

namespace vantora_backend {

const char* CupsReasonOfStatus(int64_t status)
{
    using vantora_exchange::StatusCondition;
    switch (vantora_exchange::ConditionOf(status)) {
    case StatusCondition::kNone:
    case StatusCondition::kPowerSaving:
    case StatusCondition::kCooling:
        return nullptr;
    case StatusCondition::kNoAnswer:
        return "offline-report";
    case StatusCondition::kDoorOpen:
        return "door-open-error";
    case StatusCondition::kNoTrashBox:
        return "output-tray-missing-error";
    case StatusCondition::kPaperEnd:
        return "media-empty-error";
    case StatusCondition::kRibbonEnd:
        return "marker-print-ribbon-empty-error";
    case StatusCondition::kPaperJam:
        return "media-jam-error";
    case StatusCondition::kRibbonError:
        return "marker-print-ribbon-missing-error";
    case StatusCondition::kPaperSize:
        return "input-cannot-feed-size-selected-error";
    case StatusCondition::kSystemError:
        break;
    }
    return "other-error";
}

std::string StatusInfoText(int64_t status)
{
    const vantora_exchange::StatusEntry& entry = vantora_exchange::DescribeStatus(status);
    std::string text = entry.text;
    const vantora_exchange::PrinterState state = entry.state;
    if (state != vantora_exchange::PrinterState::kUserError && state != vantora_exchange::PrinterState::kSystemError)
        return text;
    if (entry.advice != nullptr)
        text = text + ": " + entry.advice;
    return text + " (printer status " + std::to_string(status) + ")";
}

}  // namespace vantora_backend
