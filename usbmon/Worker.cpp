#include "Worker.h"

#include "PrinterClaim.h"
#include "PrinterBoard.h"
#include "PrinterInfo.h"
#include "RequestFiles.h"
#include "StatusFileWriter.h"
#include "UsbSection.h"

namespace vantora_usbmon {

namespace {

libusb_context* g_context = nullptr;

// Opening and claiming failed in this section: reported once the printer
// has resisted for a while.
void NoteClaimFailure(thdata* record, int error)
{
    const auto now = std::chrono::steady_clock::now();
    if (record->claimFailingSince == std::chrono::steady_clock::time_point{})
        record->claimFailingSince = now;
    else if (now - record->claimFailingSince >= GetMonitorSettings().reportAfter)
        ReportOnce(record, kReportedClaim, "cannot open or claim the printer: %s", libusb_error_name(error));
}

// The USB section: open, detach a kernel driver, claim, getPrinterInfo
// (or, with `factsOnly`, only the status and media for the class keeper),
// release, close; one printer at a time.
void RunUsbSection(thdata* record, bool factsOnly)
{
    EnterSection(record);
    CountSectionEntered();
    const int result = OpenPrinter(record->device, &record->handle);
    if (result == 0) {
        record->bClaimed = true;
        if (factsOnly)
            ReadStatusAndMedia(record->handle, record);
        else
            getPrinterInfo(record);
        ReleasePrinter(record->handle);
        record->bClaimed = false;
    }
    record->handle = nullptr;
    LeaveSection(record);

    if (result == 0) {
        record->claimFailingSince = {};
        ClearReported(record, kReportedClaim);
    } else if (result != LIBUSB_ERROR_NO_DEVICE) {
        NoteClaimFailure(record, result);
    }
}

// True when the class keeper is due a read of the registered, unwatched
// printer: never while a backend holds it.
bool FactsReadDue(const thdata* record)
{
    const MonitorSettings& settings = GetMonitorSettings();
    if (!settings.keepClasses || !record->bQueueOk || record->bPaused)
        return false;
    const auto every = WantsQuickReads(record->serial) ? settings.quickRead : settings.classRead;
    return std::chrono::steady_clock::now() - record->readAt >= every;
}

}  // namespace

void SetWorkerContext(libusb_context* context)
{
    g_context = context;
}

void* thread_function(void* arg)
{
    thdata* record = static_cast<thdata*>(arg);
    while (!StopRequested(record)) {
        if (record->bSerialOk)
            record->requestFlags = fileCheck(record);
        // An identified, registered printer is opened while watched, and
        // briefly now and then for the class keeper.
        if (record->requestFlags != 0 || !record->bQueueOk)
            RunUsbSection(record, false);
        else if (FactsReadDue(record))
            RunUsbSection(record, true);
        record->requestFlags = 0;
        WaitCycle(record);
    }
    // A printer whose serial was never read has no status file to turn offline.
    if (record->bSerialOk) {
        WriteFile(record->serial);
        // A daemon that stops leaves its queues as they are.
        if (record->bDeparted)
            PostPrinterLeft(record->serial);
    }
    {
        std::lock_guard<std::mutex> lock(m);
        record->bEnded = true;
    }
    libusb_interrupt_event_handler(g_context);
    return nullptr;
}

}  // namespace vantora_usbmon
