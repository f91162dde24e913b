// A worker's USB section: opening, claiming and questioning its printer
// while it holds usb_openclose_mutex, one printer at a time. A printer that
// fails, or takes longer than a cycle, lets the others go first between two
// of its exchanges, so that a silent printer delays the other printers'
// status files by at most about one transfer time-out.
#pragma once

#include "Records.h"

namespace vantora_usbmon {

// Takes and gives up the section for the record's worker.
void EnterSection(thdata* record);
void LeaveSection(thdata* record);

// Called inside the section after each query of the printer (`ok`: it was
// answered). A halted endpoint (the query failed with LIBUSB_ERROR_PIPE) is
// cleared on both bulk endpoints, as the other programs do. When the query
// failed, or the section has lasted a cycle, and other workers wait for the
// section, they go first; the handle stays open and claimed meanwhile.
// True when the section should end now: the printer has left, the daemon
// stops, or the query failed while a backend waits for the printer (a
// printer that a killed backend left inside a packet answers nothing until
// the backend resets it; the daemon's time-outs would keep it from it).
bool AfterExchange(thdata* record, bool ok);

// After a failed query that is tried again after a pause: a halted endpoint
// is cleared as above, the section given up for one cycle and then taken
// again. True when the printer has left or the daemon stops meanwhile.
bool PauseOutsideSection(thdata* record);

}  // namespace vantora_usbmon
