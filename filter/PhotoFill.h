// Photos printed without a scaling choice fill the printable page: the
// photo filter runs imagetoraster with print-scaling=fill and hands its
// raster to the job driver.
#pragma once

#include <string>
#include <sys/types.h>

// The option text for imagetoraster: `options` with " print-scaling=fill"
// added unless the job already chose how to scale or place the image.
std::string FillPageOptions(const char* options);

// Arguments of one imagetoraster run, as CUPS gives them to a filter.
struct ImageToRasterArgs {
    const char* jobId;
    const char* user;
    const char* title;
    const char* copies;
    const char* options;   // the job's options; FillPageOptions is applied
    const char* file;      // the photo; null: standard input
    const char* ppd;       // PPD for imagetoraster; null: $PPD as it is
};

// Starts imagetoraster (from $CUPS_SERVERBIN/filter, else CUPS's own
// filter folder) on a photo, its raster going into a pipe. Returns the
// child's process id with the pipe's read end in *rasterFd (close-on-exec),
// or -1 after an ERROR: line when it could not be started.
pid_t StartImageToRaster(const ImageToRasterArgs& args, int* rasterFd);

// Waits for a child started by StartImageToRaster. True when it exited
// with status 0.
bool WaitImageToRaster(pid_t child);

// Runs one photo job with CUPS filter arguments: imagetoraster (from
// $CUPS_SERVERBIN/filter, else CUPS's own filter folder) into the job
// driver. Returns the exit status: the job driver's, or 1 when
// imagetoraster could not be run or failed.
int PhotoFilterMain(int argc, char* argv[]);
