// The application's stop as every part of it reads it: once asked for (by
// the stop watcher, StopWatcher.h, or PAPPL ending the system), every sheet
// being printed or waited for ends and none starts any more. A process-wide
// fact, below everything that prints.
#pragma once

// The application stops: every sheet being printed or waited for ends at
// once (AttachedPrinter::PrintSheet returns), and none starts any more.
void StopAllSheets();
// Whether StopAllSheets or StopKeepingJobs was called.
bool AppStopping();

// The same, but the jobs are kept for the next start: a sheet the stop
// ends leaves the printer clean and its job's record current, and its
// job waits there (never finished, so never aborted) until the process
// ends. KeptJobs counts the jobs waiting so.
void StopKeepingJobs();
bool KeepingJobs();
// A job's thread waits so from now on.
void CountKeptJob();
int KeptJobs();
