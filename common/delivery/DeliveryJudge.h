// What became of the sheets a run handed to the printer, judged from what
// the printer reports over time: its status sequence and its life counter.
// A pure decision, fed by the sender's polls.
//
// The RT-50 prints the sheets it holds in order, and its life counter rises
// as each is done. The judge keeps the run's ledger: `base`, the counter at
// which everything the printer held before the run's first sheet is
// printed, and the sheets it took. Sheet i of the run is printed once the
// counter reaches base + i.
//
// After a START, a printer that still waits or prints took the sheet. A
// printer that shows an error (or does not answer) may have refused it (the
// error came first) or taken it (the error came right after: a door opened
// as the print began, the last sheet of a ribbon): the START stays
// undecided until the printer shows which. It took the sheet when its
// counter reaches the sheet's count, or when it prints again with every
// earlier sheet done; it refused it when it stands ready, several polls in a
// row, with the counter short of the sheet.
//
// Each poll reads the status first and the counter after it, so a poll's
// counter may count a sheet whose printing that poll's status still showed.
// "Every earlier sheet done" is therefore taken only from a counter read in
// an earlier poll: one read before the status that shows printing.
#pragma once

#include <cstdint>

class DeliveryJudge {
public:
    enum Verdict {
        kWaiting,   // nothing decided yet: poll again
        kTaken,     // the undecided START's sheet was taken
        kRefused,   // it was not: send it again
        kPrinted,   // every sheet taken is printed
        kLost,      // the printer dropped sheets it had taken (Printed() says how many were printed)
    };

    // Before the run's first START: a status that lets a sheet start, the
    // counter then (-1 unknown) and the hand-off mark of an earlier run that
    // left sheets printing (the counter at which they are done; -1 none).
    void Begin(int64_t status, long counter, long handoffMark);
    bool Begun() const { return m_begun; }

    // The START of the next sheet went out; the status and counter read
    // right after it. kTaken or kWaiting (undecided: call JudgeStart).
    Verdict AfterStart(int64_t status, long counter);

    // One poll while a START is undecided: kTaken, kRefused (earlier sheets
    // printed), kLost (earlier sheets dropped too) or kWaiting.
    Verdict JudgeStart(int64_t status, long counter);

    // One poll until every sheet taken is printed: kPrinted, kLost or kWaiting.
    Verdict JudgePrinted(int64_t status, long counter);

    // The undecided START was settled by the printer leaving and coming
    // back: judged like any other from here.
    bool Undecided() const { return m_undecided; }

    int Taken() const { return m_taken; }       // sheets of the run the printer took
    int Printed() const { return m_printed; }   // of these, known printed
    long Base() const { return m_base; }
    // The counter once every sheet taken is printed; -1 when unknown.
    long Mark() const { return m_base >= 0 ? m_base + m_taken : -1; }

private:
    void Learn(int64_t status, long counter);
    Verdict ReadyShort(long target);

    bool m_begun = false;
    bool m_idleBefore = false;   // the printer held nothing when the run began
    long m_base = -1;
    int m_taken = 0;
    int m_printed = 0;
    bool m_undecided = false;
    bool m_sawError = false;     // since the last sheet was settled
    long m_counterSeen = -1;     // the highest counter read so far (-1 none)
    int m_readyPolls = 0;        // polls in a row: ready, counter short
};
