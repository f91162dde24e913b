// Photos printed without a scaling choice fill the printable page: the
// photo filter runs imagetoraster with print-scaling=fill and hands its
// raster to the job driver.
#pragma once

#include <string>

// The option text for imagetoraster: `options` with " print-scaling=fill"
// added unless the job already chose how to scale or place the image.
std::string FillPageOptions(const char* options);

// Runs one photo job with CUPS filter arguments: imagetoraster (from
// $CUPS_SERVERBIN/filter, else CUPS's own filter folder) into the job
// driver. Returns the exit status: the job driver's, or 1 when
// imagetoraster could not be run or failed.
int PhotoFilterMain(int argc, char* argv[]);
