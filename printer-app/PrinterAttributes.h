// What an RT-50 printer offers to IPP clients: the driver data PAPPL takes
// (media, resolutions, raster types, colour modes, icons, the photo
// settings' names) and the attributes PAPPL does not send by itself (photo
// settings, supplies, rendering intents).
#pragma once

#include "PrinterReasons.h"

#include <pappl/pappl.h>

// The driver's own format in PAPPL's terms: the photo filters convert to
// it. application/octet-stream is the one PAPPL does not advertise, and a
// document of that format that PAPPL cannot type is refused.
inline constexpr char kRt50Format[] = "application/octet-stream";

// Fills everything of `data` but the callbacks.
void FillDriverData(pappl_pr_driver_data_t* data);

// The attributes PAPPL leaves out, with the supplies of `media`. The photo
// settings' defaults are those of `current` (the printer's attributes so
// far; null for a new printer): PAPPL keeps the defaults set on the web
// page or over IPP among these attributes. The caller frees the result.
ipp_t* DriverExtraAttributes(const MediaState& media, ipp_t* current);

// Makes the printer's driver attributes again with the supplies of the
// loaded media, keeping the photo settings' defaults.
void RefreshPrinterAttributes(pappl_printer_t* printer, const MediaState& media);
