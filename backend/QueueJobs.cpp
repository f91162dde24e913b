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

}  // namespace

int OtherJobsWaiting(const char* printer, int jobId)
{
    if (!IsQueueName(printer))
        return -1;
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (http == nullptr)
        return -1;
    httpSetTimeout(http, kAnswerSeconds, nullptr, nullptr);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     printer);
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
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
