#include "ClassPlan.h"

#include "ExchangeFiles.h"
#include "MediaSets.h"
#include "PrinterStatusCodes.h"

#include <algorithm>
#include <climits>
#include <set>
#include <strings.h>

namespace vantora_usbmon {

namespace {

using vantora_exchange::FailoverMark;
using vantora_exchange::PrinterState;
using vantora_exchange::StatusCondition;

const char* const kClasses[] = {kClass4x6, kClass45x8};

const PrinterFacts* FactsOf(const ClassInputs& in, const std::string& serial)
{
    const auto found = in.printers.find(serial);
    return found != in.printers.end() ? &found->second : nullptr;
}

const ClassView* FindClass(const ClassInputs& in, const std::string& name)
{
    for (const ClassView& view : in.classes)
        if (view.name == name)
            return &view;
    return nullptr;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool SameMembers(std::vector<std::string> a, std::vector<std::string> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// The queue's base description as registration gives it ("VANTORA RT-50 3"),
// or empty for a queue named otherwise.
std::string BaseDescription(const std::string& queue)
{
    const int number = queue == vantora_exchange::kQueueName ? 0 : vantora_exchange::getRNumber(queue.c_str());
    char name[64], description[64];
    if (number < 0 || number == 1 || !vantora_exchange::QueueName(number, name, sizeof name) || queue != name ||
        !vantora_exchange::QueueDescription(number, description, sizeof description))
        return "";
    return description;
}

// A mark for a job whose page the loaded media cannot print: the backend
// writes its media-needed message ("Media needed: the ... page needs ...").
bool IsWrongMedia(const FailoverMark& mark)
{
    return strncasecmp(mark.reason.c_str(), "Wrong media", 11) == 0 ||
           strncasecmp(mark.reason.c_str(), "Media needed", 12) == 0;
}

// The classes each queue ends this round in.
std::map<std::string, std::vector<std::string>> Membership(const ClassInputs& in, ClassActions* actions)
{
    std::map<std::string, std::vector<std::string>> wanted;
    for (const char* name : kClasses)
        wanted[name];
    for (const QueueView& queue : in.queues) {
        const PrinterFacts* facts = FactsOf(in, queue.serial);
        if (facts != nullptr && facts->media >= 0) {
            if (const char* name = ClassOfMedia(facts->media))
                wanted[name].push_back(queue.name);
            continue;
        }
        // Media not known since the start: the queue stays where it is.
        for (const ClassView& view : in.classes)
            if (Contains(view.members, queue.name))
                wanted[view.name].push_back(queue.name);
    }
    std::map<std::string, std::vector<std::string>> classesOf;
    for (const char* name : kClasses) {
        const ClassView* existing = FindClass(in, name);
        std::vector<std::string> members = wanted[name];
        if (members.empty() && existing != nullptr && existing->hasJobs && !existing->members.empty()) {
            // Removing the class would cancel the jobs waiting on it: it
            // keeps its members until they are done.
            members = existing->members;
        }
        if (members.empty()) {
            if (existing != nullptr)
                actions->deleteClasses.push_back(name);
            continue;
        }
        // A class stopped or refusing jobs by a person's hand stays so.
        if (existing == nullptr || !SameMembers(existing->members, members)) {
            ClassView view;
            view.name = name;
            view.members = members;
            view.create = existing == nullptr;
            actions->setClasses.push_back(view);
        }
        for (const std::string& member : members)
            classesOf[member].push_back(name);
    }
    return classesOf;
}

void Describe(const ClassInputs& in, ClassActions* actions)
{
    for (const QueueView& queue : in.queues) {
        const PrinterFacts* facts = FactsOf(in, queue.serial);
        const char* media = facts != nullptr ? MediaName(facts->media) : nullptr;
        if (media == nullptr)
            continue;
        QueueView described = queue;
        const std::string base = BaseDescription(queue.name);
        if (!base.empty())
            described.info = base + " (serial " + queue.serial + ", " + media + " media)";
        described.location = "RT-50 serial " + queue.serial + ", " + media + " media loaded";
        if (described.info != queue.info || described.location != queue.location)
            actions->describe.push_back(described);
    }
}

// True when the marked queue's printer can take jobs again.
bool MayStart(const FailoverMark& mark, const PrinterFacts* facts, const MarkMemory& memory,
              const std::vector<std::string>& classes)
{
    if (facts == nullptr || !facts->present || !facts->statusRead || facts->readAt <= memory.firstSeen ||
        vantora_exchange::PrinterStateOf(facts->status) != PrinterState::kReady)
        return false;
    if (!IsWrongMedia(mark))
        return true;
    // The same media in the same classes would meet the same job again.
    return (memory.media >= 0 && facts->media != memory.media) || classes != memory.classes ||
           facts->arrivals != memory.arrivals;
}

}  // namespace

const char* ClassOfMedia(long media)
{
    return media == kMedia4x6 ? kClass4x6 : media == kMedia45x8 ? kClass45x8 : nullptr;
}

const char* MediaName(long media)
{
    return media >= INT_MIN && media <= INT_MAX ? MediaSetName(static_cast<int>(media)) : nullptr;
}

std::string FailReason(const PrinterFacts* facts, const ClassInputs& in)
{
    if (facts == nullptr || !facts->present) {
        if (facts != nullptr && facts->departed)
            return "Unplugged";
        return in.now - in.startedAt >= in.startGrace ? "Unplugged" : "";
    }
    if (!facts->statusRead)
        return "";
    const vantora_exchange::StatusEntry& entry = vantora_exchange::DescribeStatus(facts->status);
    switch (entry.condition) {
    case StatusCondition::kRibbonEnd:
        return "Ribbon end";
    case StatusCondition::kPaperEnd:
        return "Paper end";
    default:
        break;
    }
    if (entry.state != PrinterState::kUserError && entry.state != PrinterState::kSystemError &&
        entry.state != PrinterState::kNoAnswer)
        return "";
    // A door opened to look, a jam being cleared: only a lasting one counts.
    if (in.now - facts->conditionSince < in.failAfter)
        return "";
    switch (entry.condition) {
    case StatusCondition::kDoorOpen:
        return "Door open";
    case StatusCondition::kPaperJam:
        return "Paper jam";
    default:
        return entry.text;
    }
}

ClassActions PlanClasses(const ClassInputs& in, std::map<std::string, MarkMemory>* memory)
{
    ClassActions actions;
    const auto classesOf = Membership(in, &actions);
    Describe(in, &actions);

    auto queueNamed = [&](const std::string& name) -> const QueueView* {
        for (const QueueView& queue : in.queues)
            if (queue.name == name)
                return &queue;
        return nullptr;
    };
    auto classesOfQueue = [&](const std::string& name) {
        const auto found = classesOf.find(name);
        return found != classesOf.end() ? found->second : std::vector<std::string>();
    };
    auto isHeld = [&](const std::string& serial) {
        const auto found = in.held.find(serial);
        return found != in.held.end() && found->second;
    };

    // Marked queues: started once their printer can print, marks of queues
    // that are gone or running dropped.
    std::set<std::string> marked;
    for (const FailoverMark& mark : in.marks) {
        marked.insert(mark.serial);
        const QueueView* queue = queueNamed(mark.queue);
        if (queue == nullptr || queue->serial != mark.serial) {
            actions.dropMarks.push_back(mark.serial);
            memory->erase(mark.serial);
            continue;
        }
        const PrinterFacts* facts = FactsOf(in, mark.serial);
        const auto known = memory->find(mark.serial);
        if (known == memory->end()) {
            MarkMemory fresh;
            fresh.firstSeen = in.now;
            fresh.media = facts != nullptr ? facts->media : -1;
            fresh.classes = classesOfQueue(queue->name);
            fresh.arrivals = facts != nullptr ? facts->arrivals : 0;
            (*memory)[mark.serial] = fresh;
        }
        MarkMemory& remembered = (*memory)[mark.serial];
        if (remembered.media < 0 && facts != nullptr && facts->readAt > remembered.firstSeen)
            remembered.media = facts->media;
        actions.quickReads.push_back(mark.serial);
        // The backend that stops the queue may still be at it.
        if (isHeld(mark.serial))
            continue;
        if (!queue->stopped) {
            // Started by a person, or the stop never happened.
            if (remembered.notStoppedSince == BoardClock::time_point{})
                remembered.notStoppedSince = in.now;
            else if (in.now - remembered.notStoppedSince >= in.failAfter) {
                actions.dropMarks.push_back(mark.serial);
                memory->erase(mark.serial);
            }
            continue;
        }
        remembered.notStoppedSince = {};
        if (MayStart(mark, facts, remembered, classesOfQueue(queue->name)))
            actions.start.push_back(mark);
    }
    for (auto it = memory->begin(); it != memory->end();)
        it = marked.count(it->first) == 0 ? memory->erase(it) : std::next(it);

    // Members whose printer cannot print are stopped. While a backend holds
    // the printer the job is the backend's: it stops the queue itself when
    // the printer fails (stopping it here would kill the backend in the
    // middle of a sheet).
    for (const QueueView& queue : in.queues) {
        if (queue.stopped || queue.printingOwnJob || marked.count(queue.serial) != 0 || isHeld(queue.serial) ||
            classesOfQueue(queue.name).empty())
            continue;
        const std::string reason = FailReason(FactsOf(in, queue.serial), in);
        if (!reason.empty())
            actions.stop.push_back({queue.serial, queue.name, reason});
    }
    return actions;
}

}  // namespace vantora_usbmon
