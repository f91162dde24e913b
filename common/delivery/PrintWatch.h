// Whether the sheets a printer took have been printed, judged from its
// status and life counter as a program polls them. The RT-50 prints the
// sheets it holds in order; its life counter rises as each is done.
//
// Printed: the printer is ready again (nothing left printing, no error)
// and its life counter has risen by the sheets since before the first of
// them was started; without a life counter, ready again after printing.
// Lost: ready again after an error, without the counter having risen by
// the sheets: the printer dropped what it held. Anything else: still
// printing (or waiting for the user to mend an error).
#pragma once

#include <cstdint>

class PrintWatch {
public:
    enum Verdict { kPrinting, kPrinted, kLost };

    // `counterBefore`: the life counter read before the first of the sheets
    // was started, -1 when unknown; `sheets`: how many the printer took.
    PrintWatch(long counterBefore, int sheets);

    // One poll: the status (kStatusFailed when it did not answer) and the
    // life counter (-1 when not read).
    Verdict Judge(int64_t status, long counter);

private:
    long m_target;              // life counter once the sheets are printed; -1 unknown
    bool m_sawPrinting = false;
    bool m_sawError = false;
    int m_readyShort = 0;       // polls in a row: ready after an error, counter short
};
