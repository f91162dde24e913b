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
//
// A job being printed is kept as well, not aborted: its thread never
// returns to PAPPL (which would finish the job and drop its document), so
// the state saves it as processing with its document, and the next start
// queues it again (RequeueInterruptedJobs). Its record of printed sheets
// makes it print only the sheets still missing.
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

// Before the state is loaded: the jobs the last run left processing (it
// stopped, or ended abruptly, while they printed) are made pending again,
// so that they print. PAPPL would restore them as processing, with no
// thread to print them. False when the state file could not be rewritten.
bool RequeueInterruptedJobs(const std::string& stateFile);

