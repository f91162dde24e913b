#include "PrintWatch.h"

#include "PrinterStatusCodes.h"

namespace {

// Polls in a row that show the printer ready after an error with its
// counter short before the sheets count as lost: the counter may lag.
constexpr int kLostAfterPolls = 3;

}  // namespace

PrintWatch::PrintWatch(long counterBefore, int sheets)
    : m_target(counterBefore >= 0 && sheets >= 0 ? counterBefore + sheets : -1)
{
}

PrintWatch::Verdict PrintWatch::Judge(int64_t status, long counter)
{
    using vantora_exchange::PrinterState;
    switch (vantora_exchange::PrinterStateOf(status)) {
    case PrinterState::kPrinting:
        m_sawPrinting = true;
        m_readyShort = 0;
        return kPrinting;
    case PrinterState::kUserError:
    case PrinterState::kSystemError:
        m_sawError = true;
        m_readyShort = 0;
        return kPrinting;
    case PrinterState::kBusy:
    case PrinterState::kNoAnswer:
        return kPrinting;
    case PrinterState::kReady:
        break;
    }
    const bool counted = m_target >= 0 && counter >= 0;
    if (counted && counter >= m_target)
        return kPrinted;
    if (!counted && m_sawPrinting)
        return kPrinted;
    if (m_sawError && ++m_readyShort >= kLostAfterPolls)
        return kLost;
    return kPrinting;
}
