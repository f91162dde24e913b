// The daemon's records: one thdata per attached printer, the list of them
// (thDevData, guarded by m), the mutex that makes the printers' USB work one
// printer at a time (usb_openclose_mutex), and the settings and counters of
// the process.
//
// Who touches what: the hot-plug callbacks only queue arrivals and
// departures (never taking m: libusb may run them inside a worker's USB
// section); the main loop starts workers, sets the departed printers' bStop
// and joins and deletes ended workers; every other member belongs to the
// record's worker. m is never held while doing USB work or waiting for a
// thread, and never together with usb_openclose_mutex: inside the USB
// section a worker reads bStop (an atomic) and the cycle length without it.
#pragma once

#include "ExchangeFiles.h"
#include "FailoverMarks.h"
#include "PrinterIdentity.h"
#include "PrinterQueries.h"
#include "TurnMutex.h"

#include <libusb.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vantora_usbmon {

// Failures a worker reports on standard error once (until they clear), as
// bits of thdata::reported.
enum ReportedFailure : unsigned {
    kReportedClaim = 1u << 0,      // cannot open or claim the printer
    kReportedIdentity = 1u << 1,   // not identified for a while
    kReportedSerial = 1u << 2,     // serial number unusable as a name
    kReportedCups = 1u << 3,       // the scheduler does not list its queues
    kReportedLpadmin = 1u << 4,    // lpadmin failed
    kReportedQueueTaken = 1u << 5, // the queue name belongs to another printer
};

// One attached printer.
struct thdata {
    pthread_t thread{};                      // its worker
    libusb_device_handle* handle = nullptr;  // open during a USB section only
    libusb_device* device = nullptr;         // referenced while the record lives
    char model[kModelSize] = {};             // from the device ID
    char serial[kQueryValueSize] = {};       // only a serial IsValidSerial accepts
    std::atomic<bool> bStop{false};          // the printer left, or the daemon stops
    std::atomic<bool> bDeparted{false};      // set with bStop when the printer left the bus
    bool bModelOk = false;                   // the device ID names the RT-50
    bool bSerialOk = false;                  // serial read and valid
    bool bQueueOk = false;                   // a CUPS queue for the serial exists
    int32_t requestFlags = 0;                // this cycle: 1 watched, 2 refresh asked
    int32_t totalCount = -1;                 // last count read; negative: none yet
    bool bClaimed = false;                   // interface 0 claimed on handle
    bool bUtilSeen = false;                  // watch file seen in this watch period
    bool bCountRead = false;                 // the watch period's count read is done
    bool bPaused = false;                    // the backend's pause file was there last cycle
    bool bResumed = false;                   // the pause file went away this cycle
    int64_t prevStatus = -1;                 // status written last time for this printer
    bool bEnded = false;                     // the worker has finished (under m)
    unsigned reported = 0;                   // ReportedFailure bits
    std::chrono::steady_clock::time_point claimFailingSince{};  // zero: last section claimed
    std::chrono::steady_clock::time_point turnSince{};          // when it last took the USB section
    std::chrono::steady_clock::time_point arrivedAt{};
    std::chrono::steady_clock::time_point readAt{};             // last USB section that read its status
    const char* identityProblem = "";        // why it is not identified yet, for the report
    uint8_t bus = 0, address = 0;            // where it sits, for messages
};

// Records of the attached printers, in order of arrival, and their guard.
extern std::vector<thdata*> thDevData;
extern std::mutex m;
// Held by a worker from opening its printer to closing it, except while it
// lets the other printers go first (UsbSection.h).
extern TurnMutex usb_openclose_mutex;
// Set once at start-up: relabel status files for SELinux.
extern bool bSELinuxEnabled;


// Settings of the process, set before the main loop starts.
struct MonitorSettings {
    // Folder of the status, watch, refresh and pause files.
    std::string exchangeDir = vantora_exchange::kExchangeDir;
    // Length of a worker's cycle, and of every pause the daemon makes.
    std::chrono::milliseconds cycle{1000};
    // How long a printer may fail to be opened or claimed, or to answer the
    // questions that identify it, before it is reported.
    std::chrono::milliseconds reportAfter{60000};
    // Where failures are reported.
    FILE* reports = stderr;
    // The class keeper (ClassKeeper.h): one CUPS class per loaded media, and
    // class members stopped while their printer cannot print.
    bool keepClasses = true;
    // An unwatched printer's status and media are read this often (never
    // while a backend holds it), and at quickRead while it shows an error
    // or its queue waits to be started again.
    std::chrono::milliseconds classRead{30000};
    std::chrono::milliseconds quickRead{5000};
    // The keeper's round, ended early by news from the workers.
    std::chrono::milliseconds classRound{5000};
    // How long a door open, a jam or another error lasts before the
    // printer's class member is stopped (ribbon and paper end: at once).
    std::chrono::milliseconds failAfter{30000};
    // A class member whose printer is not seen this long after the start
    // counts as unplugged.
    std::chrono::milliseconds startGrace{60000};
    // Folder of the failover marks.
    std::string failoverDir = vantora_exchange::FailoverFolder();
};
const MonitorSettings& GetMonitorSettings();
void SetMonitorSettings(const MonitorSettings& settings);

// Counters of the process, for tests and figures.
struct MonitorStats {
    long usbSections = 0;        // USB sections entered
    int mostSectionsAtOnce = 0;  // the most USB sections ever running together
    long handOvers = 0;          // times a worker let others go first inside its section
    long workersStarted = 0;
    long workersEnded = 0;       // joined and deleted by the main loop
};
MonitorStats GetMonitorStats();
void ResetMonitorStats();
// Bookkeeping of the counters.
void CountSectionEntered();   // a worker's section begins (counted once)
void CountSectionHeld();      // the section is taken (also again after a hand-over)
void CountSectionLeft();      // the section is given up (for good or a while)
void CountHandOver();
void CountWorkerStarted();
void CountWorkerEnded();

// Reports a failure on the report stream as one line, prefixed with the
// program's name.
void ReportFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reports a failure of the record's printer unless `failure` was reported
// and has not cleared since; the line names the printer by serial number or
// USB address.
void ReportOnce(thdata* record, ReportedFailure failure, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// The failure has cleared: the next one is reported again.
void ClearReported(thdata* record, ReportedFailure failure);

// Waits one cycle, or less when the record's printer leaves. True when it
// has left. Never called inside the USB section.
bool WaitCycle(thdata* record);

// Whether the record's printer has left or the daemon stops.
bool StopRequested(const thdata* record);

// Sets the record's bStop and wakes its worker if it waits out a cycle.
void StopWorker(thdata* record);

// Copies untrusted text for a message: at most `size` - 1 bytes, characters
// outside printable ASCII written as '?'.
void PrintableCopy(const char* text, char* out, size_t size);

}  // namespace vantora_usbmon
