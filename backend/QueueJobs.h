// Asking the scheduler whether another job waits on the queue this job
// prints for: a job that has handed its sheets to the printer then ends at
// once, so that the next job's filters run while the printer prints. And
// whether a class job has a sister queue to go to.
#pragma once

namespace vantora_backend {

// IPP Get-Jobs (not-completed) for the queue `printer` at the scheduler
// CUPS names to its backends (CUPS_SERVER, its local socket): 1 when a job
// other than `jobId` is pending or processing there, 0 when none, -1 when
// the scheduler could not be asked (no answer within a few seconds, an
// error status, or a queue name that is not one).
int OtherJobsWaiting(const char* printer, int jobId);

// Whether the class `jobClass` has a member other than `printer` that is
// enabled (idle or printing) and accepting jobs: 1 yes, 0 no, -1 when the
// scheduler could not be asked (as above).
int SisterQueueReady(const char* jobClass, const char* printer);

}  // namespace vantora_backend
