// What the workers learn of their printers for the class keeper: per serial
// number, whether the printer is attached, its last status and loaded media,
// and since when it shows that status. Workers post after each read of
// their printer (inside their USB section); the keeper takes a copy each
// round and tells the workers which printers to read more often.
//
// The board has a mutex of its own, taken last and held only to copy: a
// worker may post while it holds the USB section, the keeper never holds
// anything else while it reads the board.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace vantora_usbmon {

using BoardClock = std::chrono::steady_clock;

// One printer as last read. A printer that left keeps its entry (present
// false, departed true) with the media it had.
struct PrinterFacts {
    bool present = false;           // a worker serves it
    bool departed = false;          // it left the bus while the daemon ran
    bool statusRead = false;        // status holds an answer of this attachment
    int64_t status = -1;            // last status code; kStatusFailed: no answer
    long media = -1;                // last media code answered (150, 161, ...); -1 none yet
    unsigned arrivals = 0;          // times it was attached while the daemon ran
    BoardClock::time_point readAt{};          // when status was read
    BoardClock::time_point conditionSince{};  // when status last changed
};

// A worker's read of its printer: `status` (kStatusFailed when it did not
// answer), `media` the media code or -1 when that query failed (the last
// known media then stays). The first post of an attachment counts as its
// arrival.
void PostPrinterRead(const std::string& serial, int64_t status, long media);

// The printer's worker ended because the printer left the bus.
void PostPrinterLeft(const std::string& serial);

// A copy of every printer's facts.
std::map<std::string, PrinterFacts> BoardSnapshot();

// Whether the printer is to be read at the short interval: the keeper wants
// to know soon (its queue waits to be started again) or it does not show a
// ready status.
bool WantsQuickReads(const std::string& serial);
// The keeper asks for quick reads of `serial` (true) or no longer (false).
void AskQuickReads(const std::string& serial, bool quick);

// Waits up to `limit` for news (an arrival, a departure, a new status or
// media) or a stop. True when StopBoardWaits was called.
bool WaitForBoardNews(std::chrono::milliseconds limit);
// Ends WaitForBoardNews at once, now and later, until ResetBoard.
void StopBoardWaits();
// Forgets every printer and the stop (a new run of the monitor).
void ResetBoard();

}  // namespace vantora_usbmon
