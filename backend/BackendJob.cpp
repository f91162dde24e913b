#include "BackendJob.h"

#include "CancelSignal.h"
#include "CupsReasons.h"
#include "FailoverMarks.h"
#include "JobRecord.h"
#include "MediaSets.h"
#include "PrinterCounts.h"
#include "PrinterConnection.h"
#include "PrinterQueries.h"
#include "PrinterStatusCodes.h"
#include "SheetSender.h"
#include "StatusMirror.h"
#include "UsbPrinterPort.h"

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

// A class job that could leave asks the scheduler this often whether a
// sister queue is enabled.
constexpr auto kSisterAskInterval = std::chrono::seconds(3);

// Job data read ahead of the printer in one go.
constexpr size_t kReadAhead = 1024 * 1024;

// How long a job whose data ended before its first sheet waits for the
// SIGTERM of a scheduler that stops, before it ends as having nothing to print.
constexpr unsigned int kStopSignalWaitMs = 1000;

SendTiming TimingOf(const BackendJobSettings& settings)
{
    SendTiming timing;
    timing.transferTimeoutMs = settings.transferTimeoutMs;
    timing.statusIntervalMs = settings.statusIntervalMs;
    timing.stallLimitMs = settings.stallLimitMs;
    timing.progressLimitMs = settings.printLimitMs;
    return timing;
}

// The job, and the sender's way to the printer: the backend holds the
// printer itself, finds it again after an unplug and reports to CUPS.
class JobRun : public UsbPrinterPort {
public:
    JobRun(libusb_context* context, const BackendJobSettings& settings, JobFiles& files, CupsMessages& messages)
        : m_settings(settings), m_files(files), m_messages(messages), m_link(context, settings.serial),
          m_sender(*this, TimingOf(settings)), m_records(settings.recordsFolder), m_buffer(kReadAhead),
          m_mirror(settings.serial, files.folder())
    {
    }

    int Run();
    JobFigures figures;

    Return AwaitReturn() override;
    bool Canceled() override { return CancelRequested(); }
    void ShowStatus(int64_t status) override
    {
        Report(status);
        m_mirror.Status(m_link.handle(), status);
    }
    long Counter(bool patient) override
    {
        const long counter = UsbPrinterPort::Counter(patient);
        m_mirror.Counter(m_link.handle(), counter);
        return counter;
    }
    int Media() override
    {
        const int media = UsbPrinterPort::Media();
        m_mirror.Media(media);
        return media;
    }
    void ShowMediaNeeded(int multicut, int loaded) override;
    void TransferFailed(WriteResult result) override
    {
        m_messages.Debug("Bulk transfer failed (%s)", result == WriteResult::kHalted ? "halted" : "I/O error");
    }
    void SheetReset(int sheet) override { m_messages.Debug("Printer reset; sheet %d is sent again", sheet); }
    void SheetRefused(int sheet, int64_t status) override
    {
        m_messages.Info("Sheet %d was refused: %s", sheet, StatusInfoText(status).c_str());
    }
    void SheetUndecided(int sheet, int64_t status) override
    {
        m_messages.Debug("Sheet %d: status %lld right after its START; watching whether the printer took it", sheet,
                         static_cast<long long>(status));
    }
    void PrinterSlow() override { m_messages.Info("Waiting for the printer to take data"); }
    void SheetStarting() override { Keep(); }
    bool GiveWay() override;
    void SheetPrinted(int multicut) override;

protected:
    libusb_device_handle* AcquireHandle() override { return m_link.handle(); }

private:
    bool Connect(Clock::time_point deadline);
    bool Resume();
    bool ReadMore();
    void SheetTaken();
    int Finish();
    int Cancelled();
    int GiveUp(const char* why);
    int HandOver();
    bool MayLeave() const { return !m_settings.jobClass.empty() && m_mayLeave; }
    bool SisterReady();
    void ReportCount() { m_messages.PagesTotal(m_sender.JobSheetsPrinted()); }
    bool AnotherJobWaits();
    void Keep();
    void Ended();

    void Report(int64_t status);
    void ReportMarkers();
    void Sleep(unsigned int ms);

    const BackendJobSettings& m_settings;
    JobFiles& m_files;
    CupsMessages& m_messages;
    PrinterConnection m_link;
    SheetSender m_sender;
    JobRecords m_records;
    bool m_recorded = false;    // the job has a record
    // The sender has taken over what the record said (Resume): until then
    // its figures are not the job's and are never saved over the record.
    bool m_resumed = false;
    std::vector<uint8_t> m_buffer;
    StatusMirror m_mirror;      // the status file while the window watches

    bool m_readFailed = false;
    bool m_mediaNeeded = false;
    std::string m_mediaText;        // the INFO: text while media is needed
    bool m_showingMedia = false;    // ... and it is the message shown
    int64_t m_lastStatus = kStatusFailed;
    // Failover of a class job: allowed until every sheet is taken; the
    // error shown and since when; why the job leaves (empty: it stays).
    bool m_mayLeave = true;
    const char* m_errorReason = nullptr;
    Clock::time_point m_errorSince{};
    std::string m_leaving;
    Clock::time_point m_sisterAsked{};   // the scheduler was last asked about the class then
    bool m_sisterReady = false;
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
    std::set<std::string> reasons;
    if (reason != nullptr)
        reasons.insert(reason);
    if (m_mediaNeeded)
        reasons.insert("media-needed");
    m_messages.SetReasons(reasons);
    // While the job waits for media, a printer that is otherwise ready
    // keeps showing what the job needs, not "Ready".
    const bool showMedia = m_mediaNeeded && reason == nullptr;
    if (status != m_lastStatus || showMedia != m_showingMedia)
        m_messages.Info("%s", showMedia ? m_mediaText.c_str() : StatusInfoText(status).c_str());
    m_showingMedia = showMedia;
    m_lastStatus = status;
    if (reason == nullptr)
        m_errorReason = nullptr;
    else if (m_errorReason == nullptr || std::string(m_errorReason) != reason) {
        m_errorReason = reason;
        m_errorSince = Clock::now();
    }
}

bool JobRun::GiveWay()
{
    if (!MayLeave())
        return false;
    if (!m_leaving.empty())
        return true;
    if (m_mediaNeeded) {
        if (!SisterReady())
            return false;
        m_leaving = m_mediaText;
        return true;
    }
    if (m_errorReason == nullptr || m_lastStatus == kStatusFailed)
        return false;
    // Ribbon and paper end wait for a new media set: no use waiting. A door
    // or a jam is often mended at once.
    using vantora_exchange::StatusCondition;
    const StatusCondition condition = vantora_exchange::ConditionOf(m_lastStatus);
    const bool mediaSetEnded = condition == StatusCondition::kPaperEnd || condition == StatusCondition::kRibbonEnd;
    if (!mediaSetEnded && Clock::now() - m_errorSince < std::chrono::milliseconds(m_settings.failoverGraceMs))
        return false;
    if (!SisterReady())
        return false;
    m_leaving = StatusInfoText(m_lastStatus);
    return true;
}

bool JobRun::SisterReady()
{
    // With no sister to go to, the job would only wait pending on the
    // class while this queue is stopped; it waits here, and asks again.
    if (!m_settings.sisterReady)
        return true;
    const Clock::time_point now = Clock::now();
    if (m_sisterAsked == Clock::time_point() || now - m_sisterAsked >= kSisterAskInterval) {
        m_sisterAsked = now;
        m_sisterReady = m_settings.sisterReady() != 0;
        if (!m_sisterReady)
            m_messages.Debug("No other printer of %s is enabled: the job waits here", m_settings.jobClass.c_str());
    }
    return m_sisterReady;
}

void JobRun::SheetPrinted(int multicut)
{
    if (!m_settings.countsFolder.empty() &&
        !vantora_delivery::AddPrintedSheets(m_settings.countsFolder, m_settings.serial, PageSizeOfMulticut(multicut)))
        m_messages.Debug("The printer's count in %s could not be updated", m_settings.countsFolder.c_str());
    ReportCount();
}

void JobRun::ShowMediaNeeded(int multicut, int loaded)
{
    m_mediaNeeded = multicut != 0;
    m_showingMedia = m_mediaNeeded;
    if (m_mediaNeeded) {
        m_mediaText = std::string("Media needed: the ") + PageSizeOfMulticut(multicut) + " page needs " +
                      MediaNeededFor(multicut) + "; the printer has " + MediaSetText(loaded);
        m_messages.Info("%s", m_mediaText.c_str());
    } else {
        m_messages.Info("The loaded %s prints the job", MediaSetText(loaded));
    }
    std::set<std::string> reasons = m_messages.reasons();
    if (m_mediaNeeded)
        reasons.insert("media-needed");
    else
        reasons.erase("media-needed");
    m_messages.SetReasons(reasons);
}

void JobRun::ReportMarkers()
{
    char remain[kQueryValueSize];
    char initial[kQueryValueSize];
    if (GetMediaRemain(m_link.handle(), remain, sizeof remain) > 0 &&
        GetMediaInitial(m_link.handle(), initial, sizeof initial) > 0)
        m_messages.Markers(MediaCountOfAnswer(remain), MediaCountOfAnswer(initial));
}

bool JobRun::Connect(Clock::time_point deadline)
{
    bool saidAbsent = false;
    bool saidBusy = false;
    Clock::time_point absentSince{};
    while (!CancelRequested()) {
        m_files.HoldPause(m_settings.serial.c_str());
        const Lookup found = m_link.TryOpen();
        if (found == Lookup::kOpened) {
            // A second queue's job may have held the pause file until now.
            m_files.HoldPause(m_settings.serial.c_str());
            m_messages.SetReasons({});
            m_lastStatus = kStatusFailed;
            NewPlug();
            m_mirror.NewPlug();
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
            if (absentSince == Clock::time_point())
                absentSince = Clock::now();
            if (MayLeave() && Clock::now() - absentSince >= std::chrono::milliseconds(m_settings.absentGraceMs) &&
                SisterReady()) {
                m_leaving = "The printer is not connected";
                return false;
            }
            Sleep(m_settings.lookIntervalMs);
        } else {
            absentSince = Clock::time_point();
            m_messages.SetReasons({});
            if (!saidBusy)
                m_messages.Info("Waiting for the printer: another program is using it");
            saidBusy = true;
            Sleep(m_settings.busyIntervalMs);
        }
    }
    return false;
}

PrinterPort::Return JobRun::AwaitReturn()
{
    m_link.Close();
    m_messages.SetReasons({"offline-report"});
    m_messages.Info("The printer was unplugged; waiting for it to come back");
    // A class job leaves a printer gone for absentGraceMs (Connect says so
    // in m_leaving).
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_settings.replugWaitMs);
    if (!Connect(deadline))
        return CancelRequested() ? Return::kCanceled : Return::kGaveUp;
    ReportMarkers();
    return Return::kBack;
}

bool JobRun::Resume()
{
    // A job run again sends only what an earlier run did not deliver.
    JobRecord record;
    m_resumed = true;
    if (!m_recorded || !m_records.Load(&record))
        return true;
    if (record.scheduler != 0 && record.scheduler == m_settings.scheduler) {
        // The scheduler that saw the job end runs it again: it was asked
        // to print it anew.
        m_messages.Info("The job is printed anew");
        m_records.Remove();
        return true;
    }
    if (record.scheduler != 0)
        m_messages.Info("The job ended before the scheduler restarted: only what it did not print is sent");
    m_messages.Info("The job ran before: %d sheet%s printed, %d more taken by the printer", record.printed,
                    record.printed == 1 ? "" : "s", record.taken - record.printed);
    if (m_sender.ResumeFrom(record, m_settings.serial) != SheetSender::kNeedData)
        return false;
    if (record.serial != m_settings.serial && record.taken > record.printed)
        m_messages.Info("Printer %s took %d sheet%s of the job and prints them once mended; they are not sent here",
                        record.serial.c_str(), record.taken - record.printed,
                        record.taken - record.printed == 1 ? "" : "s");
    ReportCount();
    return true;
}

bool JobRun::ReadMore()
{
    // One blocking read, then whatever else is there already, up to the
    // read-ahead: large writes keep the link busy. The sender holds at most
    // one sheet besides.
    const size_t want = std::max<size_t>(std::min(kReadAhead, m_sender.Room()), 64 * 1024);
    size_t total = 0;
    bool waited = false;
    bool eof = false;
    while (total < want && !eof) {
        if (waited) {
            pollfd ready{m_settings.input, POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0)
                break;
        }
        const ssize_t got = read(m_settings.input, m_buffer.data(), want - total);
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

void JobRun::Keep()
{
    if (m_recorded && m_resumed)
        m_records.Save(m_sender.Delivered(m_settings.serial));
}

// The job ended with its sheets printed (or left printing): its record
// stays, marked with the scheduler, so that a scheduler restarted before
// it learnt of the end does not print them twice (CUPS 2.4 may leave a
// backend running while it stops, and run the job again once started).
void JobRun::Ended()
{
    if (!m_recorded || m_settings.scheduler <= 0) {
        m_records.Remove();
        return;
    }
    JobRecord record = m_sender.Delivered(m_settings.serial);
    record.scheduler = m_settings.scheduler;
    m_records.Save(record);
}

void JobRun::SheetTaken()
{
    Keep();
    const int sheet = m_sender.SheetNumber() - 1;
    m_messages.Info("Sheet %d sent to the printer", sheet);
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    m_messages.Debug("Sheet %d taken at %lld.%03ld", sheet, static_cast<long long>(now.tv_sec),
                     now.tv_nsec / 1000000);
}

bool JobRun::AnotherJobWaits()
{
    if (!m_settings.otherJobsWaiting || m_settings.otherJobsWaiting() != 1)
        return false;
    m_messages.Info("Another job is waiting; the printer prints this one's sheets meanwhile");
    return true;
}

int JobRun::Finish()
{
    // Every sheet is taken: they print here, and the job waits for them.
    m_mayLeave = false;
    // What follows the last START is no sheet: it is not sent. A job that
    // ends inside a packet was cut short.
    const bool cut = m_sender.EndedInsideCommand();
    m_sender.LeavePrinterClean();
    ReportMarkers();
    const int64_t status = m_sender.QueryStatus();
    if (status != kStatusFailed && CupsReasonOfStatus(status) == nullptr)
        m_messages.SetReasons({});
    if (m_readFailed) {
        m_messages.Error("The job data could not be read");
        Keep();
        m_exitCode = CUPS_BACKEND_FAILED;
        return m_exitCode;
    }
    if (cut || m_sender.EndedInsideSheet()) {
        // The filter's stream ends after a START: one cut short comes from
        // a filter that was stopped (the scheduler stops, for one). The job
        // is not done; a run again prints what is missing.
        Keep();
        return GiveUp(cut ? "The job data ended inside a command" : "The job data ended inside a sheet");
    }
    const int sheets = m_sender.Figures().sheets;
    if (sheets == 0 && m_sender.Figures().skipped == 0) {
        // Nothing to print: the filter wrote no sheet. One that refused the
        // job ends with an error, and the scheduler then stops the job with
        // the filter's reason, unless the backend asks for a retry, which
        // would only be refused again; an empty document has no sheet. A
        // scheduler that stops sends SIGTERM to the filter and the backend
        // together, and the filter's output may end first: the signal gets
        // a moment to arrive, and then the job is not reported done.
        Sleep(kStopSignalWaitMs);
        if (CancelRequested())
            return Cancelled();
        Keep();
        m_messages.Debug("The job data ended before its first sheet: nothing to print");
        m_exitCode = CUPS_BACKEND_OK;
        return m_exitCode;
    }
    m_messages.Info("Job sent: %d sheet%s", sheets, sheets == 1 ? "" : "s");
    m_exitCode = CUPS_BACKEND_OK;
    if (sheets == 0 || AnotherJobWaits()) {
        // The next job judges its own sheets after these.
        if (sheets > 0)
            m_records.SetHandoffMark(m_settings.serial, m_sender.Judge().Mark());
        m_sender.TrustTaken();
        ReportCount();
        Ended();
        return m_exitCode;
    }
    switch (m_sender.AwaitPrinted([this] { return AnotherJobWaits(); })) {
    case SheetSender::kPrinted:
        // The status that came with the last counter may still say
        // printing: a watched printer's file is left with the state after
        // the job's sheets.
        if (m_mirror.Watched())
            m_sender.QueryStatus();
        ReportMarkers();
        m_messages.SetReasons({});
        m_messages.Info("Job printed: %d sheet%s", sheets, sheets == 1 ? "" : "s");
        figures.waitedForPrint = true;
        m_records.SetHandoffMark(m_settings.serial, -1);
        Ended();
        return m_exitCode;
    case SheetSender::kStoppedEarly:
        m_records.SetHandoffMark(m_settings.serial, m_sender.Judge().Mark());
        m_sender.TrustTaken();
        ReportCount();
        Ended();
        return m_exitCode;
    case SheetSender::kCanceled:
        return Cancelled();
    default:
        return GiveUp(m_sender.Reason());
    }
}

int JobRun::Cancelled()
{
    // A cancel and a scheduler that stops look the same (SIGTERM): the
    // record stays for a run again (and is cleaned out with age), and the
    // job is not reported done, which would complete a job the scheduler
    // only stopped. A cancelled job stays cancelled whatever the backend
    // says.
    m_sender.LeavePrinterClean();
    Keep();
    m_messages.Info("Job stopped");
    m_exitCode = CUPS_BACKEND_RETRY;
    return m_exitCode;
}

int JobRun::GiveUp(const char* why)
{
    m_sender.LeavePrinterClean();
    Keep();
    m_messages.Error("%s; the job will be retried", why);
    m_exitCode = CUPS_BACKEND_RETRY;
    return m_exitCode;
}

// A class job leaves this printer for a sister printer: what the printer
// took stays taken (it prints it once mended) and the job's record says so;
// the queue is stopped (CUPS_BACKEND_STOP) with a failover mark, so that
// CUPS gives the job to the next idle member of the class and the USB
// monitor starts the queue again once the printer can print. The reasons
// stay on the queue, and the last message is an ERROR:, which CUPS keeps
// as the stopped queue's printer-state-message.
int JobRun::HandOver()
{
    m_sender.LeavePrinterClean();
    JobRecord record = m_sender.Delivered(m_settings.serial);
    using vantora_exchange::StatusCondition;
    const StatusCondition condition = vantora_exchange::ConditionOf(m_lastStatus);
    if (m_sender.StartUndecided() &&
        (condition == StatusCondition::kPaperEnd || condition == StatusCondition::kRibbonEnd)) {
        // A START answered by ribbon or paper end: the printer had no media
        // left for that sheet and refused it (the sheets before it had
        // their media). Left as taken, the sister printer would skip it and
        // it would never print; it goes there instead.
        record.taken -= 1;
        if (record.mark >= 0)
            record.mark -= 1;
    }
    // Sheets the printer holds print once it is mended, as after an early
    // end: they count now, and its next job judges its own after them.
    m_sender.TrustTaken();
    record.counted = m_sender.Delivered(m_settings.serial).counted;
    ReportCount();
    if (m_sender.Judge().Taken() > m_sender.Judge().Printed())
        m_records.SetHandoffMark(m_settings.serial, m_sender.Judge().Mark());
    if (m_recorded && m_resumed)
        m_records.Save(record);
    if (!vantora_exchange::WriteFailoverMark(m_settings.failoverFolder,
                                            {m_settings.serial, m_settings.queue, m_leaving}))
        m_messages.Debug("No failover mark could be written in %s", m_settings.failoverFolder.c_str());
    m_messages.Error("%s; the job goes on another printer of %s", m_leaving.c_str(), m_settings.jobClass.c_str());
    m_exitCode = CUPS_BACKEND_STOP;
    return m_exitCode;
}

int JobRun::Run()
{
    m_records.CleanOld(kJobRecordMaxAge);
    m_recorded = !m_settings.recordsFolder.empty() &&
                 m_records.Choose(m_settings.jobId.c_str(), m_settings.jobUuid.c_str());
    // The queue may still show why an earlier job left it.
    m_messages.ClearLeftOverReasons();
    if (!Connect(Clock::time_point::max()))
        return m_leaving.empty() ? Cancelled() : HandOver();
    ReportMarkers();
    m_sender.SetHandoffMark(m_records.HandoffMark(m_settings.serial));
    if (!Resume()) {
        if (!m_leaving.empty() && !CancelRequested())
            return HandOver();
        return CancelRequested() ? Cancelled() : GiveUp(m_sender.Reason());
    }
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
        case SheetSender::kBadStream:
            m_sender.LeavePrinterClean();
            m_messages.Error("Refused the job: %s", m_sender.Reason());
            m_records.Remove();
            code = CUPS_BACKEND_FAILED;
            done = true;
            break;
        case SheetSender::kLost:
            code = GiveUp("The printer dropped sheets of this job after an error");
            done = true;
            break;
        case SheetSender::kGaveWay:
            code = HandOver();
            done = true;
            break;
        default:
            // A printer unplugged for longer than a class job waits.
            code = m_leaving.empty() ? GiveUp(m_sender.Reason()) : HandOver();
            done = true;
            break;
        }
    }
    const SendFigures& sent = m_sender.Figures();
    figures.sheets = sent.sheets;
    figures.resent = sent.resent;
    figures.skipped = sent.skipped;
    figures.undecided = sent.undecided;
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
