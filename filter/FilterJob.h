// The filter's job driver: arguments, options and PPD, the job start file
// wait, cancellation, the raster page loop and the grouping of page images
// into printed sheets.
#pragma once

#include <csignal>

#include <cups/cups.h>
#include <cups/raster.h>

#include "MessageSink.h"
#include "SettingsLookup.h"

// Set by the SIGTERM handler; the page loop stops at the next check.
extern volatile sig_atomic_t Canceled;

// SIGTERM handler: sets Canceled.
void CancelJob(int);

// Waits for the queue backend's job start file "/tmp/Print_<jobId>.log":
// up to 120 one-second polls, then one more second once it exists. No wait
// for a job id that cannot name a file. Always 0.
int PrinterStatusCheck(const char* jobId, int numOptions, cups_option_t* options);

// Largest raster page dimension accepted, in dots: several times the longest
// page side at 600 dpi.
enum { kMaxPageDots = 20000 };

// Checks a raster page header for what the filter can convert (24-bit
// chunky pixels, dimensions within kMaxPageDots). Returns null when the page
// is usable, otherwise the reason as a short English text.
const char* CheckPageHeader(const cups_page_header2_t& header);

// Keeps freed page-sized blocks in the process's heap. A page passes through
// several page-sized blocks in turn (raster page, resampled page, planes,
// merged page, plane packet); reusing memory that is already mapped instead of
// returning each block to the system makes a page about three times faster
// from the second block on, for a few MiB more at peak.
void KeepPageBlocksInHeap();

// The job driver's result is the program's exit status: 0 after a normal,
// cancelled or empty job; 1 when the job could not be done, always after
// one line on standard error ("Usage: ..." for a wrong argument count,
// "ERROR: ..." otherwise; to the job's message sink when it has one). The job's phases below return the same.

// Runs one filter job with CUPS filter arguments; standard output gets the
// command stream. Returns the exit status (0 or 1, above).
int FilterMain(int argc, char* argv[]);

class DeviceEntry;

// What one job holds from its start to its end.
struct FilterJob {
    const char* jobId = nullptr;         // argv[1]
    int input = -1;                      // the raster's descriptor; 0 is standard input
    int numOptions = 0;                  // argv[5], parsed
    cups_option_t* options = nullptr;
    ppdfile_s* ppd = nullptr;            // the queue's PPD ($PPD); null when unset
    cups_raster_t* raster = nullptr;
    DeviceEntry* device = nullptr;       // owned by the job
    int layout = 1;                      // images per sheet
    int remainHalf = 0;                  // 1: the job's first image goes alone
    // Asked, besides the SIGTERM flag, wherever the job checks for a
    // cancel: true when the job is cancelled. Null in the filter; the
    // printer application asks its job.
    bool (*isCanceled)(void* data) = nullptr;
    void* cancelData = nullptr;
    // Where the job's messages go; null: standard error, as CUPS reads them.
    MessageSink* messages = nullptr;
};

// Sends a printf-style message of the job to its sink.
void JobMessage(const FilterJob& job, MessageLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));

// True when the job is cancelled: SIGTERM, or the job's own isCanceled.
bool JobCanceled(const FilterJob& job);

// Opens the job: checks the argument count, opens the input file, parses the
// options, opens the PPD, installs the SIGTERM handler, waits for the job
// start file, opens the raster stream and makes the device with `makeDevice`,
// writing to `outputFd`. Returns 0 or 1; close the job in either case.
int OpenFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd, FilterJob* job);

// Sends the clock and records the job's settings in the device, resolution
// before media size; reads the layout. Returns 0, or 1 when the clock could
// not be sent.
int ApplyJobSettings(FilterJob* job);

// Prints the raster's pages, grouping page images into sheets, and the last
// incomplete sheet at the end of the stream. Stops without sending more when
// the job is cancelled. Returns 0, or 1 for a page that cannot be printed or
// a sheet that could not be sent.
int PrintJobPages(FilterJob* job);

// Prints one page: `pixels` (bottom-up 24-bit rows padded to 4 bytes, from
// malloc; taken over) of the size `header` gives, once per copy the header
// asks for, grouping page images into sheets; `pending` counts the images
// placed and not yet printed. Checks the page first (CheckPageHeader, a page
// size the printer has). Returns 0, or 1 after an ERROR: line.
int PrintPage(FilterJob* job, unsigned char* pixels, const cups_page_header2_t& header, int pageIndex,
              int* pending);

// Prints the last, incomplete sheet of `pending` images at the end of the
// job's `pageCount` pages. Returns 0, or 1 after an ERROR: line.
int FinishPages(FilterJob* job, int pending, int pageCount);

// Releases what the job holds, also after a failed or partial open.
void CloseFilterJob(FilterJob* job);

// FilterMain with the device object made by `makeDevice` (the job owns and
// deletes it) and packets written to `outputFd`: the phases above in turn.
int RunFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd);

// Prints the CUPS filter usage line for `program` on standard error;
// returns 1, the exit status that goes with it.
int PrintUsage(const char* program);
