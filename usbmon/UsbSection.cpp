#include "UsbSection.h"

#include "RequestFiles.h"
#include "UsbTransfer.h"

namespace vantora_usbmon {

namespace {

// A query failed on a halted endpoint: the printer stalled one of its bulk
// endpoints (which one the query does not tell), and both are cleared.
void ClearHalt(thdata* record)
{
    if (LastQueryResult() == LIBUSB_ERROR_PIPE && record->handle != nullptr) {
        libusb_clear_halt(record->handle, kRt50EndpointIn);
        libusb_clear_halt(record->handle, kRt50EndpointOut);
    }
}

// Gives up the section and takes it again behind the workers waiting.
void HandOver(thdata* record)
{
    CountHandOver();
    LeaveSection(record);
    EnterSection(record);
}

}  // namespace

void EnterSection(thdata* record)
{
    usb_openclose_mutex.lock();
    CountSectionHeld();
    record->turnSince = std::chrono::steady_clock::now();
}

void LeaveSection(thdata*)
{
    CountSectionLeft();
    usb_openclose_mutex.unlock();
}

bool AfterExchange(thdata* record, bool ok)
{
    if (!ok)
        ClearHalt(record);
    if (StopRequested(record) || (!ok && BackendWaits(record)))
        return true;
    const bool turnOver = std::chrono::steady_clock::now() - record->turnSince >= GetMonitorSettings().cycle;
    if ((!ok || turnOver) && usb_openclose_mutex.contended())
        HandOver(record);
    return StopRequested(record);
}

bool PauseOutsideSection(thdata* record)
{
    ClearHalt(record);
    LeaveSection(record);
    WaitCycle(record);
    EnterSection(record);
    return StopRequested(record);
}

}  // namespace vantora_usbmon
