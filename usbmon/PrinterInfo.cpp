#include "PrinterInfo.h"

#include "QueueRegistration.h"
#include "StatusFileWriter.h"

#include <cstring>

namespace vantora_usbmon {

namespace {

constexpr int kSerialAttempts = 10;

// Reads the serial number into the record. A value of up to 64 characters
// is read whole so that a longer one is refused, never cut to a valid name.
void ReadSerial(thdata* record)
{
    for (int attempt = 0; attempt < kSerialAttempts; ++attempt) {
        char value[vantora_exchange::kSerialMax + 2] = {};
        const int length = GetSerialNo(record->handle, value, sizeof value);
        if (length < 0) {
            if (WaitCycle(record))
                return;
            continue;
        }
        if (length == 0)
            continue;
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

// Checks the product string and device ID. A device that answers as
// another product is reported at once; one that does not answer only when
// it has stayed unidentified for a while (it may be leaving, or busy).
void ConfirmModel(thdata* record)
{
    const int identity = IdentifyRt50(record->handle, record->model, sizeof record->model);
    switch (identity) {
    case kIdentityRt50:
        record->bModelOk = true;
        break;
    case kIdentityOtherProduct:
        ReportOnce(record, kReportedIdentity, "no queue: not an RT-50 (its product string names no photo printer)");
        break;
    case kIdentityOtherDeviceId:
        ReportOnce(record, kReportedIdentity, "no queue: not an RT-50 (its device ID names another maker or model)");
        break;
    default:
        break;
    }
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
        const bool explained = (record->reported & (kReportedIdentity | kReportedSerial)) != 0;
        if (!explained && std::chrono::steady_clock::now() - record->arrivedAt >= GetMonitorSettings().reportAfter)
            ReportOnce(record, kReportedSilent, "no queue: not identified after %lld s (%s)",
                       static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                                  GetMonitorSettings().reportAfter)
                                                  .count()),
                       !record->bSerialOk ? "no serial number" : "no device ID");
        return;
    }
    if (!record->bQueueOk)
        RegisterQueue(record);
    WriteFile(record->handle, record);
}

}  // namespace vantora_usbmon
