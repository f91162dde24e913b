#include "DeliveryJudge.h"

#include "PrinterStatusCodes.h"

namespace {

using vantora_exchange::PrinterState;

// Polls in a row that show the printer ready with its counter short before
// that counts: the counter may lag the status. Without an error seen, many
// more (a printer does not drop sheets for nothing).
constexpr int kShortAfterError = 3;
constexpr int kShortWithoutError = 10;

bool Idle(int64_t status)
{
    return vantora_exchange::PrinterStateOf(status) == PrinterState::kReady;
}

}  // namespace

void DeliveryJudge::Begin(int64_t status, long counter, long handoffMark)
{
    m_begun = true;
    m_idleBefore = Idle(status);
    m_counterSeen = counter;
    if (counter < 0)
        m_base = -1;
    else if (m_idleBefore)
        m_base = counter;   // it holds nothing: a hand-off mark left is stale
    else
        m_base = handoffMark > counter ? handoffMark : counter;
}

void DeliveryJudge::Learn(int64_t status, long counter)
{
    if (counter > m_counterSeen)
        m_counterSeen = counter;
    if (m_base >= 0 && counter >= 0) {
        const long done = counter - m_base;
        if (done > m_printed)
            m_printed = done < m_taken ? static_cast<int>(done) : m_taken;
    }
    const PrinterState state = vantora_exchange::PrinterStateOf(status);
    if (state == PrinterState::kUserError || state == PrinterState::kSystemError || state == PrinterState::kNoAnswer) {
        m_sawError = true;
        m_readyPolls = 0;
    }
}

DeliveryJudge::Verdict DeliveryJudge::AfterStart(int64_t status, long counter)
{
    // A printer that held nothing before the first START has printed
    // nothing since: the counter now is the base.
    if (m_base < 0 && m_idleBefore && m_taken == 0 && counter >= 0)
        m_base = counter;
    m_idleBefore = false;
    m_readyPolls = 0;
    m_sawError = false;
    if (counter > m_counterSeen)
        m_counterSeen = counter;
    if (vantora_exchange::SheetMayStart(status)) {
        ++m_taken;
        return kTaken;
    }
    m_undecided = true;
    Learn(status, counter);
    return kWaiting;
}

DeliveryJudge::Verdict DeliveryJudge::ReadyShort(long target)
{
    ++m_readyPolls;
    (void)target;
    return m_readyPolls >= (m_sawError ? kShortAfterError : kShortWithoutError) ? kRefused : kWaiting;
}

DeliveryJudge::Verdict DeliveryJudge::JudgeStart(int64_t status, long counter)
{
    if (!m_undecided)
        return kTaken;
    const long seenBefore = m_counterSeen;   // read before this poll's status
    Learn(status, counter);
    const bool counted = m_base >= 0 && counter >= 0;
    const long target = m_base + m_taken + 1;   // the counter once the undecided sheet is printed
    if (counted && counter >= target) {
        m_undecided = false;
        ++m_taken;
        m_printed = m_taken;
        return kTaken;
    }
    switch (vantora_exchange::PrinterStateOf(status)) {
    case PrinterState::kPrinting:
        m_readyPolls = 0;
        // Printing again with every earlier sheet done before this status
        // was read: it prints this one. Without any counter (base unknown)
        // printing is all there is to go by.
        if (m_base < 0 || seenBefore >= target - 1) {
            m_undecided = false;
            ++m_taken;
            return kTaken;
        }
        return kWaiting;
    case PrinterState::kReady:
        if (ReadyShort(target) != kRefused)
            return kWaiting;
        m_undecided = false;
        if (counted && counter < m_base + m_taken)
            return kLost;   // earlier sheets are gone as well
        return kRefused;
    case PrinterState::kBusy:
    case PrinterState::kUserError:
    case PrinterState::kSystemError:
    case PrinterState::kNoAnswer:
        break;
    }
    return kWaiting;
}

DeliveryJudge::Verdict DeliveryJudge::JudgePrinted(int64_t status, long counter)
{
    Learn(status, counter);
    const bool counted = m_base >= 0 && counter >= 0;
    if (m_taken == 0 || (counted && counter >= m_base + m_taken)) {
        m_printed = m_taken;
        return kPrinted;
    }
    const PrinterState state = vantora_exchange::PrinterStateOf(status);
    if (state == PrinterState::kPrinting || state == PrinterState::kBusy) {
        m_readyPolls = 0;
        return kWaiting;
    }
    if (state != PrinterState::kReady)
        return kWaiting;
    if (!counted) {
        // Without a counter, ready again after printing (or an error) is
        // all there is to go by.
        return ++m_readyPolls >= kShortAfterError ? kPrinted : kWaiting;
    }
    return ReadyShort(m_base + m_taken) == kRefused ? kLost : kWaiting;
}
