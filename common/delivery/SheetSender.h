// Delivering sheets to the RT-50, each exactly once, with the recovery rules
// every program that prints follows:
//
// - The job's command stream passes SheetStream's gate: only the filter's
//   commands in its order reach the printer; anything else ends the sending
//   (kBadStream) before a byte of it is sent. Sheets an earlier run of the
//   job had printed are read and dropped (SkipSheets).
// - Before a sheet's first byte the loaded media must print it; otherwise
//   the sender waits (ShowMediaNeeded) until the user loads media that does.
// - The stream goes out as it is given, a sheet at a time. The printer's
//   status is asked only between packets, never inside one (the printer
//   would read the query as part of the packet), and not while its buffer
//   takes nothing (the query would wait behind the data).
// - A sheet's START is sent only when SheetMayStart says so. What the
//   printer made of it is DeliveryJudge's decision: taken, or refused (sent
//   again whole, once the printer is back in such a state), or undecided
//   until the printer shows which. A sheet the printer took is never sent
//   again.
// - A halted bulk OUT endpoint is cleared; transfers that keep failing make
//   the printer forget the sheet (SOFT_RESET) and the sheet is sent again.
// - A printer that leaves the bus is waited for (the port decides how
//   long); the sheet being sent goes again from its start on its return,
//   the sheets it took before stay taken. A sheet whose START reached the
//   printer whole before it left (or before its transfer failed) is judged
//   like any START, not sent again.
// - Whatever stops the sending (cancel, giving up, a bad stream, the data
//   ending inside a sheet) leaves the printer without a cut packet or an
//   unfinished sheet: LeavePrinterClean.
// - A program that would rather leave the printer (PrinterPort::GiveWay: a
//   sister printer can print the job) is asked while the sender waits for
//   the printer, its media or a START's verdict, and between packets: the
//   sender stops with kGaveWay, the sheets taken so far stay taken.
// - Each sheet of the run known printed is told to the port once
//   (SheetPrinted), for the printer's own count.
//
// Until printed (AwaitPrinted), one rule for every program: errors the user
// mends at the printer are waited out without limit; a printer that shows
// no progress in any other state for progressLimitMs is not waited for
// (kNoProgress: the sheets are not known printed).
#pragma once

#include "CommandPackets.h"
#include "DeliveryJudge.h"
#include "JobRecord.h"
#include "PrinterPort.h"
#include "SheetStream.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Timing of the sending; tests shorten it.
struct SendTiming {
    unsigned int transferTimeoutMs = 1000;  // each bulk OUT transfer
    unsigned int statusIntervalMs = 1000;   // status queries between packets, and polls, at most this often
    unsigned int stallLimitMs = 120000;     // no byte taken inside a packet for this long: give up; 0: never
    unsigned int progressLimitMs = 600000;  // no progress outside a user-mended error this long: stop waiting; 0: never
};

// Figures of the sending, for logs, tests and benchmarks.
struct SendFigures {
    int sheets = 0;           // sheets the printer took
    int skipped = 0;          // sheets an earlier run had printed, not sent
    int resent = 0;           // sheets sent again (refused, or after an unplug or a reset)
    int undecided = 0;        // STARTs that had to be judged over time
    long long bytes = 0;      // bytes the printer took, resends included
    double sendSeconds = 0;   // time spent in bulk OUT transfers
};

class SheetSender {
public:
    enum Outcome {
        kNeedData,    // everything given is sent (or held back until more comes): Append or EndData
        kSheetTaken,  // the printer took a sheet; Run again for the next
        kDataEnd,     // the data ended and every sheet in it was taken
        kCanceled,    // PrinterPort::Canceled
        kGaveUp,      // Reason() says why
        kBadStream,   // the stream is not the filter's; Reason() says why
        kLost,        // the printer dropped sheets it had taken (Judge().Printed() were printed)
        kPrinted,     // AwaitPrinted: every sheet taken is printed
        kNoProgress,  // AwaitPrinted: no progress for the time limit
        kStoppedEarly,  // AwaitPrinted: the caller's stop said so
        kGaveWay,     // PrinterPort::GiveWay said so (Run, ResumeFrom)
    };

    SheetSender(PrinterPort& port, const SendTiming& timing);
    SheetSender(const SheetSender&) = delete;
    SheetSender& operator=(const SheetSender&) = delete;

    // The first `sheets` sheets of the stream were printed by an earlier
    // run: they are checked and dropped, not sent.
    void SkipSheets(int sheets) { m_skip = sheets; }

    // An earlier run left sheets printing that are done when the life
    // counter reaches `mark`.
    void SetHandoffMark(long mark) { m_handoffMark = mark; }

    // More of the command stream; EndData when no more will come.
    void Append(const uint8_t* data, size_t length);
    void EndData();

    // Bytes held: the sheet being sent and what came after it. The gate
    // keeps this under kLargestSheetBytes plus what was appended past the
    // sheet, so a caller reads at most Room() bytes at a time.
    size_t Buffered() const { return m_data.size(); }
    size_t Room() const;

    // Sends until one of the outcomes kNeedData .. kLost.
    Outcome Run();

    // The job ran before and left `record`. On the same printer `serial`:
    // waits until the printer has settled the sheets it may still hold
    // (errors the user mends are waited out), then skips the sheets
    // printed; those it cannot tell are sent again. On another printer: the
    // sheets that printer took are skipped (see the definition for why).
    // kNeedData (Run goes on), kCanceled, kGaveUp or kGaveWay.
    Outcome ResumeFrom(const JobRecord& record, const std::string& serial);

    // What the job has delivered so far, as its record keeps it: the
    // sheets skipped or printed, and those the printer took or may hold.
    JobRecord Delivered(const std::string& serial) const;

    // After kDataEnd (or between sheets): polls until the sheets taken are
    // printed. `stopEarly`, asked about once a second, may end the waiting
    // (kStoppedEarly). kPrinted, kLost, kNoProgress, kCanceled, kGaveUp (the
    // printer left and did not come back), kStoppedEarly.
    Outcome AwaitPrinted(const std::function<bool()>& stopEarly = {});

    // The run ends and leaves the sheets taken and not yet seen printed to
    // the printer, which holds them and prints them on its own: they are
    // told to the port as printed (SheetPrinted) now.
    void TrustTaken();

    // The job's sheets known printed (or trusted to print, TrustTaken), the
    // earlier runs' included: its count as CUPS shows it.
    int JobSheetsPrinted() const { return m_skip + m_noted; }

    // True while a START went out whose sheet the printer may or may not
    // hold (Delivered counts it as taken).
    bool StartUndecided() const;

    // Asks the printer's status (a few attempts) and shows it; the status,
    // or kStatusFailed. Exclusive of a packet being sent: call between Runs.
    int64_t QueryStatus();

    // After kCanceled, kGaveUp, kBadStream or kDataEnd: a SOFT_RESET when
    // the printer holds part of a sheet (bytes after the last START, or a
    // cut packet).
    void LeavePrinterClean();

    // Facts of the stream so far.
    bool EndedInsideCommand() const;     // after kDataEnd: the data ended inside a packet
    bool EndedInsideSheet() const { return m_gate.InsideSheet(); }   // ... or a sheet: it was cut short
    int SheetNumber() const { return m_skipped + m_judge.Taken() + 1; }   // the job's sheet being sent, from 1
    int SheetsDone() const { return m_skipped + m_judge.Taken(); }       // the job's sheets skipped or taken
    const DeliveryJudge& Judge() const { return m_judge; }
    const char* Reason() const { return m_reason.c_str(); }
    const SendFigures& Figures() const { return m_figures; }

private:
    using Clock = std::chrono::steady_clock;
    enum Step { kGoOn, kStop };

    void FeedReader();
    bool Refuse(const std::string& why);
    size_t SendableEnd() const;
    bool AtBoundary() const;
    Step SendSome(size_t end);
    Step HandleWriteError(WriteResult result, size_t took);
    Step CheckMedia();
    Step BeforeStart();
    Step AfterStart();
    Step JudgeUndecided();
    Step Recover();
    Step AfterUnplug();
    Step AwaitPrinterWithSheet();
    Step QueryFailed();
    void DropSheet();
    void SheetTaken();
    void NotePrinted(int limit);
    bool GivingWay();
    void SendSheetAgain();
    long ReadCounter(int64_t status, bool patient);
    bool Progressed(int64_t status, long counter);
    void Sleep(unsigned int ms);
    Step Stop(Outcome outcome, const char* reason = "");

    PrinterPort& m_port;
    const SendTiming m_timing;
    CommandPacketReader m_reader;
    SheetStream m_gate;
    DeliveryJudge m_judge;

    // The stream from the start of the sheet being sent: bytes given, bytes
    // fed to the packet reader, bytes the printer took.
    std::vector<uint8_t> m_data;
    size_t m_fed = 0;
    size_t m_sent = 0;
    size_t m_sheetOffset = 0;           // of m_data[0] in the whole stream
    size_t m_packetBegin = 0;           // the packet being read, in m_data
    size_t m_checkedEnd = 0;            // bytes in m_data that passed the gate
    bool m_payloadChecked = false;      // the payload prefix of the packet being read passed
    std::vector<size_t> m_boundaries;   // packet ends in m_data
    size_t m_startBegin;                // the sheet's START packet in m_data, or kNone
    size_t m_startEnd;
    bool m_startChecked = false;        // the printer could take the sheet just before START
    bool m_mediaChecked = false;        // the loaded media prints the sheet
    bool m_bad = false;
    bool m_eof = false;
    int m_skip = 0;
    int m_skipped = 0;
    long m_handoffMark = -1;

    // Counting: the size (MULTICUT) of each sheet the run took, the run's
    // sheets told to the port as printed, the job's first sheets counted
    // by this run or earlier ones, and the end of the skipped sheets that
    // this printer printed (counted as they are skipped).
    std::vector<int> m_takenSizes;
    int m_noted = 0;
    int m_countedEnd = 0;
    int m_skipCountEnd = 0;

    // While ResumeFrom waits for the printer to settle an earlier run's
    // sheets, the job's delivery is that run's record.
    bool m_resuming = false;
    JobRecord m_resumeRecord;

    Clock::time_point m_lastQuery{};
    Clock::time_point m_blockedSince{};   // writes have taken nothing since
    bool m_blocked = false;               // the last write took nothing: the printer's buffer is full
    int m_failures = 0;                   // failed transfers in a row
    int m_resets = 0;                     // resets of the current sheet
    int64_t m_lastStatus = -1;            // for the progress limit
    long m_lastCounter = -1;
    Clock::time_point m_lastProgress{};
    Outcome m_outcome = kNeedData;
    std::string m_reason;
    SendFigures m_figures;
};
