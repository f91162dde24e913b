// The order in which a printer's jobs print: the order they were received,
// except that a job whose page the loaded media cannot print lets the later
// jobs the media can print go first, and prints once its media is loaded.
//
// PAPPL 1.3.1 keeps a printer's active jobs newest first and starts the
// first pending one, so jobs queued while the printer is busy would print
// newest first. Instead each new job is held as it is made, before its
// document is in (the job-hold-until-specified reason keeps PAPPL from
// making it pending, and job-queued marks it as the queue's), and the
// registry's thread releases one such job at a time (KeepJobOrder), so that
// PAPPL has one pending job to choose from. A job that became pending
// before it was held is queued again while a job before it waits; only on
// an idle printer can such a job start at once (PAPPL 1.3.1 gives no way
// to hold a job before its document is submitted without losing the
// job-state-reasons of its answer). The mark is part of the saved state,
// so the order outlasts a restart.
#pragma once

#include <pappl/pappl.h>

#include <vector>

class AttachedPrinter;

// A printer's job as the queue sees it.
struct QueueJob {
    enum class State {
        kArriving,    // held by the queue, its document not yet received
        kQueued,      // held by the queue, ready to print
        kPending,     // PAPPL starts it when the printer is free
        kProcessing,  // printing (or stopped while printing)
    };
    int id = 0;
    State state = State::kQueued;
    int multicut = 0;  // the MULTICUT of its sheets; 0 when not known (queued and pending jobs)
};

// What the queue does with a printer's jobs now.
struct QueuePlan {
    int release = 0;              // the queued job to release; 0: none
    std::vector<int> holdBack;    // pending jobs to queue again
    std::vector<int> needMedia;   // queued jobs the loaded media cannot print
};

// The plan for `jobs` with `mediaCode` loaded (150, 161; -1 unknown: every
// job counts as printable, it waits for the printer as it prints). A
// pending job waits again (holdBack) when the media cannot print it or an
// older job goes before it (pending, or queued and printable). Once no job
// is pending the oldest queued job the media prints is released (a job
// being printed does not stop it: PAPPL starts the released one as soon as
// the printer is free); a job the media cannot print waits for its media.
QueuePlan PlanQueue(const std::vector<QueueJob>& jobs, int mediaCode);

// Gives the job a Print-Job or Create-Job request makes (called with the
// request before PAPPL takes it) a job-media-sheets-completed of 0, which
// its sheets count up. Other requests are left alone.
void PrepareJobRequest(ipp_t* request);

// PAPPL's event callback: hands each job made while the queue runs to the
// queue's thread, which holds it. Takes no PAPPL lock (PAPPL holds the
// job's and printer's).
void NoteQueueEvent(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
                    void* data);

// Starts holding new jobs (once the system runs: the jobs of the saved
// state are left as they are) and ends it.
void StartJobQueue();
void StopJobQueue();

// One round of the queue for `printer`, shown by `attached`: queues again the
// pending jobs that must wait, releases the next job the loaded media
// prints, and shows which jobs wait for media (their message, the
// printer's media-needed reason). Must not run under a PAPPL lock.
void KeepJobOrder(pappl_printer_t* printer, AttachedPrinter& attached);

// Queues all but the oldest of the printer's pending jobs (the jobs a
// restart brings back may hold several), so that the oldest one is the
// one PAPPL starts.
void QueueLaterPendingJobs(pappl_printer_t* printer);

// Sets a job's job-media-sheets-completed (made by PrepareJobRequest) to
// `sheets`; nothing for a job without it.
void ShowMediaSheetsCompleted(pappl_job_t* job, int sheets);
