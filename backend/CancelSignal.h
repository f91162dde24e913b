// SIGTERM, which CUPS sends to cancel a job, only sets a flag: the backend
// notices it between transfers and leaves the printer clean (a cut packet
// is cleared with a soft reset) and removes its files.
#pragma once

namespace vantora_backend {

// Installs the SIGTERM handler (without SA_RESTART, so a blocking read of
// the job data returns) and ignores SIGPIPE.
void InstallCancelHandler();

// True once SIGTERM arrived (or RequestCancel was called).
bool CancelRequested();

// For tests and for the print loop's own use.
void RequestCancel();
void ClearCancel();

}  // namespace vantora_backend
