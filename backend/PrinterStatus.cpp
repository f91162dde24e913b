#include "PrinterStatus.h"

#include "PrinterQueries.h"

namespace vantora_backend {

StatusMeaning DescribeStatus(int64_t status)
{
    switch (status) {
    case 0:
        return {StatusKind::kReady, nullptr, "Printer ready"};
    case 900:
        return {StatusKind::kReady, nullptr, "Printer in power-saving mode"};
    case 1:
        return {StatusKind::kPrinting, nullptr, "Printing"};
    case 500:
        return {StatusKind::kBusy, nullptr, "Cooling the print head"};
    case 1000:
        return {StatusKind::kUserError, "door-open-error", "Top door open: close the printer's door"};
    case 1010:
        return {StatusKind::kUserError, "output-tray-missing-error", "No trash box: insert the printer's trash box"};
    case 1100:
        return {StatusKind::kUserError, "media-empty-error", "Paper end: load paper and ribbon"};
    case 1200:
        return {StatusKind::kUserError, "marker-print-ribbon-empty-error", "Ribbon end: load a new ribbon"};
    case 1300:
        return {StatusKind::kUserError, "media-jam-error", "Paper jam: remove the jammed paper"};
    case 1400:
        return {StatusKind::kUserError, "marker-print-ribbon-missing-error", "Ribbon error: check the ribbon"};
    case 1500:
        return {StatusKind::kUserError, "input-cannot-feed-size-selected-error",
                "Paper size setting error: load the paper the job is set for"};
    default:
        break;
    }
    if (status == kStatusFailed)
        return {StatusKind::kNoAnswer, "offline-report", "The printer does not answer"};
    return {StatusKind::kSystemError, "other-error", "Printer system error: switch the printer off and on"};
}

bool TakesSheet(int64_t status)
{
    const StatusKind kind = DescribeStatus(status).kind;
    return kind == StatusKind::kReady || kind == StatusKind::kPrinting;
}

}  // namespace vantora_backend
