// One print job: connects to the job's printer, carries the job's command
// stream to it and reports to CUPS what the printer does.
//
// The stream is sent as it arrives, a sheet at a time. Between packets the
// printer's status is asked (never inside one: the printer would read the
// query as part of the packet); before a sheet's START the printer must be
// ready, and after it the printer must have taken the sheet, or the sheet is
// sent again once the user has mended the printer (paper end, door open,
// ...). The job is done when every sheet has been taken; the printer prints
// from its own buffer, so the next job can be prepared meanwhile.
//
// Nothing is reported done that the printer did not take: a printer that is
// unplugged gets time to come back (the sheet being sent is sent again), and
// one that stops taking data or fails transfers ends the job with
// CUPS_BACKEND_RETRY and an ERROR: line.
#pragma once

#include "CupsMessages.h"
#include "JobFiles.h"

#include <libusb.h>

#include <string>

namespace vantora_backend {

struct JobSettings {
    std::string serial;                 // the printer's serial number (valid)
    int input = 0;                      // descriptor of the job data
    unsigned int transferTimeoutMs = 1000;   // each bulk OUT transfer of job data
    unsigned int statusIntervalMs = 1000;    // status queries between packets at most this often
    unsigned int stallLimitMs = 120000;      // no byte taken inside a packet for this long: give up
    unsigned int replugWaitMs = 300000;      // an unplugged printer gets this long to come back
    unsigned int lookIntervalMs = 1000;      // looking for a printer that is not there
    unsigned int busyIntervalMs = 100;       // trying a printer another program holds
};

// Figures of a finished job, for the tests and the benchmark.
struct JobFigures {
    int sheets = 0;            // sheets the printer took
    int resent = 0;            // sheets sent again (refused, or after an unplug or a reset)
    long long bytes = 0;       // job bytes the printer took, resends included
    double sendSeconds = 0;    // time spent in bulk OUT transfers
    double firstDataSeconds = -1;  // from the start of the job to its first byte of data
};

// Runs the job and returns the backend's exit code (CUPS_BACKEND_OK,
// CUPS_BACKEND_RETRY, CUPS_BACKEND_FAILED, ...). `files` holds the pause
// file while the printer is used. A cancelled job (SIGTERM) leaves the
// printer without a cut packet or an unfinished sheet.
int PrintJob(libusb_context* context, const JobSettings& settings, JobFiles& files, CupsMessages& messages,
             JobFigures* figures = nullptr);

}  // namespace vantora_backend
