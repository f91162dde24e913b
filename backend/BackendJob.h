// One print job: connects to the job's printer, carries the job's command
// stream to it as it arrives (SheetSender: a sheet at a time, with the
// recovery rules) and reports to CUPS what the printer does.
//
// The job is done when the printer has printed its sheets: after the last
// sheet is taken, the backend keeps reporting the printer's state (errors
// such as a jam or an open door are waited out) until the printer is ready
// again with its life counter risen by the job's sheets. When another job
// already waits on the queue, the job ends as soon as its sheets are
// taken instead, so that the next job's filters run while the printer
// prints and the printer never waits for them.
//
// Every sheet prints once: the job's record (JobRecords, by job id and
// job-uuid) keeps what the printer took and printed, so that a job run
// again (CUPS_BACKEND_RETRY, a scheduler restarted, a printer back after
// the grace time) sends only the sheets still missing. Nothing is reported
// done that the printer did not take: a printer that is unplugged gets time
// to come back (the sheet being sent is sent again), and one that stops
// taking data or fails transfers ends the job with CUPS_BACKEND_RETRY and
// an ERROR: line, as does a printer that drops sheets it took after an
// error. A stream that is not the filter's is refused before a byte of it
// reaches the printer. Data without a sheet (a filter that refused the job,
// an empty document) ends with CUPS_BACKEND_OK and nothing printed: the
// filter's exit status decides the job, which a retry would not change.
//
// A job that came through a CUPS class does not wait on a printer that
// cannot print it while a sister printer may: when the printer is not
// found or was unplugged (absentGraceMs), is at ribbon or paper end, lacks
// the job's media, or shows another error for failoverGraceMs (a door open,
// a jam), the backend says why, leaves a failover mark for the queue and
// ends with CUPS_BACKEND_STOP: CUPS stops the queue and sets the job
// pending on its class, whose next idle member runs it (while no other
// member is enabled, it waits here instead); the job's record
// makes that run print only the sheets this printer did not take. Once all
// of a job's sheets are taken it stays (they print here once mended). A job
// sent to the queue itself waits as before.
//
// Every sheet known printed is counted: "PAGE: total" for CUPS (page_log,
// job-impressions-completed) and the printer's own count per page size
// (PrinterCounts).
#pragma once

#include "CupsMessages.h"
#include "JobFiles.h"

#include <libusb.h>

#include <functional>
#include <string>

namespace vantora_backend {

struct BackendJobSettings {
    std::string serial;                 // the printer's serial number (valid)
    int input = 0;                      // descriptor of the job data
    unsigned int transferTimeoutMs = 1000;   // each bulk OUT transfer of job data
    unsigned int statusIntervalMs = 1000;    // status queries between packets, and while printing, at most this often
    unsigned int stallLimitMs = 120000;      // no byte taken inside a packet for this long: give up
    unsigned int replugWaitMs = 300000;      // an unplugged printer gets this long to come back
    unsigned int lookIntervalMs = 1000;      // looking for a printer that is not there
    unsigned int busyIntervalMs = 100;       // trying a printer another program holds
    unsigned int printLimitMs = 600000;      // a printer that shows no progress outside an error the user mends this long: retry later
    std::string jobId;                  // the CUPS job id, and
    std::string jobUuid;                // its job-uuid: they name the job's record
    std::string recordsFolder;          // the records' folder; empty: no records
    std::string countsFolder;           // the printers' counts (PrinterCounts); empty: not counted
    // The class the job came through (CUPS's CLASS); empty: sent to the
    // queue itself, which waits until the printer is mended.
    std::string jobClass;
    std::string queue;                  // the queue (CUPS's PRINTER), named in the failover mark
    std::string failoverFolder;         // where failover marks go (FailoverMarks)
    unsigned int absentGraceMs = 10000;      // a class job leaves a printer not found (or unplugged) this long
    unsigned int failoverGraceMs = 30000;    // ... one showing an error other than ribbon or paper end this long
    // 1 when another member of the job's class is enabled and accepting, 0
    // when none is (then the job waits here, as it would pending on the
    // class, and asks again every few seconds), -1 unknown; unset: 1.
    std::function<int()> sisterReady;
    // The scheduler that runs the job (its process id; 0 unknown). A job
    // that ended is run again by the same scheduler only when asked to
    // print it anew; by another, when the scheduler stopped before it
    // learnt that the job had ended: then nothing is printed twice.
    long scheduler = 0;
    // 1 when another job waits on the queue, 0 when none, -1 when that is
    // not known (then the job waits until its sheets are printed). Asked
    // when the data has ended and about once a second while printing.
    std::function<int()> otherJobsWaiting;
};

// Figures of a finished job, for the tests and the benchmark.
struct JobFigures {
    int sheets = 0;            // sheets the printer took
    int resent = 0;            // sheets sent again (refused, or after an unplug or a reset)
    int skipped = 0;           // sheets an earlier run of the job had printed
    int undecided = 0;         // STARTs judged over time
    long long bytes = 0;       // job bytes the printer took, resends included
    double sendSeconds = 0;    // time spent in bulk OUT transfers
    double firstDataSeconds = -1;  // from the start of the job to its first byte of data
    bool waitedForPrint = false;   // the job ended once its sheets were printed, not when taken
};

// Runs the job and returns the backend's exit code (CUPS_BACKEND_OK,
// CUPS_BACKEND_RETRY, CUPS_BACKEND_FAILED, ...). `files` holds the pause
// file while the printer is used. A cancelled job (SIGTERM) leaves the
// printer without a cut packet or an unfinished sheet.
int RunBackendJob(libusb_context* context, const BackendJobSettings& settings, JobFiles& files, CupsMessages& messages,
             JobFigures* figures = nullptr);

}  // namespace vantora_backend
