// How the application server ends on SIGTERM or SIGINT (systemd's stop,
// Ctrl-C): promptly, in every state, without losing queued jobs.
//
// PAPPL ends its loop only once no job is queued (or after a minute) and
// then deletes the system while job threads and the hot-plug thread may
// still use it. So the signals are taken by a thread of the application's
// own: it stops new jobs from starting, ends the sheets being sent or
// waited for (the printer is left clean; a sheet it holds whole still
// prints), saves the state (queued jobs print after the next start),
// releases the printers and ends the process.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Blocks SIGTERM and SIGINT in the calling thread, and so in every thread
// it starts later: call before any other thread exists.
void BlockStopSignals();

// Starts the thread that waits for the signals and stops `system`, saving
// its state to `stateFile`. False when the thread could not be started
// (the signals are then unblocked again).
bool StartStopWatcher(pappl_system_t* system, const std::string& stateFile);

// Ends the waiting thread when the system ended otherwise (Shutdown-System).
void EndStopWatcher();
