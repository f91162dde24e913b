#include "JobQueue.h"

#include "AttachedPrinter.h"
#include "JobSettings.h"
#include "MediaSets.h"
#include "MediaSizes.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace {

constexpr char kSheetsCompleted[] = "job-media-sheets-completed";

struct QueueBook {
    std::mutex mutex;
    std::condition_variable arrived;
    std::atomic<bool> running{false};
    bool stop = false;
    std::thread thread;
    // Jobs just made, to be held by the queue's thread.
    std::vector<pappl_job_t*> created;
    // The MULTICUT of each queued job's sheets, by printer and job id.
    std::map<std::pair<pappl_printer_t*, int>, int> multicuts;
    // Queued jobs whose message says they wait for media.
    std::set<std::pair<pappl_printer_t*, int>> waitingForMedia;
};

QueueBook& Book()
{
    static QueueBook book;
    return book;
}

bool Printable(int mediaCode, int multicut)
{
    return mediaCode < 0 || multicut == 0 || MediaPrintsSheet(mediaCode, multicut);
}

struct SeenJob {
    pappl_job_t* job;
    int id;
    ipp_jstate_t state;
    pappl_jreason_t reasons;
    bool received;
};

void CollectJob(pappl_job_t* job, void* data)
{
    SeenJob seen{job, papplJobGetID(job), papplJobGetState(job), papplJobGetReasons(job),
                 papplJobGetFilename(job) != nullptr};
    static_cast<std::vector<SeenJob>*>(data)->push_back(seen);
}

std::vector<SeenJob> ActiveJobs(pappl_printer_t* printer)
{
    std::vector<SeenJob> jobs;
    papplPrinterIterateActiveJobs(printer, CollectJob, &jobs, 1, 0);
    return jobs;
}

// The MULTICUT of the sheets a job prints, from the media PAPPL gives it.
int JobMulticut(pappl_job_t* job)
{
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
    if (options == nullptr)
        return 0;
    const int multicut = MulticutOfPageSize(kMediaSizes[JobMediaIndex(options->media)].pageSize);
    papplJobDeletePrintOptions(options);
    return multicut;
}

// The queue's mark on a job it holds: the hold PAPPL's submission keeps
// (job-hold-until-specified) and job-queued, which clients see.
constexpr pappl_jreason_t kQueuedReasons =
    static_cast<pappl_jreason_t>(PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED | PAPPL_JREASON_JOB_QUEUED);

// Holds a pending job again for the queue.
void Requeue(pappl_job_t* job)
{
    if (papplJobHold(job, nullptr, nullptr, 0))
        papplJobSetReasons(job, kQueuedReasons, PAPPL_JREASON_NONE);
}

bool IsRasterStream(const char* format)
{
    return format != nullptr && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

// Holds a job just made, before its document is in: PAPPL leaves a job
// with job-hold-until-specified held when the document comes. A job its
// client held already, or a raster stream (PAPPL prints those at once or
// refuses them as busy), is left alone; a job that became pending first is
// queued again by KeepJobOrder when it must wait.
void HoldNewJob(pappl_job_t* job)
{
    if (papplJobGetState(job) != IPP_JSTATE_HELD || (papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) ||
        IsRasterStream(papplJobGetFormat(job)))
        return;
    papplJobSetReasons(job, kQueuedReasons, PAPPL_JREASON_NONE);
}

void RunQueueThread()
{
    QueueBook& book = Book();
    std::unique_lock<std::mutex> lock(book.mutex);
    while (!book.stop) {
        book.arrived.wait(lock, [&] { return book.stop || !book.created.empty(); });
        std::vector<pappl_job_t*> jobs;
        jobs.swap(book.created);
        lock.unlock();
        for (pappl_job_t* job : jobs)
            HoldNewJob(job);
        lock.lock();
    }
}

}  // namespace

QueuePlan PlanQueue(const std::vector<QueueJob>& jobs, int mediaCode)
{
    QueuePlan plan;
    std::vector<QueueJob> sorted = jobs;
    std::sort(sorted.begin(), sorted.end(), [](const QueueJob& a, const QueueJob& b) { return a.id < b.id; });
    bool pending = false;      // a pending job stays
    bool printable = false;    // an older queued job the media prints waits
    for (const QueueJob& job : sorted) {
        if (job.state == QueueJob::State::kQueued && Printable(mediaCode, job.multicut))
            printable = true;
        if (job.state != QueueJob::State::kPending)
            continue;
        if (pending || printable || !Printable(mediaCode, job.multicut))
            plan.holdBack.push_back(job.id);
        else
            pending = true;
    }
    for (const QueueJob& job : sorted) {
        const bool heldBack = std::find(plan.holdBack.begin(), plan.holdBack.end(), job.id) != plan.holdBack.end();
        if (job.state != QueueJob::State::kQueued && !heldBack)
            continue;
        if (!Printable(mediaCode, job.multicut))
            plan.needMedia.push_back(job.id);
        else if (!pending && plan.release == 0)
            plan.release = job.id;
    }
    return plan;
}

void PrepareJobRequest(ipp_t* request)
{
    if (request == nullptr)
        return;
    const ipp_op_t operation = ippGetOperation(request);
    if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_CREATE_JOB)
        return;
    // The count starts at 0 whatever the client sent.
    ipp_attribute_t* sheets;
    while ((sheets = ippFindAttribute(request, kSheetsCompleted, IPP_TAG_ZERO)) != nullptr)
        ippDeleteAttribute(request, sheets);
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, kSheetsCompleted, 0);
}

void NoteQueueEvent(pappl_system_t*, pappl_printer_t*, pappl_job_t* job, pappl_event_t event, void*)
{
    QueueBook& book = Book();
    if (!(event & PAPPL_EVENT_JOB_CREATED) || job == nullptr || !book.running)
        return;
    {
        std::lock_guard<std::mutex> lock(book.mutex);
        book.created.push_back(job);
    }
    book.arrived.notify_one();
}

void StartJobQueue()
{
    QueueBook& book = Book();
    std::lock_guard<std::mutex> lock(book.mutex);
    if (book.running)
        return;
    book.stop = false;
    book.thread = std::thread(RunQueueThread);
    book.running = true;
}

void StopJobQueue()
{
    QueueBook& book = Book();
    {
        std::lock_guard<std::mutex> lock(book.mutex);
        if (!book.running)
            return;
        book.running = false;
        book.stop = true;
    }
    book.arrived.notify_one();
    book.thread.join();
}

void QueueLaterPendingJobs(pappl_printer_t* printer)
{
    std::vector<QueueJob> jobs;
    std::map<int, pappl_job_t*> byId;
    for (const SeenJob& seen : ActiveJobs(printer)) {
        if (seen.state != IPP_JSTATE_PENDING)
            continue;
        jobs.push_back(QueueJob{seen.id, QueueJob::State::kPending, 0});
        byId[seen.id] = seen.job;
    }
    for (int id : PlanQueue(jobs, -1).holdBack)
        Requeue(byId[id]);
}

void KeepJobOrder(pappl_printer_t* printer, AttachedPrinter& attached)
{
    QueueBook& book = Book();
    std::vector<SeenJob> seen = ActiveJobs(printer);
    std::vector<QueueJob> jobs;
    std::map<int, pappl_job_t*> byId;
    std::set<int> active;
    for (const SeenJob& job : seen) {
        QueueJob entry{job.id, QueueJob::State::kProcessing, 0};
        if (job.state == IPP_JSTATE_HELD) {
            if (!(job.reasons & PAPPL_JREASON_JOB_QUEUED))
                continue;   // held by its owner or an administrator
            entry.state = job.received ? QueueJob::State::kQueued : QueueJob::State::kArriving;
        } else if (job.state == IPP_JSTATE_PENDING) {
            entry.state = QueueJob::State::kPending;
        }
        // Released by a user's Release-Job, or made pending before it was
        // held: not the queue's any more.
        if (job.state != IPP_JSTATE_HELD && (job.reasons & PAPPL_JREASON_JOB_QUEUED))
            papplJobSetReasons(job.job, PAPPL_JREASON_NONE, kQueuedReasons);
        if (entry.state == QueueJob::State::kQueued || entry.state == QueueJob::State::kPending) {
            int multicut = -1;
            {
                std::lock_guard<std::mutex> lock(book.mutex);
                const auto found = book.multicuts.find({printer, job.id});
                if (found != book.multicuts.end())
                    multicut = found->second;
            }
            if (multicut < 0) {
                multicut = JobMulticut(job.job);
                std::lock_guard<std::mutex> lock(book.mutex);
                book.multicuts[{printer, job.id}] = multicut;
            }
            entry.multicut = multicut;
        }
        jobs.push_back(entry);
        byId[job.id] = job.job;
        active.insert(job.id);
    }

    const int mediaCode = attached.Facts().media.mediaCode;
    const QueuePlan plan = PlanQueue(jobs, mediaCode);
    for (int id : plan.holdBack)
        Requeue(byId[id]);

    std::vector<int> newlyWaiting;
    bool mediaWasNeeded = false;
    {
        std::lock_guard<std::mutex> lock(book.mutex);
        for (auto it = book.waitingForMedia.begin(); it != book.waitingForMedia.end();) {
            if (it->first == printer && (active.count(it->second) == 0 ||
                                         std::find(plan.needMedia.begin(), plan.needMedia.end(), it->second) ==
                                             plan.needMedia.end())) {
                mediaWasNeeded = mediaWasNeeded || it->second == plan.release;
                it = book.waitingForMedia.erase(it);
            } else {
                ++it;
            }
        }
        for (int id : plan.needMedia) {
            if (book.waitingForMedia.insert({printer, id}).second)
                newlyWaiting.push_back(id);
        }
        // Jobs that left the printer's active jobs take their entries along.
        for (auto it = book.multicuts.begin(); it != book.multicuts.end();) {
            if (it->first.first == printer && active.count(it->first.second) == 0)
                it = book.multicuts.erase(it);
            else
                ++it;
        }
    }
    for (int id : newlyWaiting) {
        int sheet = 0;
        for (const QueueJob& job : jobs) {
            if (job.id == id)
                sheet = job.multicut;
        }
        papplJobSetMessage(byId[id], "Media needed: the %s page needs %s (loaded: %d).", PageSizeOfMulticut(sheet),
                           MediaNeededFor(sheet), mediaCode);
        papplLogJob(byId[id], PAPPL_LOGLEVEL_INFO, "Waiting for %s; later jobs the loaded media prints go first.",
                    MediaNeededFor(sheet));
    }
    attached.SetQueueNeedsMedia(!plan.needMedia.empty());

    if (plan.release != 0) {
        pappl_job_t* job = byId[plan.release];
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_JOB_QUEUED);
        if (mediaWasNeeded)
            papplJobSetMessage(job, "Media loaded.");
        papplJobRelease(job, nullptr);
    }
}

void ShowMediaSheetsCompleted(pappl_job_t* job, int sheets)
{
    if (job == nullptr)
        return;
    ipp_attribute_t* attr = papplJobGetAttribute(job, kSheetsCompleted);
    if (attr == nullptr || ippGetValueTag(attr) != IPP_TAG_INTEGER || ippGetCount(attr) != 1)
        return;
    // PAPPL 1.3.1 has no setter for a job's attributes: the value is
    // changed in place. libcups touches the message only to grow an
    // attribute, never for its one existing value, so any message serves.
    ipp_t* unused = ippNew();
    ippSetInteger(unused, &attr, 0, sheets);
    ippDelete(unused);
}
