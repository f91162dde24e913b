#include "QueueJobs.h"

#include <cups/cups.h>

#include <cstring>

namespace vantora_backend {

namespace {

// The scheduler answers on its local socket at once; a busy one is not
// waited for longer than this.
constexpr int kConnectMs = 3000;
constexpr double kAnswerSeconds = 3.0;
// Queue names are at most 127 characters in CUPS.
constexpr size_t kQueueNameMax = 127;

// A queue name as CUPS allows it: printable, no space, '/', '#' or '\\'.
bool IsQueueName(const char* name)
{
    if (name == nullptr)
        return false;
    const size_t length = strnlen(name, kQueueNameMax + 1);
    if (length == 0 || length > kQueueNameMax)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c <= ' ' || c == 0x7f || c == '/' || c == '#' || c == '\\')
            return false;
    }
    return true;
}

// A connection to the scheduler CUPS names to its backends, with short
// time-outs; nullptr when it does not answer.
http_t* ConnectScheduler()
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (http != nullptr)
        httpSetTimeout(http, kAnswerSeconds, nullptr, nullptr);
    return http;
}

// A request of `operation` for the scheduler's queue or class `name`
// (`folder`: "printers" or "classes").
ipp_t* QueueRequest(ipp_op_t operation, const char* folder, const char* name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/%s/%s", folder,
                     name);
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    return request;
}

}  // namespace

int SisterQueueReady(const char* jobClass, const char* printer)
{
    if (!IsQueueName(jobClass) || !IsQueueName(printer))
        return -1;
    http_t* http = ConnectScheduler();
    if (http == nullptr)
        return -1;
    ipp_t* request = QueueRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "classes", jobClass);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "member-names");
    ipp_t* members = cupsDoRequest(http, request, "/");
    // The members' states, from one list of every queue.
    request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    static const char* const kAttributes[] = {"printer-name", "printer-state", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kAttributes);
    ipp_t* queues = cupsDoRequest(http, request, "/");
    httpClose(http);
    int ready = -1;
    ipp_attribute_t* names = ippFindAttribute(members, "member-names", IPP_TAG_NAME);
    if (queues != nullptr && ippGetStatusCode(queues) <= IPP_STATUS_OK_EVENTS_COMPLETE && names != nullptr) {
        ready = 0;
        const char* name = nullptr;
        int state = 0;
        bool accepting = false;
        for (ipp_attribute_t* attr = ippFirstAttribute(queues);; attr = ippNextAttribute(queues)) {
            const bool groupEnds = attr == nullptr || ippGetGroupTag(attr) != IPP_TAG_PRINTER;
            if (groupEnds && name != nullptr) {
                bool member = false;
                for (int i = 0; i < ippGetCount(names) && !member; ++i)
                    member = std::strcmp(ippGetString(names, i, nullptr), name) == 0;
                if (member && std::strcmp(name, printer) != 0 && state != IPP_PSTATE_STOPPED && accepting)
                    ready = 1;
                name = nullptr;
                state = 0;
                accepting = false;
            }
            if (attr == nullptr)
                break;
            const char* key = ippGetName(attr);
            if (key == nullptr || ippGetGroupTag(attr) != IPP_TAG_PRINTER)
                continue;
            if (std::strcmp(key, "printer-name") == 0)
                name = ippGetString(attr, 0, nullptr);
            else if (std::strcmp(key, "printer-state") == 0)
                state = ippGetInteger(attr, 0);
            else if (std::strcmp(key, "printer-is-accepting-jobs") == 0)
                accepting = ippGetBoolean(attr, 0) != 0;
        }
    }
    ippDelete(members);
    ippDelete(queues);
    return ready;
}

int OtherJobsWaiting(const char* printer, int jobId)
{
    if (!IsQueueName(printer))
        return -1;
    http_t* http = ConnectScheduler();
    if (http == nullptr)
        return -1;
    ipp_t* request = QueueRequest(IPP_OP_GET_JOBS, "printers", printer);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
    static const char* const kAttributes[] = {"job-id", "job-state"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kAttributes);
    ipp_t* response = cupsDoRequest(http, request, "/");
    httpClose(http);
    if (response == nullptr || ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        ippDelete(response);
        return -1;
    }
    // One job per attribute group; a held or stopped job does not wait for
    // the printer.
    int waiting = 0;
    int id = 0;
    int state = 0;
    for (ipp_attribute_t* attr = ippFirstAttribute(response);; attr = ippNextAttribute(response)) {
        const bool groupEnds = attr == nullptr || ippGetGroupTag(attr) != IPP_TAG_JOB;
        if (groupEnds && id != 0) {
            if (id != jobId && (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING))
                waiting = 1;
            id = 0;
            state = 0;
        }
        if (attr == nullptr)
            break;
        const char* name = ippGetName(attr);
        if (name == nullptr || ippGetGroupTag(attr) != IPP_TAG_JOB)
            continue;
        if (std::strcmp(name, "job-id") == 0 && ippGetValueTag(attr) == IPP_TAG_INTEGER)
            id = ippGetInteger(attr, 0);
        else if (std::strcmp(name, "job-state") == 0 && ippGetValueTag(attr) == IPP_TAG_ENUM)
            state = ippGetInteger(attr, 0);
    }
    ippDelete(response);
    return waiting;
}

}  // namespace vantora_backend
