// The filter's job driver: arguments, options and PPD, the job start file
// wait, cancellation, the raster page loop and the grouping of page images
// into printed sheets.
#pragma once

#include <csignal>

#include <cups/cups.h>
#include <cups/raster.h>

// Set by the SIGTERM handler; the page loop stops at the next check.
extern volatile sig_atomic_t Canceled;

// SIGTERM handler: sets Canceled.
void CancelJob(int);

// Waits for the queue backend's job start file "/tmp/Print_<jobId>.log":
// up to 120 one-second polls, then one more second once it exists. Always 0.
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

// Runs one filter job with CUPS filter arguments; standard output gets the
// command stream. Returns the exit status: 0 normal, cancelled or empty job;
// 1 for a wrong argument count, an unreadable input file, or a page that
// cannot be printed (reported by one "ERROR:" line on standard error).
int FilterMain(int argc, char* argv[]);

class DeviceEntry;

// FilterMain with the device object made by `makeDevice` (the job driver
// owns and deletes it) and packets written to `outputFd`.
int RunFilterJob(int argc, char* argv[], DeviceEntry* (*makeDevice)(), int outputFd);
