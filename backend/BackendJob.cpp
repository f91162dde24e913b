#include "BackendJob.h"

#include "CancelSignal.h"
#include "PrintWatch.h"
#include "PrinterClaim.h"
#include "PrinterConnection.h"
#include "PrinterQueries.h"
#include "CupsReasons.h"
#include "SheetSender.h"

#include <cups/backend.h>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantora_backend {

namespace {

using Clock = std::chrono::steady_clock;

// Job data read ahead of the printer in one go.
constexpr size_t kReadAhead = 1024 * 1024;
// While the printer prints, the scheduler is asked this often whether
// another job waits.
constexpr auto kAskInterval = std::chrono::seconds(1);

SendTiming TimingOf(const BackendJobSettings& settings)
{
    SendTiming timing;
    timing.transferTimeoutMs = settings.transferTimeoutMs;
    timing.statusIntervalMs = settings.statusIntervalMs;
    timing.stallLimitMs = settings.stallLimitMs;
    return timing;
}

// The job, and the sender's way to the printer: the backend holds the
// printer itself, finds it again after an unplug and reports to CUPS.
class JobRun : public PrinterPort {
public:
    JobRun(libusb_context* context, const BackendJobSettings& settings, JobFiles& files, CupsMessages& messages)
        : m_settings(settings), m_files(files), m_messages(messages), m_link(context, settings.serial),
          m_sender(*this, TimingOf(settings)), m_buffer(kReadAhead)
    {
    }

    int Run();
    JobFigures figures;

    libusb_device_handle* Lock() override { return m_link.handle(); }
    Return AwaitReturn(libusb_device_handle* lost) override;
    bool Canceled() override { return CancelRequested(); }
    void ShowStatus(int64_t status) override { Report(status); }
    void TransferFailed(int error) override { m_messages.Debug("Bulk transfer failed: %s", libusb_error_name(error)); }
    void SheetReset(int sheet) override { m_messages.Debug("Printer reset; sheet %d is sent again", sheet); }
    void SheetRefused(int sheet, int64_t status) override
    {
        m_messages.Info("Sheet %d was refused: %s", sheet, StatusInfoText(status).c_str());
    }
    void PrinterSlow() override { m_messages.Info("Waiting for the printer to take data"); }

private:
    bool Connect(Clock::time_point deadline);
    bool ReadMore();
    void SheetTaken();
    int Finish();
    void WaitUntilPrinted();
    int Cancelled();
    int GiveUp(const char* why);
    bool AnotherJobWaits();

    void Report(int64_t status);
    void ReportMarkers();
    long ReadCounter(int64_t status);
    void Sleep(unsigned int ms);

    const BackendJobSettings& m_settings;
    JobFiles& m_files;
    CupsMessages& m_messages;
    PrinterConnection m_link;
    SheetSender m_sender;
    std::vector<uint8_t> m_buffer;

    bool m_readFailed = false;
    int64_t m_lastStatus = kStatusFailed;
    long m_counterBefore = -1;   // life counter before the job's first sheet
    int m_exitCode = CUPS_BACKEND_FAILED;
    Clock::time_point m_begun = Clock::now();
};

void JobRun::Sleep(unsigned int ms)
{
    // Short steps, so that a cancel is seen at once.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!CancelRequested() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
}

void JobRun::Report(int64_t status)
{
    const char* reason = CupsReasonOfStatus(status);
    m_messages.SetReasons(reason != nullptr ? std::set<std::string>{reason} : std::set<std::string>{});
    if (status != m_lastStatus)
        m_messages.Info("%s", StatusInfoText(status).c_str());
    m_lastStatus = status;
}

void JobRun::ReportMarkers()
{
    char remain[kQueryValueSize];
    char initial[kQueryValueSize];
    if (GetMediaRemain(m_link.handle(), remain, sizeof remain) > 0 &&
        GetMediaInitial(m_link.handle(), initial, sizeof initial) > 0)
        m_messages.Markers(MediaCountOfAnswer(remain), MediaCountOfAnswer(initial));
}

long JobRun::ReadCounter(int64_t status)
{
    // A printer saving power answers its life counter only after a long
    // pause: it is not asked then.
    if (status == kStatusFailed || status == 900)
        return -1;
    char value[kQueryValueSize];
    if (GetTotalCount(m_link.handle(), value, false, sizeof value) <= 0)
        return -1;
    return LifeCounterOfAnswer(value);
}

bool JobRun::Connect(Clock::time_point deadline)
{
    bool saidAbsent = false;
    bool saidBusy = false;
    while (!CancelRequested()) {
        m_files.HoldPause(m_settings.serial.c_str());
        const Lookup found = m_link.TryOpen();
        if (found == Lookup::kOpened) {
            // A second queue's job may have held the pause file until now.
            m_files.HoldPause(m_settings.serial.c_str());
            m_messages.SetReasons({});
            m_lastStatus = kStatusFailed;
            m_messages.Info("Connected to the printer (serial %s)", m_settings.serial.c_str());
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        if (found == Lookup::kAbsent) {
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

PrinterPort::Return JobRun::AwaitReturn(libusb_device_handle*)
{
    m_link.Close();
    m_messages.SetReasons({"offline-report"});
    m_messages.Info("The printer was unplugged; waiting for it to come back");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_settings.replugWaitMs);
    if (!Connect(deadline))
        return CancelRequested() ? Return::kCanceled : Return::kGaveUp;
    ReportMarkers();
    return Return::kBack;
}

bool JobRun::ReadMore()
{
    // One blocking read, then whatever else is there already, up to the
    // read-ahead: large writes keep the link busy.
    size_t total = 0;
    bool waited = false;
    bool eof = false;
    while (total < kReadAhead && !eof) {
        if (waited) {
            pollfd ready{m_settings.input, POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0)
                break;
        }
        const ssize_t got = read(m_settings.input, m_buffer.data(), kReadAhead - total);
        if (got > 0) {
            m_sender.Append(m_buffer.data(), static_cast<size_t>(got));
            total += static_cast<size_t>(got);
        } else if (got == 0) {
            eof = true;
        } else if (errno == EINTR) {
            break;
        } else {
            m_readFailed = true;
            eof = true;
        }
        waited = true;
    }
    if (eof)
        m_sender.EndData();
    if (figures.firstDataSeconds < 0 && total > 0)
        figures.firstDataSeconds = std::chrono::duration<double>(Clock::now() - m_begun).count();
    return total > 0;
}

void JobRun::SheetTaken()
{
    const int sheet = m_sender.SheetNumber() - 1;
    m_messages.Info("Sheet %d sent to the printer", sheet);
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    m_messages.Debug("Sheet %d taken at %lld.%03ld", sheet, static_cast<long long>(now.tv_sec),
                     now.tv_nsec / 1000000);
}

int JobRun::Finish()
{
    // What follows the last START was sent, but is no sheet: the printer
    // drops it (a job that ends inside a packet would leave it cut).
    const bool cut = m_sender.EndedInsideCommand();
    m_sender.LeavePrinterClean();
    ReportMarkers();
    const int64_t status = m_sender.QueryStatus();
    if (status != kStatusFailed && CupsReasonOfStatus(status) == nullptr)
        m_messages.SetReasons({});
    if (m_readFailed || cut) {
        m_messages.Error("The job data %s", m_readFailed ? "could not be read" : "ended inside a command");
        m_exitCode = CUPS_BACKEND_FAILED;
        return m_exitCode;
    }
    const int sheets = m_sender.Figures().sheets;
    m_messages.Info("Job sent: %d sheet%s", sheets, sheets == 1 ? "" : "s");
    m_exitCode = CUPS_BACKEND_OK;
    if (sheets > 0)
        WaitUntilPrinted();
    return m_exitCode;
}

bool JobRun::AnotherJobWaits()
{
    if (!m_settings.otherJobsWaiting || m_settings.otherJobsWaiting() != 1)
        return false;
    m_messages.Info("Another job is waiting; the printer prints this one's sheets meanwhile");
    return true;
}

void JobRun::WaitUntilPrinted()
{
    if (AnotherJobWaits())
        return;
    const int sheets = m_sender.Figures().sheets;
    PrintWatch watch(m_counterBefore, sheets);
    Clock::time_point lastAsk = Clock::now();
    Clock::time_point lastChange = Clock::now();
    int64_t lastStatus = kStatusFailed;
    long lastCounter = -1;
    while (!CancelRequested()) {
        Sleep(m_settings.statusIntervalMs);
        if (CancelRequested())
            break;
        const int64_t status = m_sender.QueryStatus();
        if (status == kStatusFailed) {
            if (!PrinterGone(m_link.handle()))
                continue;
            // The sheets were taken: a printer that leaves keeps them. Its
            // return is waited for to see them printed.
            const Return back = AwaitReturn(m_link.handle());
            if (back == Return::kCanceled)
                break;
            if (back == Return::kGaveUp) {
                m_messages.Info("The printer left before it had printed the job; its sheets were delivered");
                return;
            }
            continue;
        }
        const long counter = ReadCounter(status);
        switch (watch.Judge(status, counter)) {
        case PrintWatch::kPrinted:
            ReportMarkers();
            m_messages.SetReasons({});
            m_messages.Info("Job printed: %d sheet%s", sheets, sheets == 1 ? "" : "s");
            figures.waitedForPrint = true;
            return;
        case PrintWatch::kLost:
            m_messages.Error("The printer dropped sheets of this job after an error; the job will be retried");
            m_exitCode = CUPS_BACKEND_RETRY;
            return;
        case PrintWatch::kPrinting:
            break;
        }
        if (status != lastStatus || counter != lastCounter) {
            lastStatus = status;
            lastCounter = counter;
            lastChange = Clock::now();
        } else if (vantora_exchange::PrinterStateOf(status) != vantora_exchange::PrinterState::kUserError &&
                   Clock::now() - lastChange >= std::chrono::milliseconds(m_settings.printLimitMs)) {
            // Errors the user mends are waited out; a printer that shows no
            // progress otherwise is not waited for without end.
            m_messages.Info("The printer shows no progress; the job's sheets were delivered");
            return;
        }
        if (Clock::now() - lastAsk >= kAskInterval) {
            lastAsk = Clock::now();
            if (AnotherJobWaits())
                return;
        }
    }
    // The printer holds the sheets whole and prints them anyway.
    Cancelled();
}

int JobRun::Cancelled()
{
    m_sender.LeavePrinterClean();
    m_messages.Info("Job cancelled");
    m_exitCode = CUPS_BACKEND_OK;
    return m_exitCode;
}

int JobRun::GiveUp(const char* why)
{
    m_sender.LeavePrinterClean();
    m_messages.Error("%s; the job will be retried", why);
    m_exitCode = CUPS_BACKEND_RETRY;
    return m_exitCode;
}

int JobRun::Run()
{
    if (!Connect(Clock::time_point::max()))
        return Cancelled();
    ReportMarkers();
    m_counterBefore = ReadCounter(m_sender.QueryStatus());
    int code = m_exitCode;
    for (bool done = false; !done;) {
        switch (m_sender.Run()) {
        case SheetSender::kNeedData:
            ReadMore();
            break;
        case SheetSender::kSheetTaken:
            SheetTaken();
            break;
        case SheetSender::kDataEnd:
            code = Finish();
            done = true;
            break;
        case SheetSender::kCanceled:
            code = Cancelled();
            done = true;
            break;
        case SheetSender::kGaveUp:
            code = GiveUp(m_sender.GiveUpReason());
            done = true;
            break;
        }
    }
    const SendFigures& sent = m_sender.Figures();
    figures.sheets = sent.sheets;
    figures.resent = sent.resent;
    figures.bytes = sent.bytes;
    figures.sendSeconds = sent.sendSeconds;
    return code;
}

}  // namespace

int RunBackendJob(libusb_context* context, const BackendJobSettings& settings, JobFiles& files, CupsMessages& messages,
             JobFigures* figures)
{
    JobRun run(context, settings, files, messages);
    const int code = run.Run();
    if (figures != nullptr)
        *figures = run.figures;
    return code;
}

}  // namespace vantora_backend
