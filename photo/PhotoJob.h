// Photo jobs: the photo front end (PhotoRender) in front of the raster
// filter's job driver. The page the job's size and resolution call for is
// rendered in a caged decoder (PhotoCage) and handed to the driver as a
// 24-bit page, as a raster stream's page would be.
#pragma once

#include "FilterJob.h"
#include "PhotoRender.h"

#include <string>

namespace vantora_photo {

// How the job's options ask the photo to meet the page: "print-scaling"
// (fill, fit, auto, auto-fit, none), the older "fit-to-page", "fitplot" and
// "crop-to-fit", and "scaling", "natural-scaling" or "ppi", which print the
// whole photo. Fill when the job did not choose.
Scaling ScalingOf(int numOptions, cups_option_t* options);

// True when the job asks for grey: "print-color-mode" monochrome or
// process-monochrome, or "ColorModel" Gray, Grey or Black.
bool MonochromeOf(int numOptions, cups_option_t* options);

// The page request of a job whose device has its resolution and media
// size set: the printable page in raster dots (600 dpi pages twice as
// wide), the job's scaling and colour mode, and its cancel check. A page
// size the printer does not have gives a request without a size.
PageRequest PageRequestOf(const FilterJob& job);

// Prints a rendered page `copies` times through the job driver (PrintPage:
// it takes the pixels over), as page `pageIndex`; *pending counts images
// placed and not yet printed. Returns 0, or 1 after an ERROR: line.
int PrintRenderedPage(FilterJob* job, RenderedPage* page, int copies, int pageIndex, int* pending);

// vantora_rt50_photo: CUPS filter arguments, the photo in argv[6] or on
// standard input, the command stream on standard output. The photo is
// rendered while the job driver waits for the backend's job start file,
// then the driver prints it. Returns the exit status: 0 after
// a printed, cancelled or empty job, 1 after one "Usage:" or "ERROR:" line
// (an unreadable, damaged, oversized or unsupported photo among others).
int PhotoFilterMain(int argc, char* argv[]);

}  // namespace vantora_photo
