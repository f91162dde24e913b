// Settings look-up (job options first, PPD defaults second), a small reader
// for the PPD's *Default lines, the printer firmware version used by the model
// tables, and readers for the small information files under /tmp.
#pragma once

#include "TextFields.h"  // the protocol's field helpers (_StoreLE2, _StoreLE4, ...) come with this header

#include <cstdio>

#include <cups/cups.h>

// Handle of the *Default reader: the PPD opened for reading (null when it
// could not be opened) and the last default choice found.
struct ppdfile_s {
    FILE* file;
    char value[256];
};

// The setting `name`: the job option, for "PageSize" then the job option
// "media", last the PPD's default choice. Null when none has it. A result that
// points into the PPD handle stays valid until the next look-up on it.
const char* _GetCupsValue(const char* name, int numOptions, cups_option_t* options, ppdfile_s* ppd);

// Opens the PPD at `path` for the *Default reader. Null for a null path; a
// handle without a file when the PPD cannot be opened; null when out of memory.
ppdfile_s* wrappedPpdOpenFile(const char* path);

// Closes the file and releases the handle; nothing for null.
void wrappedPpdClose(ppdfile_s* ppd);

// The first word after "*Default<keyword>: " on the first line that starts
// with that prefix, copied into the handle (cut to its buffer). Null when the
// handle has no file, the keyword is missing or too long, or no line matches.
const char* wrappedPpdFindDefChoice(ppdfile_s* ppd, const char* keyword);

// Stores the printer firmware version the model tables compare against
// (always 1.53). Returns 0, or 3 for a null output.
int _GetFirmwVersion(long unused, double* version);

// Copies the device URI of the queue `printer` into uri (size bytes, with
// its NUL). Returns 0, or -1 when the queue or its URI is missing or too long.
int _GetCupsDeviceURI(const char* printer, char* uri, unsigned long size);

// Reads the value of `key` from the daemon's status file of the queue's
// printer ("/tmp/<prefix>_<serial>.log", or "/tmp/<prefix>.log" without a
// serial number in the device URI). Returns the URI look-up's failure, else 0;
// out is written only when the value fits. A serial number that cannot name
// a file (see IsValidSerial) is not read.
int _GetValuePrinterInfoFile(const char* printer, const char* key, const char* prefix, char* out,
                             int outSize);

// Reads the value of `key` from the job start file "/tmp/Print_<name>.log".
// Always 0; out is written only when the key is found and the value fits.
int _GetValuePrInfoFile(const char* key, const char* name, char* out, int outSize);
