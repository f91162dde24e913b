#include "JobQueue.h"

#include "AttachedPrinter.h"
#include "JobSettings.h"
#include "MediaSizes.h"
#include "SheetStream.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace {

// The job the calling client thread's request will make is one the
// request hook held for the queue.
thread_local bool t_queueNextJob = false;

constexpr char kSheetsCompleted[] = "job-media-sheets-completed";

struct QueueBook {
    std::mutex mutex;
    // Jobs the request hook held, not yet marked job-queued.
    std::vector<std::pair<pappl_printer_t*, int>> created;
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

// Holds a pending job again for the queue.
void Requeue(pappl_job_t* job)
{
    if (papplJobHold(job, nullptr, "indefinite", 0))
        papplJobSetReasons(job, PAPPL_JREASON_JOB_QUEUED, PAPPL_JREASON_NONE);
}

}  // namespace

QueuePlan PlanQueue(const std::vector<QueueJob>& jobs, int mediaCode)
{
    QueuePlan plan;
    std::vector<QueueJob> sorted = jobs;
    std::sort(sorted.begin(), sorted.end(), [](const QueueJob& a, const QueueJob& b) { return a.id < b.id; });
    bool pending = false;
    for (const QueueJob& job : sorted) {
        if (job.state != QueueJob::State::kPending)
            continue;
        if (pending)
            plan.holdBack.push_back(job.id);
        pending = true;
    }
    for (const QueueJob& job : sorted) {
        if (job.state != QueueJob::State::kQueued)
            continue;
        if (!Printable(mediaCode, job.multicut))
            plan.needMedia.push_back(job.id);
        else if (!pending && plan.release == 0)
            plan.release = job.id;
    }
    return plan;
}

void QueueJobRequest(ipp_t* request)
{
    t_queueNextJob = false;
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

    if (ippFindAttribute(request, "job-hold-until-time", IPP_TAG_ZERO) != nullptr)
        return;
    ipp_attribute_t* hold = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
    const char* holdValue = hold != nullptr ? ippGetString(hold, 0, nullptr) : nullptr;
    if (hold != nullptr && (holdValue == nullptr || std::strcmp(holdValue, "no-hold") != 0))
        return;   // the client's own hold
    ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
    const char* formatValue = format != nullptr ? ippGetString(format, 0, nullptr) : nullptr;
    if (operation == IPP_OP_PRINT_JOB && formatValue != nullptr &&
        (std::strcmp(formatValue, "image/pwg-raster") == 0 || std::strcmp(formatValue, "image/urf") == 0))
        return;
    if (hold != nullptr)
        ippDeleteAttribute(request, hold);
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
    t_queueNextJob = true;
}

void NoteQueueEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event, void*)
{
    if (!(event & PAPPL_EVENT_JOB_CREATED) || job == nullptr || printer == nullptr || !t_queueNextJob)
        return;
    t_queueNextJob = false;
    QueueBook& book = Book();
    std::lock_guard<std::mutex> lock(book.mutex);
    book.created.emplace_back(printer, papplJobGetID(job));
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

void KeepJobOrder(pappl_printer_t* printer, AttachedPrinter& link)
{
    QueueBook& book = Book();
    std::vector<int> created;
    {
        std::lock_guard<std::mutex> lock(book.mutex);
        for (auto it = book.created.begin(); it != book.created.end();) {
            if (it->first == printer) {
                created.push_back(it->second);
                it = book.created.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (int id : created) {
        pappl_job_t* job = papplPrinterFindJob(printer, id);
        if (job != nullptr && papplJobGetState(job) == IPP_JSTATE_HELD)
            papplJobSetReasons(job, PAPPL_JREASON_JOB_QUEUED, PAPPL_JREASON_NONE);
    }

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
        // Released by a user's Release-Job instead: no longer queued.
        if (job.state != IPP_JSTATE_HELD && (job.reasons & PAPPL_JREASON_JOB_QUEUED))
            papplJobSetReasons(job.job, PAPPL_JREASON_NONE, PAPPL_JREASON_JOB_QUEUED);
        if (entry.state == QueueJob::State::kQueued) {
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

    const int mediaCode = link.Facts().media.mediaCode;
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
    link.SetQueueNeedsMedia(!plan.needMedia.empty());

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
