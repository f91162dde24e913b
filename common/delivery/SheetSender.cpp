#include "SheetSender.h"

#include "PrinterClaim.h"
#include "PrinterQueries.h"
#include "PrinterStatusCodes.h"
#include "UsbTransfer.h"

#include <algorithm>
#include <thread>

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// The most one write call sends.
constexpr size_t kWriteMax = 1024 * 1024;
// Transfers that fail in a row (halted endpoint, I/O errors) before the
// printer's stream is reset and the sheet sent again, and resets of one
// sheet before the sending is given up.
constexpr int kFailuresBeforeReset = 3;
constexpr int kResetsBeforeGivingUp = 3;
// Status queries that fail in a row before the printer counts as confused.
constexpr int kStatusAttempts = 3;
// A printer that takes no data this long is reported as slow.
constexpr auto kSlowPrinterNote = std::chrono::seconds(5);

}  // namespace

SheetSender::SheetSender(PrinterPort& port, const SendTiming& timing)
    : m_port(port), m_timing(timing), m_reader(kCmdMaxPayload, false), m_startBegin(kNone), m_startEnd(kNone)
{
}

void SheetSender::Append(const uint8_t* data, size_t length)
{
    m_data.insert(m_data.end(), data, data + length);
}

void SheetSender::EndData()
{
    m_eof = true;
}

bool SheetSender::EndedInsideCommand() const
{
    return m_reader.GetPhase() != CommandPacketReader::Phase::Idle;
}

SheetSender::Step SheetSender::Stop(Outcome outcome, const char* reason)
{
    m_outcome = outcome;
    m_reason = reason;
    return kStop;
}

void SheetSender::Sleep(unsigned int ms)
{
    // Short steps, so that a cancel is seen at once.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!m_port.Canceled() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
}

bool SheetSender::Gone(libusb_device_handle* handle)
{
    libusb_device_handle* current = m_port.Lock();
    if (current == nullptr)
        return true;
    const bool gone = current != handle || PrinterGone(current);
    m_port.Unlock();
    return gone;
}

int64_t SheetSender::QueryStatus()
{
    int64_t status = kStatusFailed;
    for (int attempt = 0; attempt < kStatusAttempts && status == kStatusFailed; ++attempt) {
        libusb_device_handle* handle = m_port.Lock();
        if (handle == nullptr)
            break;
        status = GetStatus(handle);
        m_port.Unlock();
    }
    m_lastQuery = Clock::now();
    if (status != kStatusFailed)
        m_port.ShowStatus(status);
    return status;
}

void SheetSender::FeedReader()
{
    while (m_fed < m_data.size() && m_startEnd == kNone) {
        size_t used = 0;
        const CommandPacketReader::Step step = m_reader.Feed(m_data.data() + m_fed, m_data.size() - m_fed, &used);
        m_fed += used;
        if (step != CommandPacketReader::kPacket)
            continue;
        m_boundaries.push_back(m_fed);
        const CommandPacket& packet = m_reader.Packet();
        if (packet.name == "CNTRL" && packet.param == "START") {
            m_startBegin = packet.offset - m_sheetOffset;
            m_startEnd = m_fed;
        }
    }
}

size_t SheetSender::SendableEnd() const
{
    if (m_startEnd != kNone)
        return m_startChecked ? m_startEnd : m_startBegin;
    // The bytes of a header still arriving may turn out to be a START.
    const bool inHeader = m_reader.GetPhase() == CommandPacketReader::Phase::Header;
    return m_fed - (inHeader ? m_reader.HeaderBytes() : 0);
}

bool SheetSender::AtBoundary() const
{
    return m_sent == 0 || std::find(m_boundaries.begin(), m_boundaries.end(), m_sent) != m_boundaries.end();
}

SheetSender::Step SheetSender::SendSome(size_t end)
{
    // A status query waits for the end of the packet being sent.
    size_t limit = std::min(end, m_sent + kWriteMax);
    if (Clock::now() - m_lastQuery >= std::chrono::milliseconds(m_timing.statusIntervalMs)) {
        for (size_t boundary : m_boundaries) {
            if (boundary > m_sent) {
                limit = std::min(limit, boundary);
                break;
            }
        }
    }
    libusb_device_handle* handle = m_port.Lock();
    if (handle == nullptr)
        return AfterUnplug(nullptr);
    int took = 0;
    const Clock::time_point begun = Clock::now();
    const int result = deviceWrite(handle, m_data.data() + m_sent, static_cast<int>(limit - m_sent), &took,
                                   m_timing.transferTimeoutMs);
    m_port.Unlock();
    m_figures.sendSeconds += std::chrono::duration<double>(Clock::now() - begun).count();
    m_sent += static_cast<size_t>(took);
    m_figures.bytes += took;
    m_blocked = result == LIBUSB_ERROR_TIMEOUT && took == 0;
    if (!m_blocked)
        m_blockedSince = Clock::time_point();
    else if (m_blockedSince == Clock::time_point())
        m_blockedSince = begun;
    if (took > 0)
        m_failures = 0;
    if (result == 0)
        return kGoOn;
    return HandleWriteError(result, static_cast<size_t>(took), handle);
}

SheetSender::Step SheetSender::HandleWriteError(int result, size_t took, libusb_device_handle* handle)
{
    if (result == LIBUSB_ERROR_NO_DEVICE || Gone(handle))
        return AfterUnplug(handle);
    if (result == LIBUSB_ERROR_TIMEOUT) {
        if (took > 0)
            return kGoOn;
        const Clock::duration idle = Clock::now() - m_blockedSince;
        if (m_timing.stallLimitMs > 0 && idle >= std::chrono::milliseconds(m_timing.stallLimitMs))
            return Stop(kGaveUp, "The printer has stopped taking data");
        if (idle >= kSlowPrinterNote)
            m_port.PrinterSlow();
        return kGoOn;
    }
    m_port.TransferFailed(result);
    if (result == LIBUSB_ERROR_PIPE && m_port.Lock() == handle) {
        libusb_clear_halt(handle, kRt50EndpointOut);
        m_port.Unlock();
    }
    if (++m_failures < kFailuresBeforeReset)
        return kGoOn;
    m_failures = 0;
    return Recover();
}

void SheetSender::SendSheetAgain()
{
    if (m_sent > 0)
        ++m_figures.resent;
    m_sent = 0;
    m_startChecked = false;
}

SheetSender::Step SheetSender::Recover()
{
    // The printer's stream is no longer known to stand between packets: it
    // forgets the unfinished sheet, which is sent again from its start.
    if (++m_resets > kResetsBeforeGivingUp)
        return Stop(kGaveUp, "Transfers to the printer keep failing");
    libusb_device_handle* handle = m_port.Lock();
    const int reset = handle != nullptr ? SoftResetPrinter(handle) : LIBUSB_ERROR_NO_DEVICE;
    if (handle != nullptr)
        m_port.Unlock();
    if (reset != 0) {
        if (Gone(handle))
            return AfterUnplug(handle);
        return Stop(kGaveUp, "The printer does not accept a reset");
    }
    m_port.SheetReset(m_sheetNumber);
    SendSheetAgain();
    return kGoOn;
}

SheetSender::Step SheetSender::AfterUnplug(libusb_device_handle* lost)
{
    switch (m_port.AwaitReturn(lost)) {
    case PrinterPort::Return::kCanceled:
        return Stop(kCanceled);
    case PrinterPort::Return::kGaveUp:
        return Stop(kGaveUp, "The printer was unplugged during the job and did not come back");
    case PrinterPort::Return::kBack:
        break;
    }
    // A new plug starts the printer's stream afresh: the sheet being sent
    // goes again from its start. Sheets it took before stay taken.
    SendSheetAgain();
    m_blockedSince = Clock::time_point();
    m_failures = 0;
    return kGoOn;
}

SheetSender::Step SheetSender::QueryFailed(libusb_device_handle* handle)
{
    if (Gone(handle))
        return AfterUnplug(handle);
    return Recover();
}

SheetSender::Step SheetSender::BeforeStart()
{
    while (!m_port.Canceled()) {
        libusb_device_handle* handle = m_port.Lock();
        if (handle != nullptr)
            m_port.Unlock();
        const int64_t status = QueryStatus();
        if (status == kStatusFailed)
            return QueryFailed(handle);
        if (vantora_exchange::SheetMayStart(status)) {
            m_startChecked = true;
            return kGoOn;
        }
        Sleep(m_timing.statusIntervalMs);
    }
    return Stop(kCanceled);
}

SheetSender::Step SheetSender::AfterStart()
{
    libusb_device_handle* handle = m_port.Lock();
    if (handle != nullptr)
        m_port.Unlock();
    const int64_t status = QueryStatus();
    if (status == kStatusFailed) {
        // Whether the sheet was taken is not known: it is sent again rather
        // than lost.
        return QueryFailed(handle);
    }
    if (!vantora_exchange::SheetMayStart(status)) {
        // A printer that cannot take a sheet refuses it and forgets it.
        m_port.SheetRefused(m_sheetNumber, status);
        SendSheetAgain();
        return kGoOn;
    }
    SheetTaken();
    return kGoOn;
}

void SheetSender::SheetTaken()
{
    ++m_figures.sheets;
    ++m_sheetNumber;
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_startEnd));
    m_sheetOffset += m_startEnd;
    m_fed -= m_startEnd;
    m_sent = 0;
    m_boundaries.clear();
    m_startBegin = m_startEnd = kNone;
    m_startChecked = false;
    m_resets = 0;
}

SheetSender::Outcome SheetSender::Run()
{
    // A sheet whose START went out is judged (taken or refused) before a
    // cancel is: the printer may hold it whole.
    while (!m_port.Canceled() || (m_startEnd != kNone && m_sent == m_startEnd)) {
        FeedReader();
        const size_t end = SendableEnd();
        const int sheetsBefore = m_figures.sheets;
        if (m_sent < end) {
            if (SendSome(end) == kStop)
                return m_outcome;
        } else if (m_startEnd != kNone && m_sent == m_startBegin && !m_startChecked) {
            if (BeforeStart() == kStop)
                return m_outcome;
            continue;
        } else if (m_startEnd != kNone && m_sent == m_startEnd) {
            if (AfterStart() == kStop)
                return m_outcome;
            if (m_figures.sheets != sheetsBefore)
                return kSheetTaken;
            continue;
        } else {
            return m_eof ? kDataEnd : kNeedData;
        }
        libusb_device_handle* handle = m_port.Lock();
        if (handle == nullptr)
            continue;
        m_port.Unlock();
        if (AtBoundary() && !m_blocked &&
            Clock::now() - m_lastQuery >= std::chrono::milliseconds(m_timing.statusIntervalMs)) {
            if (QueryStatus() == kStatusFailed && QueryFailed(handle) == kStop)
                return m_outcome;
        }
    }
    return kCanceled;
}

void SheetSender::LeavePrinterClean()
{
    // Part of a sheet in the printer would wait for a START that never
    // comes, or turn the next job's commands into plane data.
    if (m_sent == 0)
        return;
    if (libusb_device_handle* handle = m_port.Lock()) {
        SoftResetPrinter(handle);
        m_port.Unlock();
    }
}
