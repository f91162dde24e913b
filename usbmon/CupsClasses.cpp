#include "CupsClasses.h"

#include "ExchangeFiles.h"

#include <cups/cups.h>

#include <cstring>

namespace vantora_usbmon {

namespace {

constexpr int kPrinterStopped = 5;
constexpr int kPrinterProcessing = 4;
constexpr int kJobProcessing = 5;

// "ipp://localhost/<kind>/<name>" in `out`; false when it does not fit.
bool DestinationUri(const char* kind, const std::string& name, char* out, size_t size)
{
    return httpAssembleURIf(HTTP_URI_CODING_ALL, out, static_cast<int>(size), "ipp", nullptr, "localhost", 0, "/%s/%s",
                            kind, name.c_str()) == HTTP_URI_STATUS_OK;
}

// A request of `operation` on the destination, with the requesting user.
ipp_t* NewRequest(ipp_op_t operation, const char* kind, const std::string& name)
{
    char uri[HTTP_MAX_URI];
    if (!DestinationUri(kind, name, uri, sizeof uri))
        return nullptr;
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// Sends the request (freed) to `resource`; true when the scheduler did it.
bool Send(ipp_t* request, const char* resource)
{
    if (request == nullptr)
        return false;
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource));
    return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

// Whether the destination has an unfinished job: 1 yes, 0 no, -1 when the
// scheduler did not answer. With `ownProcessing`, only a processing job
// sent to this queue itself counts (the scheduler lists a class's job also
// under the member that prints it).
int UnfinishedJob(const char* kind, const std::string& name, bool ownProcessing)
{
    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, kind, name);
    if (request == nullptr)
        return -1;
    static const char* const kWanted[] = {"job-state", "job-printer-uri"};
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response == nullptr || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(response);
        return -1;
    }
    const std::string own = std::string("/") + kind + "/" + name;
    int state = 0;
    std::string uri;
    int found = 0;
    auto judge = [&] {
        if (state == 0)
            return;
        char scheme[32], user[64], host[256], resource[1024];
        int port = 0;
        const bool mine = httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                                          host, sizeof host, &port, resource, sizeof resource) >= HTTP_URI_STATUS_OK &&
                          own == resource;
        if (!ownProcessing || (state == kJobProcessing && mine))
            found = 1;
        state = 0;
        uri.clear();
    };
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr && found == 0;
         attr = ippNextAttribute(response)) {
        const char* attrName = ippGetName(attr);
        if (ippGetGroupTag(attr) != IPP_TAG_JOB || attrName == nullptr) {
            judge();
            continue;
        }
        if (std::strcmp(attrName, "job-state") == 0)
            state = ippGetInteger(attr, 0);
        else if (std::strcmp(attrName, "job-printer-uri") == 0 && ippGetString(attr, 0, nullptr) != nullptr)
            uri = ippGetString(attr, 0, nullptr);
    }
    judge();
    ippDelete(response);
    return found;
}

// One destination of the CUPS-Get-Printers answer.
struct Destination {
    std::string name, uri, info, location;
    std::vector<std::string> members;
    int type = 0;
    int state = 0;
    bool accepting = true;
};

void Take(ipp_attribute_t* attr, Destination* dest)
{
    const char* name = ippGetName(attr);
    auto text = [attr] {
        const char* value = ippGetString(attr, 0, nullptr);
        return std::string(value != nullptr ? value : "");
    };
    if (std::strcmp(name, "printer-name") == 0)
        dest->name = text();
    else if (std::strcmp(name, "device-uri") == 0)
        dest->uri = text();
    else if (std::strcmp(name, "printer-info") == 0)
        dest->info = text();
    else if (std::strcmp(name, "printer-location") == 0)
        dest->location = text();
    else if (std::strcmp(name, "printer-type") == 0)
        dest->type = ippGetInteger(attr, 0);
    else if (std::strcmp(name, "printer-state") == 0)
        dest->state = ippGetInteger(attr, 0);
    else if (std::strcmp(name, "printer-is-accepting-jobs") == 0)
        dest->accepting = ippGetBoolean(attr, 0) != 0;
    else if (std::strcmp(name, "member-names") == 0)
        for (int i = 0; i < ippGetCount(attr); ++i)
            if (const char* member = ippGetString(attr, i, nullptr))
                dest->members.push_back(member);
}

bool ListDestinations(std::vector<Destination>* out)
{
    static const char* const kWanted[] = {"printer-name", "device-uri", "printer-info", "printer-location",
                                          "printer-type", "printer-state", "printer-is-accepting-jobs",
                                          "member-names"};
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(sizeof kWanted / sizeof kWanted[0]), nullptr, kWanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    // A scheduler without destinations answers "not found".
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
        ippDelete(response);
        return true;
    }
    if (response == nullptr || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(response);
        return false;
    }
    Destination dest;
    bool open = false;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr; attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || ippGetName(attr) == nullptr) {
            if (open)
                out->push_back(dest);
            dest = Destination();
            open = false;
            continue;
        }
        Take(attr, &dest);
        open = true;
    }
    if (open)
        out->push_back(dest);
    ippDelete(response);
    return true;
}

}  // namespace

bool ReadSchedulerView(std::vector<QueueView>* queues, std::vector<ClassView>* classes)
{
    std::vector<Destination> dests;
    if (!ListDestinations(&dests))
        return false;
    for (const Destination& dest : dests) {
        if ((dest.type & CUPS_PRINTER_CLASS) != 0) {
            if (dest.name != kClass4x6 && dest.name != kClass45x8)
                continue;
            ClassView view;
            view.name = dest.name;
            view.members = dest.members;
            view.enabled = dest.state != kPrinterStopped;
            view.accepting = dest.accepting;
            const int job = UnfinishedJob("classes", dest.name, false);
            if (job < 0)
                return false;
            view.hasJobs = job > 0;
            classes->push_back(view);
            continue;
        }
        if (dest.uri.compare(0, std::strlen(vantora_exchange::kDeviceUriPrefix), vantora_exchange::kDeviceUriPrefix) != 0)
            continue;
        const char* serial = vantora_exchange::SerialInDeviceUri(dest.uri.c_str());
        if (serial == nullptr || !vantora_exchange::IsValidSerial(serial))
            continue;
        QueueView queue;
        queue.name = dest.name;
        queue.serial = serial;
        queue.info = dest.info;
        queue.location = dest.location;
        queue.stopped = dest.state == kPrinterStopped;
        if (dest.state == kPrinterProcessing) {
            const int job = UnfinishedJob("printers", dest.name, true);
            if (job < 0)
                return false;
            queue.printingOwnJob = job > 0;
        }
        queues->push_back(queue);
    }
    return true;
}

bool SetClass(const ClassView& view)
{
    ipp_t* request = NewRequest(IPP_OP_CUPS_ADD_MODIFY_CLASS, "classes", view.name);
    if (request == nullptr || view.members.empty()) {
        ippDelete(request);
        return false;
    }
    std::vector<std::string> uris;
    for (const std::string& member : view.members) {
        char uri[HTTP_MAX_URI];
        if (!DestinationUri("printers", member, uri, sizeof uri)) {
            ippDelete(request);
            return false;
        }
        uris.push_back(uri);
    }
    std::vector<const char*> values;
    for (const std::string& uri : uris)
        values.push_back(uri.c_str());
    ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_URI, "member-uris", static_cast<int>(values.size()), nullptr,
                  values.data());
    const std::string info = std::string("VANTORA RT-50 printers with ") +
                             MediaName(view.name == kClass4x6 ? kMedia4x6 : kMedia45x8) + " media";
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, info.c_str());
    // A class the scheduler makes starts stopped and refusing jobs.
    if (view.create) {
        ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
        ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
    }
    return Send(request, "/admin/");
}

bool DeleteClass(const std::string& name)
{
    if (UnfinishedJob("classes", name, false) != 0)
        return false;
    return Send(NewRequest(IPP_OP_CUPS_DELETE_CLASS, "classes", name), "/admin/");
}

bool DescribeQueue(const QueueView& queue)
{
    ipp_t* request = NewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, "printers", queue.name);
    if (request == nullptr)
        return false;
    if (!queue.info.empty())
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, queue.info.c_str());
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, queue.location.c_str());
    return Send(request, "/admin/");
}

bool StopQueue(const std::string& queue, const std::string& reason)
{
    ipp_t* request = NewRequest(IPP_OP_PAUSE_PRINTER, "printers", queue);
    if (request == nullptr)
        return false;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "printer-state-message", nullptr, reason.c_str());
    return Send(request, "/admin/");
}

bool StartQueue(const std::string& queue)
{
    return Send(NewRequest(IPP_OP_RESUME_PRINTER, "printers", queue), "/admin/");
}

const char* LastSchedulerError()
{
    return cupsLastErrorString();
}

}  // namespace vantora_usbmon
