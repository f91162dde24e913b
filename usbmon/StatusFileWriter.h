// The status file of a printer, RT-50_<serial>.log in the exchange folder:
// the online form written while the printer is watched (or just
// identified), the offline form when it has left.
//
// Every write is vantora_exchange::WriteExchangeText's (StatusFileStore.h),
// the backend's as well: a new file renamed over the status file, never
// through a planted link, never into another user's file, never read half;
// relabelled for SELinux when enforcing.
#pragma once

#include "Records.h"

#include <libusb.h>

#include <cstddef>

namespace vantora_usbmon {

// Queries the printer (status up to five times, firmware, media), decides
// whether to read the total count (the record's request bits, watch period,
// pause and end of printing) and writes the online form for the record's
// serial. Runs inside the record's USB section.
void WriteFile(libusb_device_handle* handle, thdata* record);

// The class keeper's read of an unwatched printer: its status and loaded
// media only, posted to the board (PrinterBoard.h), no status file. Runs
// inside the record's USB section. WriteFile posts the same.
void ReadStatusAndMedia(libusb_device_handle* handle, thdata* record);

// Writes the offline form for `serial`. Does nothing for null or for a
// serial that cannot name a file.
void WriteFile(const char* serial);

// True when `path` names a regular file (a link is not one).
bool existFile(const char* path);

// Writes `text` as the file `path` in the way described above. False (and
// the old file untouched) when it could not be written; that is reported
// once per process.
bool WriteStatusText(const char* path, const char* text, size_t length);

}  // namespace vantora_usbmon
