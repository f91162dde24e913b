// The emulated RT-50 itself, without any USB: its state, its answers to the
// command protocol, the faults it can be told to show, and the print jobs it
// accepts. The USB layer feeds it the bytes of the bulk OUT endpoint and asks
// it for the bytes of the bulk IN endpoint. Every public operation is
// thread-safe: the USB worker and the control interface share one object.
#pragma once

#include "CommandPackets.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace rt50emu {

using Clock = std::chrono::steady_clock;

// What the printer reports to the queries, and what it does with a job.
struct EmulatedState {
    long status = 0;              // STATUS: 0 waiting, 1 printing, 1000 door open ...
    std::string serial = "RT50EMU0001";
    int mediaSize = 150;          // MEDIA: 150 (4x6in) or 161 (4.5x8in)
    int mediaClass = 2;           // MEDIA_CLASS_RFID: 1, 2 or 3
    int mediaInitial = 300;       // MQTY_DEFAULT
    int mediaRemain = 300;        // MQTY (RQTY is twice this)
    std::string firmware = "1.53";// FVER
    long counter = 0;             // COUNTER_LIFE
    int printMs = 2000;           // how long one sheet keeps the status at 1
    bool driverBound = false;     // a kernel printer driver holds interface 0
    std::string product = "RT-50 Photo Printer";   // product string (sysfs: from the next plug)
    std::string deviceId;         // IEEE 1284 device ID; empty: the RT-50's own
    std::string reportedSerial;   // answer to SERIAL_NUMBER and in the device ID; empty: serial
    bool deviceIdLittleEndian = false;  // send the ID's length in the wrong byte order
    long rate = 40000000;         // bulk OUT bytes per second the link carries; 0: no limit
    long bufferSize = 24 * 1024 * 1024;  // receive buffer: the planes of the largest sheet
    int wakeMs = 0;               // saving power (900), COUNTER_LIFE is answered this much later
};

// One way of answering wrongly, for the next `times` replies (0: until
// cleared). Only one fault is active at a time.
enum class FaultKind {
    None, NoAnswer, BadHeader, BadLength, Slow, StallIn, StallOut,
    SplitReply,    // the reply's header comes in a transfer of its own
    StallWrite,    // an OUT transfer is never taken
    UnplugAfter,   // the printer leaves the bus after `value` more OUT bytes
    ErrorAfterStart,  // a sheet's START is taken, then the status turns to `value` (a door opened as the print began)
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int value = 0;   // BadLength: the length announced; Slow: the delay in ms;
                     // UnplugAfter: the bytes still taken; ErrorAfterStart: the status
    int times = 1;   // replies, halts or OUT transfers still affected; 0 = all
};

// Outcome of asking for reply bytes.
enum class ReadOutcome { Data, Pending, Stall };

// A sheet as received, complete and checked, ready to be recorded.
struct Sheet {
    int number = 0;                               // 1, 2, ... per printer
    std::string serial;
    std::vector<std::pair<std::string, std::string>> settings;  // sent since the previous START, in arrival order
    int width = 0;                                // plane width in dots
    int height = 0;                               // plane height in rows
    int pixelsPerMetreY = 0;
    std::vector<uint8_t> planes[3];               // yellow, magenta, cyan; rows top first
};

class PrinterModel {
public:
    PrinterModel();

    // Bytes arriving on the bulk OUT endpoint, in any split. Complete command
    // packets are acted on at once.
    void Write(const uint8_t* data, size_t length, Clock::time_point now);

    // What a real printer forgets on a soft reset, a USB device reset or a
    // new plug: the packet it was receiving (or skipping after a framing
    // error), the reply not yet read, and the sheet not yet started (its
    // settings and planes). Printed sheets, counters and faults stay.
    void ResetStream();

    // Where the command stream stands: "idle", "header N", "payload N/M"
    // or "skipping" (after a framing error, up to the next ESC).
    std::string StreamState() const;

    // Up to `max` reply bytes for the bulk IN endpoint. Data: `*count` bytes
    // copied (a transfer never spans two replies); Pending: nothing to send
    // yet; Stall: the endpoint answers with a stall handshake.
    ReadOutcome Read(uint8_t* dst, size_t max, size_t* count, Clock::time_point now);

    // When the reply now waiting may be read (a slow reply lies ahead);
    // the past when there is none or it is ready.
    Clock::time_point ReplyReadyAt() const;

    // True (and one stall used up) when the next OUT transfer is to stall.
    bool TakeOutStall();

    // True (and one occurrence used up) when a fault of this kind is active;
    // *value (may be null) gets its value.
    bool TakeFault(FaultKind kind, int* value = nullptr);

    // Bytes of the sheet being received that the printer holds: its stored
    // planes and the packet now arriving.
    size_t ReceivingBytes() const;

    // The IEEE 1284 device ID, without its two length bytes.
    std::string DeviceId() const;
    // The same with its two length bytes (which count themselves).
    std::string DeviceIdReply() const;

    EmulatedState State(Clock::time_point now);
    // Changes the state under the model's lock (status 1 while printing is
    // reported, not stored, so a change never freezes it).
    void Update(const std::function<void(EmulatedState&)>& change);
    void SetFault(const Fault& fault);
    Fault CurrentFault() const;

    // Sheets accepted since the last call (oldest first); the caller records them.
    std::vector<Sheet> TakeSheets();

    // Counters for the control interface and the tests.
    int SheetsPrinted() const;
    int FramingErrors() const;
    std::string LastError() const;

private:
    void Settle(Clock::time_point now);
    void PauseOrResume(Clock::time_point now);
    std::string DeviceIdLocked() const;
    long ReportedStatus() const;
    void HandlePacket(CommandPacket& packet, Clock::time_point now);
    void Answer(const std::string& value, Clock::time_point now);
    void Start(Clock::time_point now);
    void FramingError(const std::string& what);
    bool ConsumeFault(FaultKind kind);

    mutable std::mutex m_mutex;
    EmulatedState m_state;
    Fault m_fault;

    // Command stream reassembly.
    CommandPacketReader m_reader;

    // The reply being read out.
    std::vector<uint8_t> m_reply;
    size_t m_replyOffset = 0;
    bool m_replySplit = false;         // the header goes out on its own
    Clock::time_point m_replyReadyAt{};

    // The sheet being received.
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::vector<uint8_t> m_planePayload[3];
    bool m_planeSeen[3] = {false, false, false};

    std::deque<Clock::time_point> m_printing;   // end times of sheets in the printer
    Clock::time_point m_pausedSince{};          // an error stopped the printing then; zero: none
    std::vector<Sheet> m_done;
    int m_sheetsPrinted = 0;
    int m_sheetsAccepted = 0;
    int m_framingErrors = 0;
    std::string m_lastError;
};

}  // namespace rt50emu
