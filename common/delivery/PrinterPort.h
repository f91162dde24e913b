// What sheet delivery needs of the program that holds a printer: the
// exchanges with the printer (write, status, counter, media, reset) and the
// program's answers to what happens meanwhile (the printer leaves, the job
// is cancelled, a state to show). No USB type appears here: the USB side is
// UsbPrinterPort, and the tests put a fake printer behind this interface.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of PrinterPort::Write.
enum class WriteResult {
    kDone,      // every byte was taken
    kTimeout,   // the time ran out; *took says how many were taken (possibly 0)
    kHalted,    // the endpoint halted (ClearHalt before the next write)
    kGone,      // the printer left the bus
    kFailed,    // any other transfer error
};

class PrinterPort {
public:
    enum class Return {
        kBack,      // the printer is back (a new plug: its command stream is fresh)
        kCanceled,  // the job was cancelled meanwhile
        kGaveUp,    // it did not come back in the time the program allows
    };

    virtual ~PrinterPort() = default;

    // --- Exchanges. Each is one whole exchange with the printer.

    // Sends up to `length` bytes within `timeoutMs`; *took gets the count taken.
    virtual WriteResult Write(const uint8_t* data, size_t length, unsigned int timeoutMs, size_t* took) = 0;

    // The printer's status code, kStatusFailed when it did not answer.
    virtual int64_t Status() = 0;

    // The life counter (sheets printed in the printer's life), -1 when not
    // answered. `patient`: wait for a printer that saves power.
    virtual long Counter(bool patient) = 0;

    // The loaded media's code (150, 161, ...), -1 when not answered.
    virtual int Media() = 0;

    // The printer-class SOFT_RESET: the printer forgets a cut packet and the
    // sheet not yet started, and its endpoints' halts. False when it failed.
    virtual bool Reset() = 0;

    // Clears a halted OUT endpoint.
    virtual void ClearHalt() = 0;

    // True when the printer reached so far has left the bus.
    virtual bool Gone() = 0;

    // --- The program's side.

    // The printer has left the bus: waits for it to come back.
    virtual Return AwaitReturn() = 0;

    // True once the job is cancelled (or the program stops).
    virtual bool Canceled() = 0;

    // True when the program would rather leave this printer than wait on it
    // (a sister printer can print the job): asked while the sender waits for
    // the printer or media, and between packets. The sender then stops
    // (SheetSender::kGaveWay) without ending a sheet whose START is judged.
    virtual bool GiveWay() { return false; }

    // A status the printer answered (never kStatusFailed).
    virtual void ShowStatus(int64_t /*status*/) {}

    // The next sheet needs other media than the loaded one (`loaded`, -1
    // unknown); `multicut` names the sheet's size. Called again with
    // multicut 0 once the media fits.
    virtual void ShowMediaNeeded(int /*multicut*/, int /*loaded*/) {}

    // A sheet's START is about to go out: from here the printer may hold the
    // sheet (SheetSender::Delivered counts it as possibly taken), so a
    // program that keeps a record writes it now.
    virtual void SheetStarting() {}

    // One more sheet this run took is known printed (or, at the end of a
    // run that leaves them to the printer, trusted to print); `multicut`
    // names its size. Called once per sheet, in order.
    virtual void SheetPrinted(int /*multicut*/) {}

    // Progress for the program's log; nothing by default.
    virtual void TransferFailed(WriteResult /*result*/) {}
    virtual void SheetReset(int /*sheet*/) {}
    virtual void SheetRefused(int /*sheet*/, int64_t /*status*/) {}
    virtual void SheetUndecided(int /*sheet*/, int64_t /*status*/) {}
    virtual void PrinterSlow() {}
};
