#include "CupsReasons.h"

#include "PrinterStatusCodes.h"

namespace vantora_backend {

const char* CupsReasonOfStatus(int64_t status)
{
    using vantora_exchange::PrinterState;
    switch (vantora_exchange::PrinterStateOf(status)) {
    case PrinterState::kReady:
    case PrinterState::kPrinting:
    case PrinterState::kBusy:
        return nullptr;
    case PrinterState::kNoAnswer:
        return "offline-report";
    case PrinterState::kSystemError:
        return "other-error";
    case PrinterState::kUserError:
        break;
    }
    switch (status) {
    case 1000:
        return "door-open-error";
    case 1010:
        return "output-tray-missing-error";   // no trash box
    case 1100:
        return "media-empty-error";
    case 1200:
        return "marker-print-ribbon-empty-error";
    case 1300:
        return "media-jam-error";
    case 1400:
        return "marker-print-ribbon-missing-error";   // ribbon error
    case 1500:
        return "input-cannot-feed-size-selected-error";
    default:
        return "other-error";
    }
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
