// The decisions of the class keeper, without the scheduler: which queues
// belong to which media class, which classes are made, changed or removed,
// the queues' descriptions, and which class members are stopped because
// their printer cannot print or started again once it can.
//
// A queue joins the class of its printer's loaded media: 150 (4x6in) the
// class VANTORA-RT-50-4x6in, 161 (4.5x8in) VANTORA-RT-50-4.5x8in. A class
// member whose printer left, is at ribbon or paper end, or shows another
// error for longer than failAfter is stopped with its reason and a failover
// mark, so that the class's jobs go to a sister printer; a marked queue is
// started again once its printer reads ready after the mark appeared. A
// queue stopped without a mark (by a person) is never touched, and a queue
// in no class is never stopped.
#pragma once

#include "FailoverMarks.h"
#include "PrinterBoard.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vantora_usbmon {

inline constexpr char kClass4x6[] = "VANTORA-RT-50-4x6in";
inline constexpr char kClass45x8[] = "VANTORA-RT-50-4.5x8in";
inline constexpr long kMedia4x6 = 150;
inline constexpr long kMedia45x8 = 161;

// The class of a media code (kClass4x6, kClass45x8), or null for any other.
const char* ClassOfMedia(long media);
// The media's name for people ("4x6in", "4.5x8in"), or null.
const char* MediaName(long media);

// A queue of an RT-50 as the scheduler shows it.
struct QueueView {
    std::string name;
    std::string serial;           // from its device URI
    std::string info;             // printer-info
    std::string location;         // printer-location
    bool stopped = false;         // printer-state stopped
    bool printingOwnJob = false;  // a job sent to this queue itself is processing
};

// One of the two media classes as the scheduler shows it.
struct ClassView {
    std::string name;
    std::vector<std::string> members;
    bool enabled = true;    // not stopped
    bool accepting = true;
    bool hasJobs = false;   // unfinished jobs wait on it
    bool create = false;    // in ClassActions: made now, enabled and accepting
};

struct ClassInputs {
    std::vector<QueueView> queues;
    std::vector<ClassView> classes;                  // only the two media classes
    std::map<std::string, PrinterFacts> printers;    // by serial
    std::map<std::string, bool> held;                // by serial: a backend holds the printer
    std::vector<vantora_exchange::FailoverMark> marks;
    BoardClock::time_point now{};
    BoardClock::time_point startedAt{};              // the keeper's start
    std::chrono::milliseconds failAfter{30000};      // door open, jam, other errors
    std::chrono::milliseconds startGrace{60000};     // a printer not seen since start counts as unplugged
};

// What the keeper remembers of a mark between rounds.
struct MarkMemory {
    BoardClock::time_point firstSeen{};
    BoardClock::time_point notStoppedSince{};   // zero while its queue is stopped
    long media = -1;                            // the printer's media when first seen (or first read after)
    std::vector<std::string> classes;           // the queue's classes when first seen
    unsigned arrivals = 0;
};

struct ClassActions {
    std::vector<ClassView> setClasses;          // make (enabled, accepting) or change the members
    std::vector<std::string> deleteClasses;     // empty and without jobs
    std::vector<QueueView> describe;            // name, info, location to set
    std::vector<vantora_exchange::FailoverMark> stop;   // mark, then stop with the reason
    std::vector<vantora_exchange::FailoverMark> start;  // start, then remove the mark
    std::vector<std::string> dropMarks;         // serials whose mark is stale
    std::vector<std::string> quickReads;        // serials to read at the short interval
};

// Plans one round. `memory` carries the marks' memory between rounds.
ClassActions PlanClasses(const ClassInputs& in, std::map<std::string, MarkMemory>* memory);

// The reason a class member's printer cannot print now ("Unplugged",
// "Ribbon end", "Paper end", "Door open", "Paper jam", ...), or empty when
// it can or has not failed long enough. `facts` null: never seen.
std::string FailReason(const PrinterFacts* facts, const ClassInputs& in);

}  // namespace vantora_usbmon
