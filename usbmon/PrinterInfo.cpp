#include "PrinterInfo.h"

#include "QueueRegistration.h"
#include "StatusFileWriter.h"
#include "UsbSection.h"

#include <cstring>

namespace vantora_usbmon {

namespace {

constexpr int kSerialAttempts = 10;

// Reads the serial number into the record. A value of up to 64 characters
// is read whole so that a longer one is refused, never cut to a valid name.
void ReadSerial(thdata* record)
{
    record->identityProblem = "it does not tell its serial number";
    for (int attempt = 0; attempt < kSerialAttempts; ++attempt) {
        char value[vantora_exchange::kSerialMax + 2] = {};
        const int length = GetSerialNo(record->handle, value, sizeof value);
        if (length < 0) {
            // The other printers' sections run during the pause.
            if (PauseOutsideSection(record))
                return;
            continue;
        }
        if (length == 0)
            continue;
        // The printer answered: a serial that cannot be a name is reported at once.
        if (!vantora_exchange::IsValidSerial(value)) {
            char shown[vantora_exchange::kSerialMax + 2];
            PrintableCopy(value, shown, sizeof shown);
            ReportOnce(record, kReportedSerial,
                       "no queue: its serial number \"%s\" is not 1 to 63 of A-Z a-z 0-9 . _ -", shown);
            return;
        }
        std::memcpy(record->serial, value, sizeof record->serial);
        record->serial[sizeof record->serial - 1] = '\0';
        record->bSerialOk = true;
        return;
    }
}

// Checks the USB IDs, product string and device ID.
void ConfirmModel(thdata* record)
{
    switch (IdentifyRt50(record->handle, record->model, sizeof record->model)) {
    case kIdentityRt50:
        record->bModelOk = true;
        break;
    case kIdentityOtherUsbId:
        record->identityProblem = "its USB IDs are not the RT-50's";
        break;
    case kIdentityOtherProduct:
        record->identityProblem = "no product string naming a photo printer";
        break;
    case kIdentityNoDeviceId:
        record->identityProblem = "it gives no device ID";
        break;
    default:
        record->identityProblem = "its device ID names another maker or model";
        break;
    }
}

// A printer that stays unidentified is reported once, when it has had time
// to answer: a failure may also mean that it is just being unplugged.
void ReportUnidentified(thdata* record)
{
    const auto after = GetMonitorSettings().reportAfter;
    if ((record->reported & kReportedSerial) != 0 || std::chrono::steady_clock::now() - record->arrivedAt < after)
        return;
    ReportOnce(record, kReportedIdentity, "no queue: not identified after %lld s: %s",
               static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(after).count()),
               record->identityProblem);
}

}  // namespace

void getPrinterInfo(thdata* record)
{
    if (!record->bSerialOk)
        ReadSerial(record);
    if (StopRequested(record))
        return;
    if (!record->bModelOk)
        ConfirmModel(record);
    if (!record->bSerialOk || !record->bModelOk) {
        ReportUnidentified(record);
        return;
    }
    if (!record->bQueueOk)
        RegisterQueue(record);
    WriteFile(record->handle, record);
}

}  // namespace vantora_usbmon
