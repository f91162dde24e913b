// The names the package's programs share and the files they exchange in
// /tmp: the status file the USB monitor daemon writes and the window reads,
// the window's watch and refresh files, the backend's pause and job start
// files, the device URI of a queue and the queue names the daemon gives.
//
// Serial numbers come from the printer and from device URIs, so they are
// untrusted: every builder here refuses a serial that IsValidSerial refuses
// and a name that does not fit its buffer, instead of cutting it. Every
// program names the same files or none.
//
// Results: a builder returning bool tells whether it built the name; when
// it did not, the output buffer holds an empty string (if it has any room).
#pragma once

#include "PrinterStatusCodes.h"

#include <cstddef>

namespace vantora_exchange {

// Folder of the exchange files. Builders take the folder as a parameter so
// that tests can use a private one.
inline constexpr char kExchangeDir[] = "/tmp";

// Buffer sizes, terminator included: every path, and the pause file name.
// A longer name is refused even when the caller's buffer is larger.
enum {
    kPathSize = 128,
    kPauseNameSize = 256,
    kSerialMax = 63,  // characters of a serial number
};

// The files of a printer, by serial number <S>.
enum ExchangeFile {
    kNoExchangeFile = 0,
    kStatusFile,   // RT-50_<S>.log: written whole by the daemon, read by the window
    kWatchFile,    // RT-50_<S>_UTIL: the window watches the printer
    kRefreshFile,  // RT-50_<S>_TC_UTIL: the window asks for a fresh total count
    kPauseFile,    // Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=<S>: the backend prints
};

// True when `serial` may name files: 1 to 63 characters from A-Z a-z 0-9
// '.' '_' '-', and neither "." nor "..". False for null.
bool IsValidSerial(const char* serial);

// The name of a printer's file, without folder (the daemon compares
// directory entries with it). False for kNoExchangeFile, an invalid serial,
// a null or too small buffer (at most kPathSize bytes are used, kPauseNameSize
// for the pause file).
bool ExchangeFileName(ExchangeFile file, const char* serial, char* out, size_t outSize);

// The full path "<dir>/<name>" of a printer's file, at most kPathSize bytes
// with its NUL. False as for ExchangeFileName, and for a null folder.
bool ExchangeFilePath(ExchangeFile file, const char* dir, const char* serial, char* out, size_t outSize);

// The names are exact: a file counts for a printer only under the very name
// built for its serial. Note that RT-50_<S>_TC_UTIL, the refresh file of S,
// is also the watch file of the printer S_TC; the daemon tells them apart.

// True when a directory entry is named as one of the backend's marker files:
// the pause file of a valid serial, or the job start file of a valid job id.
// (The daemon clears those that a killed backend left behind.)
bool IsBackendMarkerName(const char* entryName);

// The backend's job start file "<dir>/Print_<jobId>.log". The job id must
// pass IsValidSerial's character rules as well. False as for the builders
// above.
bool JobStartFilePath(const char* dir, const char* jobId, char* out, size_t outSize);

// Device URI of the printer's queues: this prefix and the serial number.
inline constexpr char kDeviceUriPrefix[] = "vantora-zpxbackend://VANTORA/RT-50?serial=";

// True when `uri` is a queue URI of this model (contains the prefix).
bool IsModelDeviceUri(const char* uri);

// The serial number in a device URI: exactly the text after the first
// "serial=", pointing into `uri`. Null when there is no "serial=" or nothing
// follows it. The text is not checked; see IsValidSerial.
const char* SerialInDeviceUri(const char* uri);

// kDeviceUriPrefix followed by a valid serial. False as for the builders.
bool DeviceUriForSerial(const char* serial, char* out, size_t outSize);

// Queue names and descriptions: the first printer's queue, then numbered
// ones "VANTORA-RT-50-<n>" / "VANTORA RT-50 <n>" for n of 2 or more.
inline constexpr char kQueueName[] = "VANTORA-RT-50";
inline constexpr char kQueueDescription[] = "VANTORA RT-50";

// Name and description of queue `number`: 0 and 1 give the first queue's,
// 2 and more the numbered ones. False for a negative number or a buffer too
// small.
bool QueueName(int number, char* out, size_t outSize);
bool QueueDescription(int number, char* out, size_t outSize);

// The queue number of a queue name: when the name contains "VANTORA-RT-50-",
// the base-10 number read (as strtol does) from the name's 15th character on,
// skipping as many characters as that prefix has. 0 for a name without it,
// for null, when the rest is longer than 63 characters, or when the number
// does not fit an int.
int getRNumber(const char* name);

// The status file: 16 lines in three sections. These are the value keys in
// file order, as the window looks for them (MODEL, the first value line, is
// not shown by the window).
inline constexpr int kStatusKeyCount = 9;
extern const char* const kStatusKeys[kStatusKeyCount];
inline constexpr int kStatusFileLines = 16;

// The texts of kOfflineStatus and kOfflineMessage (PrinterStatusCodes.h) as
// the file carries them.
inline constexpr char kOfflineStatusText[] = "99999";
inline constexpr char kOfflineMessageText[] = "00006";

// The values of one status file, as the printer answered its queries.
// Strings are NUL-terminated; an empty one is written as an empty value.
struct StatusFileValues {
    char model[128];         // from the device ID
    long status;             // printer status code; kOfflineStatus: no answer
    char firmware[64];       // FVER answer, whole; empty when the query failed
    char serial[64];         // the printer's serial number (empty value when offline)
    char media[64];          // MEDIA answer; its first 2 characters are dropped
    char mediaClass[64];     // MEDIA_CLASS_RFID answer, whole
    char mediaInitial[64];   // MQTY_DEFAULT answer; its first 4 characters are dropped
    char mediaRemain[64];    // MQTY answer; its first 4 characters are dropped
    int totalCount;          // negative: no count read yet (empty value)
};

// The values of the offline form: status 99999, everything else empty.
StatusFileValues OfflineStatusValues();

// Enough for any status file text, terminator included.
enum { kStatusTextSize = 1024 };

// Renders the status file byte for byte into `out`: the online form from
// the values, or the offline form from OfflineStatusValues(). The message
// code is GetMessage(status); the serial is left empty for status 99999. A
// control character or double quote in a value (they would break the
// file's lines) is written as '?'. Returns the text's length without its
// NUL, or -1 for a null or too small buffer.
int FormatStatusFile(const StatusFileValues& values, char* out, size_t outSize);

}  // namespace vantora_exchange
