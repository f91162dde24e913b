// Each printer's own count of the sheets it printed, per page size: one
// file per printer, named by its serial number, in a root-only folder of
// the package. A class job's page_log line names the class, not the
// printer that printed it; this count does. Programs add a sheet when it
// is known printed (or left to the printer that took it), once.
//
// A file holds "total=N" and one "<page size>=N" line per size printed,
// e.g. "102x153mm=12", sizes sorted; it is written whole and renamed into
// place under a lock, so that readers never see half a file.
#pragma once

#include <map>
#include <string>

namespace vantora_delivery {

// Where the counts live; the environment variable may name another
// absolute folder (tests do, through the scheduler's SetEnv).
inline constexpr char kPrinterCountsFolder[] = "/var/lib/vantora-rt50/counts";
inline constexpr char kPrinterCountsVariable[] = "VANTORA_RT50_COUNTS";

// kPrinterCountsFolder, or the absolute folder the environment variable names.
std::string PrinterCountsFolder();

// One printer's counts: sheets per page size, and their sum.
struct PrinterCount {
    long total = 0;
    std::map<std::string, long> sizes;
};

// Adds `sheets` sheets of `size` (a page size name such as "102x153mm") to
// the printer `serial`, making the folder (mode 0700) when missing. False
// when the serial is not IsValidSerial, the size is not a page size name
// (1 to 31 characters of 0-9, a-z, '.', '?'), the folder is not this
// user's alone, or the file could not be written.
bool AddPrintedSheets(const std::string& folder, const std::string& serial, const std::string& size, long sheets = 1);

// Reads the counts of `serial`; false when there are none, or the file is
// broken or larger than 4 KiB.
bool ReadPrinterCount(const std::string& folder, const std::string& serial, PrinterCount* count);

}  // namespace vantora_delivery
