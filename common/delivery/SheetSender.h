// Delivering sheets to the RT-50 with the recovery rules every program
// that prints follows:
//
// - The job's command stream goes out as it is given, a sheet at a time.
//   The printer's status is asked only between packets, never inside one
//   (the printer would read the query as part of the packet), and not
//   while its buffer takes nothing (the query would wait behind the data).
// - A sheet's START is sent only when SheetMayStart says so; a printer that
//   is not in such a state right after the START refused the sheet, which
//   is sent again, whole, once the printer is back in such a state.
// - A halted bulk OUT endpoint is cleared; transfers that keep failing make
//   the printer forget the sheet (SOFT_RESET) and the sheet is sent again.
// - A printer that leaves the bus is waited for (the port decides how
//   long); the sheet being sent goes again from its start on its return,
//   the sheets it took before stay taken.
// - Whatever stops the sending (cancel, giving up, the data ending inside a
//   sheet) leaves the printer without a cut packet or an unfinished sheet:
//   LeavePrinterClean.
//
// Programs give the bytes (the backend as they arrive from CUPS, the
// printer application a whole sheet at a time) and a PrinterPort through
// which the sender reaches the printer.
#pragma once

#include "CommandPackets.h"

#include <libusb.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the sender needs of the program that holds the printer.
class PrinterPort {
public:
    enum class Return {
        kBack,      // the printer is back (a new plug: its command stream is fresh)
        kCanceled,  // the job was cancelled meanwhile
        kGaveUp,    // it did not come back in the time the program allows
    };

    virtual ~PrinterPort() = default;

    // The handle for one exchange, kept usable until Unlock; null while the
    // printer is away (then Unlock is not called).
    virtual libusb_device_handle* Lock() = 0;
    virtual void Unlock() {}

    // The printer that `lost` reached has left the bus: waits for it.
    virtual Return AwaitReturn(libusb_device_handle* lost) = 0;

    // True once the job is cancelled (or the program stops).
    virtual bool Canceled() = 0;

    // A status the printer answered (never kStatusFailed).
    virtual void ShowStatus(int64_t status) = 0;

    // Progress for the program's log; nothing by default.
    virtual void TransferFailed(int /*libusb error*/) {}
    virtual void SheetReset(int /*sheet*/) {}
    virtual void SheetRefused(int /*sheet*/, int64_t /*status*/) {}
    virtual void PrinterSlow() {}
};

// Timing of the sending; tests shorten it.
struct SendTiming {
    unsigned int transferTimeoutMs = 1000;  // each bulk OUT transfer
    unsigned int statusIntervalMs = 1000;   // status queries between packets at most this often
    unsigned int stallLimitMs = 120000;     // no byte taken inside a packet for this long: give up; 0: never
};

// Figures of the sending, for logs, tests and benchmarks.
struct SendFigures {
    int sheets = 0;           // sheets the printer took
    int resent = 0;           // sheets sent again (refused, or after an unplug or a reset)
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
        kGaveUp,      // GiveUpReason says why
    };

    SheetSender(PrinterPort& port, const SendTiming& timing);
    SheetSender(const SheetSender&) = delete;
    SheetSender& operator=(const SheetSender&) = delete;

    // More of the command stream; EndData when no more will come.
    void Append(const uint8_t* data, size_t length);
    void EndData();

    // Sends until one of the outcomes.
    Outcome Run();

    // Asks the printer's status (a few attempts) and shows it; the status,
    // or kStatusFailed. Exclusive of a packet being sent: call between Runs.
    int64_t QueryStatus();

    // After kCanceled, kGaveUp or kDataEnd: a SOFT_RESET when the printer
    // holds part of a sheet (bytes after the last START, or a cut packet).
    void LeavePrinterClean();

    // Facts of the stream so far.
    bool EndedInsideCommand() const;   // after kDataEnd: the data ended inside a packet
    int SheetNumber() const { return m_sheetNumber; }   // the sheet being sent, from 1
    const char* GiveUpReason() const { return m_reason.c_str(); }
    const SendFigures& Figures() const { return m_figures; }

private:
    using Clock = std::chrono::steady_clock;
    enum Step { kGoOn, kStop };

    void FeedReader();
    size_t SendableEnd() const;
    bool AtBoundary() const;
    Step SendSome(size_t end);
    Step HandleWriteError(int result, size_t took, libusb_device_handle* handle);
    Step BeforeStart();
    Step AfterStart();
    Step Recover();
    Step AfterUnplug(libusb_device_handle* lost);
    Step QueryFailed(libusb_device_handle* handle);
    void SheetTaken();
    void SendSheetAgain();
    bool Gone(libusb_device_handle* handle);
    void Sleep(unsigned int ms);
    Step Stop(Outcome outcome, const char* reason = "");

    PrinterPort& m_port;
    const SendTiming m_timing;
    CommandPacketReader m_reader;

    // The stream from the start of the sheet being sent: bytes given, bytes
    // fed to the packet reader, bytes the printer took.
    std::vector<uint8_t> m_data;
    size_t m_fed = 0;
    size_t m_sent = 0;
    size_t m_sheetOffset = 0;           // of m_data[0] in the whole stream
    std::vector<size_t> m_boundaries;   // packet ends in m_data
    size_t m_startBegin;                // the sheet's START packet in m_data, or kNone
    size_t m_startEnd;
    bool m_startChecked = false;        // the printer could take the sheet just before START
    bool m_eof = false;

    Clock::time_point m_lastQuery{};
    Clock::time_point m_blockedSince{};   // writes have taken nothing since
    bool m_blocked = false;               // the last write took nothing: the printer's buffer is full
    int m_failures = 0;                   // failed transfers in a row
    int m_resets = 0;                     // resets of the current sheet
    int m_sheetNumber = 1;
    Outcome m_outcome = kNeedData;
    std::string m_reason;
    SendFigures m_figures;
};
