#include "StatusMirror.h"

#include "PrinterIdentity.h"
#include "PrinterQueries.h"
#include "PrinterStatusCodes.h"
#include "StatusFileStore.h"
#include "UsbPrinterPort.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace vantora_backend {

namespace {

// Copies a query's answer into a value of the status file, emptied when the
// query failed (a failed query shows no value rather than an old one).
template <size_t N>
void Take(int length, const char* answer, char (&value)[N])
{
    if (length < 0) {
        value[0] = '\0';
        return;
    }
    std::snprintf(value, N, "%s", answer);
}

}  // namespace

StatusMirror::StatusMirror(std::string serial, std::string folder) : m_serial(std::move(serial))
{
    using namespace vantora_exchange;
    char path[kPathSize];
    if (ExchangeFilePath(kStatusFile, folder.c_str(), m_serial.c_str(), path, sizeof path))
        m_statusPath = path;
    if (ExchangeFilePath(kWatchFile, folder.c_str(), m_serial.c_str(), path, sizeof path))
        m_watchPath = path;
    m_values.totalCount = -1;
    std::snprintf(m_values.serial, sizeof m_values.serial, "%s", m_serial.c_str());
}

void StatusMirror::NewPlug()
{
    m_needIdentity = true;
    m_needMedia = true;
}

bool StatusMirror::Watched() const
{
    struct stat info {};
    return !m_watchPath.empty() && !m_statusPath.empty() && lstat(m_watchPath.c_str(), &info) == 0;
}

void StatusMirror::AskIdentity(libusb_device_handle* handle)
{
    char model[kModelSize] = {};
    if (IdentifyRt50(handle, model, sizeof model) == kIdentityRt50)
        Take(0, model, m_values.model);
    char value[kQueryValueSize] = {};
    Take(GetFirmVersion(handle, value, sizeof value), value, m_values.firmware);
    m_needIdentity = false;
}

void StatusMirror::AskMedia(libusb_device_handle* handle)
{
    char value[kQueryValueSize] = {};
    Take(GetMediaSize(handle, value, sizeof value), value, m_values.media);
    Take(GetMediaClass(handle, value, sizeof value), value, m_values.mediaClass);
    Take(GetMediaInitial(handle, value, sizeof value), value, m_values.mediaInitial);
    AskRemain(handle);
    m_needMedia = false;
}

void StatusMirror::AskRemain(libusb_device_handle* handle)
{
    char value[kQueryValueSize] = {};
    Take(GetMediaRemain(handle, value, sizeof value), value, m_values.mediaRemain);
    m_needRemain = false;
}

void StatusMirror::Status(libusb_device_handle* handle, int64_t status)
{
    if (status == kStatusFailed || handle == nullptr)
        return;
    m_values.status = static_cast<long>(status);
    const bool userError =
        vantora_exchange::PrinterStateOf(status) == vantora_exchange::PrinterState::kUserError;
    // Mended at the printer: the media may be another now.
    if (m_inUserError && !userError)
        m_needMedia = true;
    m_inUserError = userError;

    if (!Watched()) {
        m_watched = false;
        return;
    }
    if (!m_watched) {
        // A new watch: whatever was asked before it may be old by now.
        m_watched = true;
        m_needIdentity = true;
        m_needMedia = true;
        m_written.clear();
        // Until the job reads the counter, the count the file showed.
        int shown = 0;
        if (m_counter < 0 && vantora_exchange::ReadStatusFileCount(m_statusPath.c_str(), &shown))
            m_values.totalCount = shown;
    }
    if (m_needIdentity)
        AskIdentity(handle);
    if (m_needMedia)
        AskMedia(handle);
    else if (m_needRemain)
        AskRemain(handle);
    // The job reads the counter only around its sheets: the watch shows
    // one from its start.
    if (m_counter < 0 && vantora_exchange::CounterAnswersPromptly(status))
        TakeCounter(ReadLifeCounter(handle, false));
    Write();
}

void StatusMirror::Counter(libusb_device_handle* handle, long counter)
{
    if (!TakeCounter(counter) || !m_watched || handle == nullptr)
        return;
    if (m_needRemain)
        AskRemain(handle);
    Write();
}

void StatusMirror::Media(int media)
{
    // Another media than the one shown was loaded: asked again at the
    // next status.
    if (media >= 0 && media != MediaCodeOfAnswer(m_values.media))
        m_needMedia = true;
}

bool StatusMirror::TakeCounter(long counter)
{
    if (counter < 0 || counter == m_counter)
        return false;
    // A printed sheet took a print from the media.
    if (m_counter >= 0)
        m_needRemain = true;
    m_counter = counter;
    m_values.totalCount = counter <= INT32_MAX ? static_cast<int>(counter) : -1;
    return true;
}

void StatusMirror::Write()
{
    char text[vantora_exchange::kStatusTextSize];
    const int length = vantora_exchange::FormatStatusFile(m_values, text, sizeof text);
    if (length < 0 || m_written == text)
        return;
    // The backend runs no programs: under SELinux the file it makes takes
    // the temporary type of the scheduler's domain, which runs it.
    m_lastError = vantora_exchange::WriteExchangeText(m_statusPath.c_str(), text, static_cast<size_t>(length), nullptr);
    if (m_lastError == 0) {
        m_written.assign(text, static_cast<size_t>(length));
        ++m_writes;
    }
}

}  // namespace vantora_backend
