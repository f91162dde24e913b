#include "StatusFileWriter.h"

#include "PrinterBoard.h"
#include "ProgramRunner.h"
#include "StatusFileStore.h"
#include "UsbSection.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_usbmon {

namespace {

using vantora_exchange::StatusFileValues;

// GetStatus is asked this many times before the printer counts as silent.
constexpr int kStatusAttempts = 5;
constexpr int64_t kPrinting = 1;
constexpr int64_t kPowerSaving = 900;

// Status file writes that failed are reported once per process.
std::mutex g_writeReportMutex;
bool g_writeReported = false;

void ReportWriteFailure(const char* path, int error)
{
    std::lock_guard<std::mutex> lock(g_writeReportMutex);
    if (g_writeReported)
        return;
    g_writeReported = true;
    ReportFailure("cannot write the status file %s: %s", path, std::strerror(error));
}

// Relabels `path` to the SELinux type `type`; failures are the tool's to report.
void Relabel(const char* type, const char* path)
{
    const char* const argv[] = {"chcon", "-t", type, "--", path, nullptr};
    RunProgram(argv);
}

// The total count of the life counter's reply: its first two characters
// dropped, the rest read as strtol does. False when it does not fit an int.
bool CountOfReply(const char* reply, int* count)
{
    const char* digits = std::strlen(reply) > 2 ? reply + 2 : "";
    errno = 0;
    const long value = std::strtol(digits, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    *count = static_cast<int>(value);
    return true;
}

// Decides whether this cycle reads the total count and stores what it
// takes in record->totalCount. `status` is this cycle's status, `printEnded`
// whether the printer left the printing state since the last write, `path`
// the status file. False when the section is to end at once (AfterExchange).
bool DecideTotalCount(libusb_device_handle* handle, thdata* record, int64_t status, bool printEnded,
                      const char* path)
{
    char value[kQueryValueSize];
    bool stopped = false;
    // Reads the counter into `value`; true when the exchange succeeded.
    auto read = [&](bool wait) {
        std::memset(value, 0, sizeof value);
        const bool ok = GetTotalCount(handle, value, wait, sizeof value) >= 0;
        stopped = AfterExchange(record, ok);
        return ok && !stopped;
    };
    // A value read is stored only when the window asked for something.
    auto take = [&](const char* reply) {
        int count = 0;
        if (record->requestFlags != 0 && CountOfReply(reply, &count))
            record->totalCount = count;
    };

    char refreshed[kQueryValueSize] = {};
    bool haveRefreshed = false;
    if ((record->requestFlags & 2) != 0 && read(status == kPowerSaving)) {
        if (!printEnded) {
            take(value);
            return true;
        }
        // The print that just ended may not be counted yet: read once more.
        std::memcpy(refreshed, value, sizeof refreshed);
        haveRefreshed = true;
    }
    if (stopped)
        return false;
    if (record->bResumed || printEnded) {
        if (read(false)) {
            take(value);
            return true;
        }
        if (stopped)
            return false;
        if (haveRefreshed) {
            take(refreshed);
            return true;
        }
        // The backend kept the file during the pause with the counter it
        // read; a printer that now saves power does not answer at once, and
        // the count from before the job would undo the backend's. A life
        // counter never falls.
        int kept = 0;
        if (record->bResumed && record->requestFlags != 0 && vantora_exchange::ReadStatusFileCount(path, &kept) &&
            kept > record->totalCount) {
            record->totalCount = kept;
            return true;
        }
    }
    if (record->bUtilSeen && !record->bCountRead) {
        // A printer saving power is not woken for the watch period's count.
        if (status == kPowerSaving) {
            record->bCountRead = true;
        } else if (read(false)) {
            record->bCountRead = true;
            take(value);
        }
    }
    return !stopped;
}

// Asks for the status up to kStatusAttempts times into `status`
// (kStatusFailed when the printer never answered). False when the section
// is to end at once (AfterExchange).
bool ReadStatus(thdata* record, int64_t* status)
{
    *status = kStatusFailed;
    for (int attempt = 0; attempt < kStatusAttempts && *status == kStatusFailed; ++attempt) {
        *status = GetStatus(record->handle);
        if (AfterExchange(record, *status != kStatusFailed))
            return false;
    }
    return true;
}

}  // namespace

bool existFile(const char* path)
{
    struct stat info {};
    return path != nullptr && lstat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteStatusText(const char* path, const char* text, size_t length)
{
    if (path == nullptr || text == nullptr)
        return false;
    const int error = vantora_exchange::WriteExchangeText(path, text, length, bSELinuxEnabled ? Relabel : nullptr);
    if (error != 0)
        ReportWriteFailure(path, error);
    return error == 0;
}

void WriteFile(libusb_device_handle* handle, thdata* record)
{
    const MonitorSettings& settings = GetMonitorSettings();
    char path[vantora_exchange::kPathSize];
    if (!vantora_exchange::ExchangeFilePath(vantora_exchange::kStatusFile, settings.exchangeDir.c_str(),
                                            record->serial, path, sizeof path))
        return;

    StatusFileValues values {};
    std::memcpy(values.model, record->model, sizeof values.model);
    values.model[sizeof values.model - 1] = '\0';
    std::memcpy(values.serial, record->serial, sizeof values.serial);
    values.serial[sizeof values.serial - 1] = '\0';

    // After each query a failing printer lets the others go first; the
    // section ends at once when the printer leaves or the daemon stops.
    int64_t status = kStatusFailed;
    if (!ReadStatus(record, &status))
        return;
    record->readAt = std::chrono::steady_clock::now();
    if (status == kStatusFailed)
        status = vantora_exchange::kOfflineStatus;
    const bool printEnded = record->prevStatus == kPrinting && status != kPrinting;
    record->prevStatus = status;
    values.status = static_cast<long>(status);

    const struct {
        int (*query)(libusb_device_handle*, char*, size_t);
        char* value;
    } queries[] = {
        {GetFirmVersion, values.firmware},       {GetMediaSize, values.media},
        {GetMediaClass, values.mediaClass},      {GetMediaInitial, values.mediaInitial},
        {GetMediaRemain, values.mediaRemain},
    };
    for (const auto& query : queries) {
        if (AfterExchange(record, query.query(handle, query.value, kQueryValueSize) >= 0))
            return;
    }
    PostPrinterRead(record->serial, status, MediaCodeOfAnswer(values.media));

    if (!DecideTotalCount(handle, record, status, printEnded, path))
        return;
    values.totalCount = record->totalCount;

    char text[vantora_exchange::kStatusTextSize];
    const int length = vantora_exchange::FormatStatusFile(values, text, sizeof text);
    if (length >= 0)
        WriteStatusText(path, text, static_cast<size_t>(length));
}

void ReadStatusAndMedia(libusb_device_handle* handle, thdata* record)
{
    int64_t status = kStatusFailed;
    if (!ReadStatus(record, &status))
        return;
    record->readAt = std::chrono::steady_clock::now();
    char media[kQueryValueSize] = {};
    const bool answered = GetMediaSize(handle, media, sizeof media) >= 0;
    if (AfterExchange(record, answered))
        return;
    PostPrinterRead(record->serial, status, answered ? MediaCodeOfAnswer(media) : -1);
}

void WriteFile(const char* serial)
{
    char path[vantora_exchange::kPathSize];
    if (serial == nullptr ||
        !vantora_exchange::ExchangeFilePath(vantora_exchange::kStatusFile, GetMonitorSettings().exchangeDir.c_str(),
                                            serial, path, sizeof path))
        return;
    char text[vantora_exchange::kStatusTextSize];
    const int length = vantora_exchange::FormatStatusFile(vantora_exchange::OfflineStatusValues(), text, sizeof text);
    if (length >= 0)
        WriteStatusText(path, text, static_cast<size_t>(length));
}

}  // namespace vantora_usbmon
