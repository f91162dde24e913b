#include "SheetSender.h"

#include "MediaSets.h"
#include "PrinterStatusCodes.h"

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
// While waiting for sheets to print, the caller's stop is asked this often.
constexpr auto kStopEarlyInterval = std::chrono::seconds(1);

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

size_t SheetSender::Room() const
{
    return m_data.size() >= kLargestSheetBytes ? 0 : kLargestSheetBytes - m_data.size();
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

bool SheetSender::Refuse(const std::string& why)
{
    m_bad = true;
    m_outcome = kBadStream;
    m_reason = why;
    return false;
}

void SheetSender::Sleep(unsigned int ms)
{
    // Short steps, so that a cancel is seen at once.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!m_port.Canceled() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
}

int64_t SheetSender::QueryStatus()
{
    int64_t status = kStatusFailed;
    for (int attempt = 0; attempt < kStatusAttempts && status == kStatusFailed; ++attempt) {
        status = m_port.Status();
        if (status == kStatusFailed && m_port.Gone())
            break;
    }
    m_lastQuery = Clock::now();
    if (status != kStatusFailed)
        m_port.ShowStatus(status);
    return status;
}

long SheetSender::ReadCounter(int64_t status, bool patient)
{
    // A printer saving power answers its life counter only after a long
    // pause: it is asked then only when the answer decides something.
    if (vantora_exchange::CounterAnswersPromptly(status))
        return m_port.Counter(false);
    if (patient && vantora_exchange::ConditionOf(status) == vantora_exchange::StatusCondition::kPowerSaving)
        return m_port.Counter(true);
    return -1;
}

bool SheetSender::Progressed(int64_t status, long counter)
{
    // Errors the user mends are waited out; any other state counts against
    // the limit while nothing changes.
    const Clock::time_point now = Clock::now();
    if (status != m_lastStatus || counter != m_lastCounter ||
        vantora_exchange::PrinterStateOf(status) == vantora_exchange::PrinterState::kUserError ||
        m_lastProgress == Clock::time_point()) {
        m_lastStatus = status;
        m_lastCounter = counter;
        m_lastProgress = now;
        return true;
    }
    return m_timing.progressLimitMs == 0 || now - m_lastProgress < std::chrono::milliseconds(m_timing.progressLimitMs);
}

void SheetSender::FeedReader()
{
    using Phase = CommandPacketReader::Phase;
    while (!m_bad && m_startEnd == kNone && m_fed < m_data.size()) {
        const Phase phase = m_reader.GetPhase();
        if (phase == Phase::Payload && !m_payloadChecked) {
            // The gate sees the start of a payload before any of it is sent.
            const size_t payloadBegin = m_packetBegin + kCmdHeaderSize;
            const size_t need = m_gate.PayloadPrefix();
            if (m_data.size() - payloadBegin < need) {
                if (m_eof)
                    break;
                return;
            }
            if (!m_gate.Payload(m_data.data() + payloadBegin, need)) {
                Refuse(m_gate.Error());
                return;
            }
            m_payloadChecked = true;
        }
        const bool inHeader = phase == Phase::Idle || phase == Phase::Header;
        size_t length = m_data.size() - m_fed;
        if (inHeader)
            length = std::min(length, kCmdHeaderSize - m_reader.HeaderBytes());
        size_t used = 0;
        const CommandPacketReader::Step step = m_reader.Feed(m_data.data() + m_fed, length, &used);
        m_fed += used;
        if (step == CommandPacketReader::kFramingError) {
            Refuse("the data is not a command stream: " + m_reader.ErrorText());
            return;
        }
        const CommandPacket& packet = m_reader.Packet();
        if (inHeader && (step == CommandPacketReader::kPacket || m_reader.GetPhase() == Phase::Payload)) {
            if (!m_gate.Header(packet.name, packet.param, packet.hasPayload, m_reader.PayloadWanted())) {
                Refuse(m_gate.Error());
                return;
            }
            m_payloadChecked = m_gate.PayloadPrefix() == 0;
        }
        if (m_payloadChecked)
            m_checkedEnd = m_fed;
        if (step != CommandPacketReader::kPacket)
            continue;
        m_boundaries.push_back(m_fed);
        m_checkedEnd = m_fed;
        m_packetBegin = m_fed;
        m_payloadChecked = false;
        if (m_gate.SheetEnded()) {
            m_startBegin = packet.offset - m_sheetOffset;
            m_startEnd = m_fed;
        }
    }
}

size_t SheetSender::SendableEnd() const
{
    // Nothing of a sheet goes out before the loaded media is known to print it.
    if (!m_mediaChecked)
        return 0;
    if (m_startEnd != kNone)
        return m_startChecked ? m_startEnd : m_startBegin;
    return m_checkedEnd;
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
    size_t took = 0;
    const Clock::time_point begun = Clock::now();
    const WriteResult result = m_port.Write(m_data.data() + m_sent, limit - m_sent, m_timing.transferTimeoutMs, &took);
    m_figures.sendSeconds += std::chrono::duration<double>(Clock::now() - begun).count();
    m_sent += took;
    m_figures.bytes += static_cast<long long>(took);
    m_blocked = result == WriteResult::kTimeout && took == 0;
    if (!m_blocked)
        m_blockedSince = Clock::time_point();
    else if (m_blockedSince == Clock::time_point())
        m_blockedSince = begun;
    if (took > 0)
        m_failures = 0;
    if (result == WriteResult::kDone)
        return kGoOn;
    return HandleWriteError(result, took);
}

SheetSender::Step SheetSender::HandleWriteError(WriteResult result, size_t took)
{
    // Every byte of the sheet's START reached the printer, whatever the
    // transfer's end says: the printer may hold the sheet, which is judged,
    // never sent again unjudged.
    const bool startSent = m_startEnd != kNone && m_sent == m_startEnd;
    if (result == WriteResult::kGone || m_port.Gone())
        return startSent ? AwaitPrinterWithSheet() : AfterUnplug();
    if (startSent) {
        m_port.TransferFailed(result);
        if (result == WriteResult::kHalted)
            m_port.ClearHalt();
        return kGoOn;
    }
    if (result == WriteResult::kTimeout) {
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
    if (result == WriteResult::kHalted)
        m_port.ClearHalt();
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
    m_mediaChecked = false;
}

SheetSender::Step SheetSender::Recover()
{
    // The printer's stream is no longer known to stand between packets: it
    // forgets the unfinished sheet, which is sent again from its start.
    if (++m_resets > kResetsBeforeGivingUp)
        return Stop(kGaveUp, "Transfers to the printer keep failing");
    if (!m_port.Reset()) {
        if (m_port.Gone())
            return AfterUnplug();
        return Stop(kGaveUp, "The printer does not accept a reset");
    }
    m_port.SheetReset(SheetNumber());
    SendSheetAgain();
    return kGoOn;
}

SheetSender::Step SheetSender::AfterUnplug()
{
    const Step step = AwaitPrinterWithSheet();
    // A new plug starts the printer's stream afresh: the sheet being sent
    // goes again from its start. Sheets it took before stay taken.
    if (step == kGoOn)
        SendSheetAgain();
    return step;
}

SheetSender::Step SheetSender::AwaitPrinterWithSheet()
{
    // A printer that comes back keeps the sheets it took.
    switch (m_port.AwaitReturn()) {
    case PrinterPort::Return::kCanceled:
        return Stop(kCanceled);
    case PrinterPort::Return::kGaveUp:
        return Stop(kGaveUp, "The printer was unplugged during the job and did not come back");
    case PrinterPort::Return::kBack:
        break;
    }
    m_blockedSince = Clock::time_point();
    m_failures = 0;
    return kGoOn;
}

SheetSender::Step SheetSender::QueryFailed()
{
    // Right after a START the printer may hold the sheet, whether it left
    // or only missed an answer: the sheet is judged next (AfterStart),
    // never sent again unjudged.
    if (m_startEnd != kNone && m_sent == m_startEnd)
        return kGoOn;
    if (m_port.Gone())
        return AfterUnplug();
    return Recover();
}

bool SheetSender::GivingWay()
{
    if (!m_port.GiveWay())
        return false;
    Stop(kGaveWay, "The job goes to another printer");
    return true;
}

SheetSender::Step SheetSender::CheckMedia()
{
    const int multicut = m_gate.Multicut();
    bool waited = false;
    int unanswered = 0;
    for (int media = m_port.Media();; media = m_port.Media()) {
        // An unanswered query says nothing of the media: it is asked again,
        // and only a printer that keeps not answering is left to take or
        // refuse the sheet itself.
        unanswered = media < 0 ? unanswered + 1 : 0;
        const bool unknown = media < 0 && unanswered < kStatusAttempts;
        if (!unknown && MediaPrintsSheet(media, multicut)) {
            if (waited)
                m_port.ShowMediaNeeded(0, media);
            break;
        }
        if (!unknown) {
            if (!waited)
                m_port.ShowMediaNeeded(multicut, media);
            waited = true;
            if (GivingWay())
                return kStop;
        }
        Sleep(m_timing.statusIntervalMs);
        if (m_port.Canceled())
            return Stop(kCanceled);
        if (QueryStatus() == kStatusFailed && m_port.Gone()) {
            if (AfterUnplug() == kStop)
                return kStop;
        }
    }
    m_mediaChecked = true;
    return kGoOn;
}

SheetSender::Step SheetSender::BeforeStart()
{
    int counterFailures = 0;
    while (!m_port.Canceled()) {
        const int64_t status = QueryStatus();
        if (status == kStatusFailed)
            return QueryFailed();
        if (vantora_exchange::SheetMayStart(status)) {
            if (!m_judge.Begun()) {
                // The run's first counter is asked again when the printer
                // should have answered it (the answer was lost, the
                // printer left): read only after the START, it may already
                // count the run's first sheet, which would then never be
                // known printed.
                const long counter = ReadCounter(status, false);
                if (counter < 0 && vantora_exchange::CounterAnswersPromptly(status) &&
                    ++counterFailures < kStatusAttempts) {
                    if (m_port.Gone())
                        return AfterUnplug();
                    Sleep(m_timing.statusIntervalMs);
                    continue;
                }
                m_judge.Begin(status, counter, m_handoffMark);
            }
            m_startChecked = true;
            return kGoOn;
        }
        if (GivingWay())
            return kStop;
        Sleep(m_timing.statusIntervalMs);
    }
    return Stop(kCanceled);
}

SheetSender::Step SheetSender::AfterStart()
{
    const int64_t status = QueryStatus();
    const long counter = status != kStatusFailed ? ReadCounter(status, false) : -1;
    if (m_judge.AfterStart(status, counter) == DeliveryJudge::kTaken) {
        SheetTaken();
        NotePrinted(m_judge.Printed());
        return kGoOn;
    }
    NotePrinted(m_judge.Printed());
    ++m_figures.undecided;
    m_port.SheetUndecided(SheetNumber(), status);
    return JudgeUndecided();
}

SheetSender::Step SheetSender::JudgeUndecided()
{
    // The printer may hold the sheet: it is never sent again until the
    // printer shows that it did not take it.
    m_lastProgress = Clock::time_point();
    for (;;) {
        Sleep(m_timing.statusIntervalMs);
        if (m_port.Canceled())
            return Stop(kCanceled);
        const int64_t status = QueryStatus();
        long counter = -1;
        if (status == kStatusFailed) {
            if (m_port.Gone()) {
                if (AwaitPrinterWithSheet() == kStop)
                    return kStop;
                continue;
            }
        } else {
            counter = ReadCounter(status, m_judge.Base() >= 0);
        }
        const DeliveryJudge::Verdict verdict = m_judge.JudgeStart(status, counter);
        if (verdict == DeliveryJudge::kTaken)
            SheetTaken();
        NotePrinted(m_judge.Printed());
        switch (verdict) {
        case DeliveryJudge::kTaken:
            return kGoOn;
        case DeliveryJudge::kRefused:
            m_port.SheetRefused(SheetNumber(), status);
            SendSheetAgain();
            return kGoOn;
        case DeliveryJudge::kLost:
            return Stop(kLost, "The printer dropped sheets it had taken");
        case DeliveryJudge::kWaiting:
        case DeliveryJudge::kPrinted:
            break;
        }
        if (!Progressed(status, counter))
            return Stop(kGaveUp, "The printer shows no progress");
        // The sheet stays undecided: the record counts it as possibly held.
        if (GivingWay())
            return kStop;
    }
}

void SheetSender::DropSheet()
{
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_startEnd));
    m_sheetOffset += m_startEnd;
    m_fed -= m_startEnd;
    m_checkedEnd -= std::min(m_checkedEnd, m_startEnd);
    m_packetBegin -= std::min(m_packetBegin, m_startEnd);
    m_sent = 0;
    m_boundaries.clear();
    m_startBegin = m_startEnd = kNone;
    m_startChecked = false;
    m_mediaChecked = false;
    m_resets = 0;
}

void SheetSender::SheetTaken()
{
    ++m_figures.sheets;
    m_takenSizes.push_back(m_gate.Multicut());
    DropSheet();
}

void SheetSender::NotePrinted(int limit)
{
    limit = std::min(limit, static_cast<int>(m_takenSizes.size()));
    while (m_noted < limit) {
        const int index = m_noted++;
        const int sheet = m_skip + index;   // of the job, from 0
        if (sheet < m_countedEnd)
            continue;   // an earlier run counted it already
        m_countedEnd = sheet + 1;
        m_port.SheetPrinted(m_takenSizes[static_cast<size_t>(index)]);
    }
}

void SheetSender::TrustTaken()
{
    NotePrinted(m_judge.Taken());
}

bool SheetSender::StartUndecided() const
{
    return m_judge.Undecided() || (m_startEnd != kNone && m_startChecked && m_sent >= m_startBegin);
}

SheetSender::Outcome SheetSender::Run()
{
    // A sheet whose START went out is judged before a cancel is: the
    // printer may hold it whole.
    while (!m_port.Canceled() || (m_startEnd != kNone && m_sent == m_startEnd)) {
        FeedReader();
        if (m_bad)
            return kBadStream;
        if (m_skipped < m_skip) {
            // A sheet an earlier run printed: read through the gate, not sent.
            if (m_startEnd == kNone)
                return m_eof ? kDataEnd : kNeedData;
            if (m_skipped >= m_countedEnd && m_skipped < m_skipCountEnd) {
                // Printed by this printer after the run that sent it had
                // ended: counted now, once.
                m_countedEnd = m_skipped + 1;
                m_port.SheetPrinted(m_gate.Multicut());
            }
            DropSheet();
            ++m_skipped;
            ++m_figures.skipped;
            continue;
        }
        // A sheet whose START went out is judged first; between packets the
        // program may choose to leave the printer.
        if (!(m_startEnd != kNone && m_sent >= m_startBegin && m_startChecked) && AtBoundary() && GivingWay())
            return m_outcome;
        // The gate's MULTICUT is this sheet's once it came and until the
        // next sheet's first packet.
        const bool sizeKnown = m_gate.Multicut() != 0 && (m_startEnd != kNone || !m_gate.SheetEnded());
        if (!m_mediaChecked && sizeKnown) {
            if (CheckMedia() == kStop)
                return m_outcome;
            continue;
        }
        const size_t end = SendableEnd();
        const int sheetsBefore = m_figures.sheets;
        if (m_sent < end) {
            if (m_sent == m_startBegin && m_startEnd != kNone)
                m_port.SheetStarting();
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
        if (AtBoundary() && !m_blocked &&
            Clock::now() - m_lastQuery >= std::chrono::milliseconds(m_timing.statusIntervalMs)) {
            if (QueryStatus() == kStatusFailed && QueryFailed() == kStop)
                return m_outcome;
        }
    }
    return kCanceled;
}

SheetSender::Outcome SheetSender::AwaitPrinted(const std::function<bool()>& stopEarly)
{
    m_lastProgress = Clock::time_point();
    Clock::time_point lastAsk = Clock::now();
    while (!m_port.Canceled()) {
        if (m_judge.Taken() == 0)
            return kPrinted;
        Sleep(m_timing.statusIntervalMs);
        if (m_port.Canceled())
            break;
        const int64_t status = QueryStatus();
        if (status == kStatusFailed) {
            if (!m_port.Gone())
                continue;
            // The sheets were taken: a printer that leaves keeps them. Its
            // return is waited for to see them printed.
            switch (m_port.AwaitReturn()) {
            case PrinterPort::Return::kCanceled:
                return kCanceled;
            case PrinterPort::Return::kGaveUp:
                Stop(kGaveUp, "The printer left before it had printed the job's sheets");
                return kGaveUp;
            case PrinterPort::Return::kBack:
                break;
            }
            continue;
        }
        const long counter = ReadCounter(status, true);
        const DeliveryJudge::Verdict verdict = m_judge.JudgePrinted(status, counter);
        NotePrinted(m_judge.Printed());
        switch (verdict) {
        case DeliveryJudge::kPrinted:
            return kPrinted;
        case DeliveryJudge::kLost:
            Stop(kLost, "The printer dropped sheets it had taken");
            return kLost;
        default:
            break;
        }
        if (!Progressed(status, counter)) {
            Stop(kNoProgress, "The printer shows no progress");
            return kNoProgress;
        }
        if (stopEarly && Clock::now() - lastAsk >= kStopEarlyInterval) {
            lastAsk = Clock::now();
            if (stopEarly())
                return kStoppedEarly;
        }
    }
    return kCanceled;
}

SheetSender::Outcome SheetSender::ResumeFrom(const JobRecord& record, const std::string& serial)
{
    int skip = record.printed;
    const int open = record.taken - record.printed;
    m_countedEnd = record.counted;
    if (open > 0 && record.serial != serial) {
        // Another printer took these sheets and was left before it was seen
        // printing them (it was unplugged, or ran out of ribbon or paper,
        // and the job moved on to a sister printer). The RT-50 keeps the
        // sheets it took through errors and unplugs and prints them once
        // mended: sent here too, they would print twice the moment it is.
        // So they stay that printer's. A START it may have refused is not
        // among them: the run that left it counts it as taken only when
        // the printer could have printed it (see the backend's hand-over).
        // They were never counted on this printer and are not now.
        m_skip = record.taken;
        m_skipCountEnd = 0;
        m_countedEnd = std::max(m_countedEnd, record.taken);
        return kNeedData;
    }
    if (open > 0 && record.mark >= 0) {
        // The counter settles them once the printer has printed, or
        // dropped, what it holds. Whatever ends the waiting (a cancel, the
        // printer lost, the job leaving the printer) leaves the record as
        // it was: Delivered gives it back meanwhile.
        m_resuming = true;
        m_resumeRecord = record;
        m_lastProgress = Clock::time_point();
        for (bool first = true;; first = false) {
            if (!first)
                Sleep(m_timing.statusIntervalMs);
            if (m_port.Canceled())
                return kCanceled;
            const int64_t status = QueryStatus();
            if (status == kStatusFailed) {
                if (m_port.Gone() && AfterUnplug() == kStop)
                    return m_outcome;
                continue;
            }
            const long counter = ReadCounter(status, true);
            if (counter >= record.mark) {
                skip += open;
                break;
            }
            if (vantora_exchange::PrinterStateOf(status) == vantora_exchange::PrinterState::kReady) {
                if (counter >= 0)
                    skip += static_cast<int>(std::max(0L, std::min<long>(open, counter - (record.mark - open))));
                break;
            }
            if (!Progressed(status, counter))
                break;
            if (GivingWay())
                return m_outcome;
        }
        m_resuming = false;
    }
    m_skip = skip;
    m_skipCountEnd = skip;
    return kNeedData;
}

JobRecord SheetSender::Delivered(const std::string& serial) const
{
    if (m_resuming)
        return m_resumeRecord;
    JobRecord record;
    record.serial = serial;
    // A START that went out (or is going out) and is not judged yet.
    const bool starting = m_startEnd != kNone && m_startChecked && m_sent >= m_startBegin;
    const int maybe = m_judge.Undecided() || starting ? 1 : 0;
    // The sheets to skip come first, whether read yet or not.
    record.printed = m_skip + m_judge.Printed();
    record.taken = m_skip + m_judge.Taken() + maybe;
    record.mark = m_judge.Mark() >= 0 ? m_judge.Mark() + maybe : -1;
    record.counted = m_countedEnd;
    return record;
}

void SheetSender::LeavePrinterClean()
{
    // Part of a sheet in the printer would wait for a START that never
    // comes, or turn the next job's commands into plane data.
    if (m_sent == 0)
        return;
    m_port.Reset();
    m_sent = 0;
}
