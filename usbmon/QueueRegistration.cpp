#include "QueueRegistration.h"

#include "ProgramRunner.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace vantora_usbmon {

namespace {

using vantora_exchange::kQueueName;

constexpr char kModelPpd[] = "VANTORA_RT-50.ppd";

// True when the text after the URI's first "serial=" is exactly `serial`.
bool NamesSerial(const std::string& uri, const char* serial)
{
    const char* named = vantora_exchange::SerialInDeviceUri(uri.c_str());
    return named != nullptr && std::strcmp(named, serial) == 0;
}

// The destination named `name`; CUPS compares queue names without case.
const QueueEntry* FindQueue(const std::vector<QueueEntry>& destinations, const char* name)
{
    for (const QueueEntry& entry : destinations) {
        if (strcasecmp(entry.name.c_str(), name) == 0)
            return &entry;
    }
    return nullptr;
}

bool QueueExists(const std::vector<QueueEntry>& destinations, int number)
{
    char name[64];
    return !vantora_exchange::QueueName(number, name, sizeof name) || FindQueue(destinations, name) != nullptr;
}

// The number the collected names leave for the next queue.
long ChooseNumber(const std::vector<std::string>& collected)
{
    std::vector<long> numbers;
    for (const std::string& name : collected) {
        if (name != kQueueName)
            numbers.push_back(vantora_exchange::getRNumber(name.c_str()));
    }
    if (numbers.empty())
        return 2;
    std::sort(numbers.begin(), numbers.end());
    if (numbers.front() != 2)
        return 2;
    long gap = 0;
    for (size_t i = 1; i < numbers.size(); ++i) {
        // A later gap overwrites an earlier one: the highest gap wins.
        if (numbers[i - 1] > 1 && numbers[i] != numbers[i - 1] + 1)
            gap = numbers[i - 1] + 1;
    }
    return gap != 0 ? gap : numbers.back() + 1;
}

// Runs lpadmin for queue `number` (0: the first queue). Its exit status.
int RunLpadmin(int number, const char* serial)
{
    char name[64], description[64], uri[vantora_exchange::kPathSize];
    if (!vantora_exchange::QueueName(number, name, sizeof name) ||
        !vantora_exchange::QueueDescription(number, description, sizeof description) ||
        !vantora_exchange::DeviceUriForSerial(serial, uri, sizeof uri))
        return -1;
    const char* const argv[] = {"lpadmin", "-p", name, "-E", "-D", description, "-m", kModelPpd,
                                "-v", uri, "-o", "printer-is-shared=false", nullptr};
    return RunProgram(argv);
}

// The scheduler's destinations; false when it could not be asked.
bool ListDestinations(std::vector<QueueEntry>* destinations)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    // No destinations and a server error: the scheduler did not answer. (A
    // scheduler without queues answers "not found".)
    if (count == 0 && cupsLastError() >= IPP_STATUS_ERROR_INTERNAL) {
        cupsFreeDests(count, dests);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        // Classes (the media classes are named like queues) take no number.
        const char* type = cupsGetOption("printer-type", dests[i].num_options, dests[i].options);
        if (type != nullptr && (std::strtol(type, nullptr, 10) & CUPS_PRINTER_CLASS) != 0)
            continue;
        const char* uri = cupsGetOption("device-uri", dests[i].num_options, dests[i].options);
        destinations->push_back({dests[i].name != nullptr ? dests[i].name : "", uri != nullptr ? uri : ""});
    }
    cupsFreeDests(count, dests);
    return true;
}

}  // namespace

int enum_cb(void* user, unsigned int, cups_dest_t* dest)
{
    thdata* record = static_cast<thdata*>(user);
    const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options);
    if (uri == nullptr || std::strstr(uri, "RT-50") == nullptr || std::strstr(uri, "VANTORA") == nullptr ||
        std::strstr(uri, "vantora-zpxbackend") == nullptr)
        return 1;
    const char* serial = vantora_exchange::SerialInDeviceUri(uri);
    if (serial != nullptr && std::strcmp(serial, record->serial) == 0)
        record->bQueueOk = true;
    return 1;
}

QueuePlan PlanQueue(const std::vector<QueueEntry>& destinations, const char* serial)
{
    QueuePlan plan;
    if (serial == nullptr)
        return plan;
    std::vector<std::string> collected;
    bool first = destinations.empty();
    for (const QueueEntry& entry : destinations) {
        if (entry.name.find(kQueueName) == std::string::npos)
            continue;
        if (NamesSerial(entry.uri, serial)) {
            // This printer's queue under another scheme: made the first
            // queue when it comes first, left alone otherwise.
            first = collected.empty();
            if (!first) {
                plan.blocker = entry.name;
                return plan;
            }
            break;
        }
        collected.push_back(entry.name);
    }
    if (first || collected.empty()) {
        const QueueEntry* existing = FindQueue(destinations, kQueueName);
        if (existing != nullptr && !NamesSerial(existing->uri, serial)) {
            plan.blocker = existing->name;
            return plan;
        }
        plan.kind = QueuePlan::kFirstQueue;
        return plan;
    }
    long number = ChooseNumber(collected);
    if (number < 2 || number > INT_MAX || QueueExists(destinations, static_cast<int>(number))) {
        number = 2;
        while (QueueExists(destinations, static_cast<int>(number)))
            ++number;
    }
    plan.kind = QueuePlan::kNumberedQueue;
    plan.number = static_cast<int>(number);
    return plan;
}

void RegisterQueue(thdata* record)
{
    cupsEnumDests(0, 0, nullptr, 0, 0, enum_cb, record);
    if (record->bQueueOk)
        return;

    std::vector<QueueEntry> destinations;
    if (!ListDestinations(&destinations)) {
        ReportOnce(record, kReportedCups, "no queue: the CUPS scheduler does not answer (%s)",
                   cupsLastErrorString());
        return;
    }
    ClearReported(record, kReportedCups);
    const QueuePlan plan = PlanQueue(destinations, record->serial);
    if (plan.kind == QueuePlan::kNothing) {
        ReportOnce(record, kReportedQueueTaken, "no queue: the queue %s stands in the way (see its device URI)",
                   plan.blocker.c_str());
        return;
    }
    ClearReported(record, kReportedQueueTaken);
    const int number = plan.kind == QueuePlan::kFirstQueue ? 0 : plan.number;
    const int status = RunLpadmin(number, record->serial);
    if (status == 0) {
        record->bQueueOk = true;
        ClearReported(record, kReportedLpadmin);
        return;
    }
    char name[64];
    vantora_exchange::QueueName(number, name, sizeof name);
    if (status < 0)
        ReportOnce(record, kReportedLpadmin, "no queue: lpadmin -p %s could not be run", name);
    else
        ReportOnce(record, kReportedLpadmin, "no queue: lpadmin -p %s failed with exit status %d", name, status);
}

}  // namespace vantora_usbmon
