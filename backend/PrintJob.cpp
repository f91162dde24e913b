#include "PrintJob.h"

#include "CancelSignal.h"
#include "CommandPackets.h"
#include "PrinterLink.h"
#include "PrinterQueries.h"
#include "PrinterStatus.h"
#include "UsbTransfer.h"

#include <cups/backend.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantora_backend {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kNone = static_cast<size_t>(-1);
// Job data read ahead of the printer, and the most one write call sends.
constexpr size_t kReadAhead = 1024 * 1024;
constexpr size_t kWriteMax = 1024 * 1024;
// Transfers that fail in a row (halted endpoint, I/O errors) before the
// printer's stream is reset and the sheet sent again, and resets of one
// sheet before the job is given up.
constexpr int kFailuresBeforeReset = 3;
constexpr int kResetsBeforeGivingUp = 3;
// Status queries that fail in a row before the printer counts as confused.
constexpr int kStatusAttempts = 3;
// A printer that takes no data this long gets an INFO: line that says so.
constexpr auto kSlowPrinterNote = std::chrono::seconds(5);

// The number in a media count answer ("0000120" from MQTY): the text after
// its first four characters, as the status file shows it. -1 when missing.
long MediaCount(const char* value, int length)
{
    if (length <= 4)
        return -1;
    char* end = nullptr;
    const long count = std::strtol(value + 4, &end, 10);
    return end == value + 4 ? -1 : count;
}

class JobRun {
public:
    JobRun(libusb_context* context, const JobSettings& settings, JobFiles& files, CupsMessages& messages)
        : m_settings(settings), m_files(files), m_messages(messages), m_link(context, settings.serial),
          m_reader(kCmdMaxPayload, false)
    {
    }

    int Run();
    JobFigures figures;

private:
    enum Step { kGoOn, kDone };

    bool Connect(Clock::time_point deadline);
    int AfterUnplug();
    int Loop();
    int Finish();
    int Cancelled();
    int GiveUp(const char* why);

    bool ReadMore();
    void FeedReader();
    size_t SendableEnd() const;
    bool AtBoundary() const;
    int SendSome(size_t end, bool* progressed);
    int HandleWriteError(int result, size_t took);
    int BeforeStart();
    int AfterStart();
    int Recover();
    void SheetTaken();

    int64_t QueryStatus();
    void Report(int64_t status);
    void ReportMarkers();
    bool PrinterGone();
    void Sleep(unsigned int ms);

    const JobSettings& m_settings;
    JobFiles& m_files;
    CupsMessages& m_messages;
    PrinterLink m_link;
    CommandPacketReader m_reader;

    // The stream from the start of the sheet being sent: bytes read, bytes
    // fed to the packet reader, bytes the printer took.
    std::vector<uint8_t> m_data;
    size_t m_fed = 0;
    size_t m_sent = 0;
    size_t m_sheetOffset = 0;              // of m_data[0] in the whole stream
    std::vector<size_t> m_boundaries;      // packet ends in m_data
    size_t m_startBegin = kNone;           // the sheet's START packet in m_data
    size_t m_startEnd = kNone;
    bool m_startChecked = false;           // the printer was ready just before START
    bool m_eof = false;
    bool m_readFailed = false;

    int64_t m_lastStatus = kStatusFailed;
    Clock::time_point m_lastQuery{};
    Clock::time_point m_blockedSince{};   // writes have taken nothing since
    int m_failures = 0;          // failed transfers in a row
    int m_resets = 0;            // resets of the current sheet
    int m_sheetNumber = 1;
    int m_exitCode = CUPS_BACKEND_FAILED;
    Clock::time_point m_begun = Clock::now();
    // The last write took nothing: the printer's buffer is full, and a query
    // would wait behind it as well.
    bool m_blocked = false;
};

void JobRun::Sleep(unsigned int ms)
{
    // Short steps, so that a cancel is seen at once.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!CancelRequested() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
}

bool JobRun::PrinterGone()
{
    if (m_link.handle() == nullptr)
        return true;
    unsigned char status[2];
    return libusb_control_transfer(m_link.handle(), LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_STATUS, 0, 0, status,
                                   sizeof status, 2000) == LIBUSB_ERROR_NO_DEVICE;
}

int64_t JobRun::QueryStatus()
{
    int64_t status = kStatusFailed;
    for (int attempt = 0; attempt < kStatusAttempts && status == kStatusFailed; ++attempt)
        status = GetStatus(m_link.handle());
    m_lastQuery = Clock::now();
    if (status != kStatusFailed)
        Report(status);
    return status;
}

void JobRun::Report(int64_t status)
{
    const StatusMeaning meaning = DescribeStatus(status);
    std::set<std::string> reasons;
    if (meaning.reason != nullptr)
        reasons.insert(meaning.reason);
    m_messages.SetReasons(reasons);
    if (status != m_lastStatus) {
        if (meaning.kind == StatusKind::kUserError || meaning.kind == StatusKind::kSystemError)
            m_messages.Info("%s (printer status %ld)", meaning.message, static_cast<long>(status));
        else
            m_messages.Info("%s", meaning.message);
    }
    m_lastStatus = status;
}

void JobRun::ReportMarkers()
{
    char remain[kQueryValueSize];
    char initial[kQueryValueSize];
    const int remainLength = GetMediaRemain(m_link.handle(), remain, sizeof remain);
    const int initialLength = GetMediaInitial(m_link.handle(), initial, sizeof initial);
    if (remainLength > 0 && initialLength > 0)
        m_messages.Markers(MediaCount(remain, remainLength), MediaCount(initial, initialLength));
}

bool JobRun::Connect(Clock::time_point deadline)
{
    bool saidAbsent = false;
    bool saidBusy = false;
    while (!CancelRequested()) {
        m_files.HoldPause(m_settings.serial.c_str());
        const PrinterLink::Found found = m_link.TryOpen();
        if (found == PrinterLink::kOpened) {
            // A second queue's job may have held the pause file until now.
            m_files.HoldPause(m_settings.serial.c_str());
            m_messages.SetReasons({});
            m_lastStatus = kStatusFailed;
            m_messages.Info("Connected to the printer (serial %s)", m_settings.serial.c_str());
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        if (found == PrinterLink::kAbsent) {
            m_messages.SetReasons({"offline-report"});
            if (!saidAbsent)
                m_messages.Info("Waiting for printer to become available.");
            saidAbsent = true;
            Sleep(m_settings.lookIntervalMs);
        } else {
            m_messages.SetReasons({});
            if (!saidBusy)
                m_messages.Info("Waiting for the printer: another program is using it");
            saidBusy = true;
            Sleep(m_settings.busyIntervalMs);
        }
    }
    return false;
}

bool JobRun::ReadMore()
{
    // One blocking read, then whatever else is there already, up to the
    // read-ahead: large writes keep the link busy.
    const size_t before = m_data.size();
    bool waited = false;
    while (m_data.size() - before < kReadAhead && !m_eof) {
        if (waited) {
            pollfd ready{m_settings.input, POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0)
                break;
        }
        const size_t room = kReadAhead - (m_data.size() - before);
        m_data.resize(m_data.size() + room);
        const ssize_t got = read(m_settings.input, m_data.data() + m_data.size() - room, room);
        m_data.resize(m_data.size() - room + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got == 0) {
            m_eof = true;
        } else if (got < 0) {
            if (errno == EINTR)
                return false;
            m_readFailed = true;
            m_eof = true;
        }
        waited = true;
    }
    if (figures.firstDataSeconds < 0 && m_data.size() > before)
        figures.firstDataSeconds = std::chrono::duration<double>(Clock::now() - m_begun).count();
    return m_data.size() > before;
}

void JobRun::FeedReader()
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

size_t JobRun::SendableEnd() const
{
    if (m_startEnd != kNone)
        return m_startChecked ? m_startEnd : m_startBegin;
    // The bytes of a header still arriving may turn out to be a START.
    const bool inHeader = m_reader.GetPhase() == CommandPacketReader::Phase::Header;
    return m_fed - (inHeader ? m_reader.HeaderBytes() : 0);
}

bool JobRun::AtBoundary() const
{
    if (m_sent == 0)
        return true;
    for (size_t end : m_boundaries) {
        if (end == m_sent)
            return true;
    }
    return false;
}

int JobRun::SendSome(size_t end, bool* progressed)
{
    *progressed = false;
    // A status query waits for the end of the packet being sent.
    size_t limit = std::min(end, m_sent + kWriteMax);
    if (Clock::now() - m_lastQuery >= std::chrono::milliseconds(m_settings.statusIntervalMs)) {
        for (size_t boundary : m_boundaries) {
            if (boundary > m_sent) {
                limit = std::min(limit, boundary);
                break;
            }
        }
    }
    int took = 0;
    const Clock::time_point begun = Clock::now();
    const int result = deviceWrite(m_link.handle(), m_data.data() + m_sent, static_cast<int>(limit - m_sent), &took,
                                   m_settings.transferTimeoutMs);
    figures.sendSeconds += std::chrono::duration<double>(Clock::now() - begun).count();
    m_sent += static_cast<size_t>(took);
    figures.bytes += took;
    m_blocked = result == LIBUSB_ERROR_TIMEOUT && took == 0;
    if (!m_blocked)
        m_blockedSince = Clock::time_point();
    else if (m_blockedSince == Clock::time_point())
        m_blockedSince = begun;
    if (took > 0) {
        *progressed = true;
        m_failures = 0;
    }
    if (result == 0)
        return kGoOn;
    return HandleWriteError(result, static_cast<size_t>(took));
}

int JobRun::HandleWriteError(int result, size_t took)
{
    if (result == LIBUSB_ERROR_NO_DEVICE || PrinterGone())
        return AfterUnplug();
    if (result == LIBUSB_ERROR_TIMEOUT) {
        if (took > 0)
            return kGoOn;
        const Clock::duration idle = Clock::now() - m_blockedSince;
        if (idle >= std::chrono::milliseconds(m_settings.stallLimitMs))
            return GiveUp("The printer has stopped taking data");
        if (idle >= kSlowPrinterNote)
            m_messages.Info("Waiting for the printer to take data");
        return kGoOn;
    }
    m_messages.Debug("Bulk transfer failed: %s", libusb_error_name(result));
    if (result == LIBUSB_ERROR_PIPE)
        libusb_clear_halt(m_link.handle(), kRt50EndpointOut);
    if (++m_failures < kFailuresBeforeReset)
        return kGoOn;
    m_failures = 0;
    return Recover();
}

int JobRun::Recover()
{
    // The printer's stream is no longer known to stand between packets: it
    // forgets the unfinished sheet, which is sent again from its start.
    if (++m_resets > kResetsBeforeGivingUp)
        return GiveUp("Transfers to the printer keep failing");
    if (m_link.SoftReset() != 0) {
        if (PrinterGone())
            return AfterUnplug();
        return GiveUp("The printer does not accept a reset");
    }
    m_messages.Debug("Printer reset; sheet %d is sent again", m_sheetNumber);
    if (m_sent > 0)
        ++figures.resent;
    m_sent = 0;
    m_startChecked = false;
    return kGoOn;
}

int JobRun::AfterUnplug()
{
    m_link.Close();
    m_messages.SetReasons({"offline-report"});
    m_messages.Info("The printer was unplugged; waiting for it to come back");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_settings.replugWaitMs);
    if (!Connect(deadline)) {
        if (CancelRequested())
            return Cancelled();
        return GiveUp("The printer was unplugged during the job and did not come back");
    }
    // A new plug starts the printer's stream afresh: the sheet being sent
    // goes again from its start. Sheets it took before stay taken.
    if (m_sent > 0)
        ++figures.resent;
    m_sent = 0;
    m_startChecked = false;
    m_blockedSince = Clock::time_point();
    ReportMarkers();
    return kGoOn;
}

int JobRun::BeforeStart()
{
    while (!CancelRequested()) {
        const int64_t status = QueryStatus();
        if (status == kStatusFailed) {
            if (PrinterGone())
                return AfterUnplug();
            return Recover();
        }
        if (TakesSheet(status)) {
            m_startChecked = true;
            return kGoOn;
        }
        Sleep(m_settings.statusIntervalMs);
    }
    return Cancelled();
}

int JobRun::AfterStart()
{
    const int64_t status = QueryStatus();
    if (status == kStatusFailed) {
        // Whether the sheet was taken is not known: it is sent again rather
        // than lost.
        if (PrinterGone())
            return AfterUnplug();
        return Recover();
    }
    if (!TakesSheet(status)) {
        // A printer that is not ready refuses the sheet and forgets it.
        m_messages.Info("Sheet %d was refused: %s", m_sheetNumber, DescribeStatus(status).message);
        ++figures.resent;
        m_sent = 0;
        m_startChecked = false;
        return kGoOn;
    }
    SheetTaken();
    return kGoOn;
}

void JobRun::SheetTaken()
{
    m_messages.Info("Sheet %d sent to the printer", m_sheetNumber);
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    m_messages.Debug("Sheet %d taken at %lld.%03ld", m_sheetNumber, static_cast<long long>(now.tv_sec),
                     now.tv_nsec / 1000000);
    ++figures.sheets;
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

int JobRun::Loop()
{
    while (!CancelRequested()) {
        FeedReader();
        const size_t end = SendableEnd();
        if (m_sent < end) {
            bool progressed = false;
            if (SendSome(end, &progressed) == kDone)
                return kDone;
            if (m_link.handle() == nullptr)
                continue;
        } else if (m_startEnd != kNone && m_sent == m_startBegin && !m_startChecked) {
            if (BeforeStart() == kDone)
                return kDone;
            continue;
        } else if (m_startEnd != kNone && m_sent == m_startEnd) {
            if (AfterStart() == kDone)
                return kDone;
            continue;
        } else if (!m_eof) {
            ReadMore();
            continue;
        } else {
            return Finish();
        }
        if (AtBoundary() && !m_blocked &&
            Clock::now() - m_lastQuery >= std::chrono::milliseconds(m_settings.statusIntervalMs)) {
            if (QueryStatus() == kStatusFailed) {
                if (PrinterGone()) {
                    if (AfterUnplug() == kDone)
                        return kDone;
                } else if (Recover() == kDone) {
                    return kDone;
                }
            }
        }
    }
    return Cancelled();
}

int JobRun::Finish()
{
    // What follows the last START was sent, but is no sheet: the printer
    // drops it (a job that ends inside a packet would leave it cut).
    const bool cut = m_reader.GetPhase() != CommandPacketReader::Phase::Idle;
    if (m_sent > 0)
        m_link.SoftReset();
    ReportMarkers();
    const int64_t status = QueryStatus();
    if (status != kStatusFailed && TakesSheet(status))
        m_messages.SetReasons({});
    if (m_readFailed || cut) {
        m_messages.Error("The job data %s", m_readFailed ? "could not be read" : "ended inside a command");
        m_exitCode = CUPS_BACKEND_FAILED;
        return kDone;
    }
    m_messages.Info("Job sent: %d sheet%s", figures.sheets, figures.sheets == 1 ? "" : "s");
    m_exitCode = CUPS_BACKEND_OK;
    return kDone;
}

int JobRun::Cancelled()
{
    // Part of a sheet in the printer would wait for a START that never
    // comes, or turn the next job's commands into plane data.
    if (m_link.handle() != nullptr && m_sent > 0)
        m_link.SoftReset();
    m_messages.Info("Job cancelled");
    m_exitCode = CUPS_BACKEND_OK;
    return kDone;
}

int JobRun::GiveUp(const char* why)
{
    if (m_link.handle() != nullptr && m_sent > 0)
        m_link.SoftReset();
    m_messages.Error("%s; the job will be retried", why);
    m_exitCode = CUPS_BACKEND_RETRY;
    return kDone;
}

int JobRun::Run()
{
    if (!Connect(Clock::time_point::max())) {
        Cancelled();
        return m_exitCode;
    }
    ReportMarkers();
    QueryStatus();
    Loop();
    return m_exitCode;
}

}  // namespace

int PrintJob(libusb_context* context, const JobSettings& settings, JobFiles& files, CupsMessages& messages,
             JobFigures* figures)
{
    JobRun run(context, settings, files, messages);
    const int code = run.Run();
    if (figures != nullptr)
        *figures = run.figures;
    return code;
}

}  // namespace vantora_backend
