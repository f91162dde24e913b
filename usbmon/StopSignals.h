// The daemon's orderly end: SIGTERM (systemd's stop), SIGINT and SIGHUP
// stop the main loop as RequestMonitorStop does, so that every worker writes
// its printer's offline status file before the process ends, and the window
// shows nobody's printer as ready.
#pragma once

namespace vantora_usbmon {

// Blocks the three signals in the calling thread, which must be the first
// (the threads it starts inherit the mask; programs the daemon runs get an
// empty one), and starts a thread that waits for them. False when that
// thread cannot be started.
bool StopOnSignals();

}  // namespace vantora_usbmon
