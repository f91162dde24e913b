// Queues stopped so that a class's jobs go to a sister printer.
//
// A queue that is a member of a CUPS class is stopped when its printer
// cannot print (unplugged, ribbon or paper end, wrong media, door open or
// jammed for a while): by the backend, which then hands its class job back
// to the scheduler, or by the USB monitor daemon, which sees it first. Each
// such stop leaves a mark, one file per printer named by its serial number,
// in a root-only folder of the package; the daemon starts the queue again
// once the printer can print, and only a queue that carries a mark: a queue
// stopped by a person stays stopped.
//
// The folder is root's (mode 0700): a mark makes root start a queue, so no
// other user may write one. A folder that is not root's (or this user's)
// with no access for others keeps no marks.
#pragma once

#include <string>
#include <vector>

namespace vantora_exchange {

// Where the marks live; the environment variable may name another absolute
// folder (tests do, through the scheduler's SetEnv).
inline constexpr char kFailoverFolder[] = "/var/lib/vantora-rt50/failover";
inline constexpr char kFailoverFolderVariable[] = "VANTORA_RT50_FAILOVER";

// kFailoverFolder, or the absolute folder the environment variable names.
std::string FailoverFolder();

// One stopped queue.
struct FailoverMark {
    std::string serial;   // the printer, as in the queue's device URI
    std::string queue;    // the CUPS queue that was stopped
    std::string reason;   // why, as shown to people (one line)
};

// Writes the mark of `mark.serial` whole (made in a temporary file and
// renamed into place), making the folder (0700) when missing. False when
// the serial is not IsValidSerial, the queue name is empty or longer than
// 127 bytes, or the folder is unusable or the file could not be written.
bool WriteFailoverMark(const std::string& folder, const FailoverMark& mark);

// The marks in the folder; files that are not marks of a valid serial, or
// are broken or larger than 4 KiB, are skipped. Empty when the folder is
// missing or unusable.
std::vector<FailoverMark> ReadFailoverMarks(const std::string& folder);

// Removes the mark of `serial`; true when it is gone (or never was).
bool RemoveFailoverMark(const std::string& folder, const std::string& serial);

}  // namespace vantora_exchange
