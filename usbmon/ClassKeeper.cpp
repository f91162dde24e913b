#include "ClassKeeper.h"

#include "CupsClasses.h"
#include "OwnedFile.h"
#include "PrinterBoard.h"
#include "Records.h"

#include <cups/cups.h>

#include <atomic>
#include <pthread.h>
#include <set>

namespace vantora_usbmon {

namespace {

pthread_t g_keeper{};
bool g_running = false;   // g_keeper runs; the starting thread only
std::atomic<long> g_rounds{0};

// The refused requests reported and not yet succeeded again, by a key of
// operation and destination. The keeper's thread only.
std::set<std::string> g_reported;

void Outcome(bool ok, const std::string& key, const char* what)
{
    if (ok) {
        g_reported.erase(key);
        return;
    }
    if (g_reported.insert(key).second)
        ReportFailure("%s: %s", what, LastSchedulerError());
}

// True when a live backend's pause file holds the printer.
bool BackendHolds(const std::string& serial)
{
    char pause[vantora_exchange::kPathSize];
    return vantora_exchange::ExchangeFilePath(vantora_exchange::kPauseFile, GetMonitorSettings().exchangeDir.c_str(),
                                              serial.c_str(), pause, sizeof pause) &&
           vantora_exchange::JudgeMarker(pause) == vantora_exchange::kMarkerLive;
}

void Carry(const ClassActions& plan, const std::string& marks)
{
    for (const ClassView& view : plan.setClasses)
        Outcome(SetClass(view), "class " + view.name, ("cannot keep the class " + view.name).c_str());
    for (const std::string& name : plan.deleteClasses) {
        // Left alone when a job came meanwhile; the next round sees it.
        if (!DeleteClass(name) && cupsLastError() > IPP_STATUS_OK_CONFLICTING)
            Outcome(false, "delete " + name, ("cannot remove the class " + name).c_str());
    }
    for (const QueueView& queue : plan.describe)
        Outcome(DescribeQueue(queue), "describe " + queue.name,
                ("cannot describe the queue " + queue.name).c_str());
    for (const vantora_exchange::FailoverMark& mark : plan.stop) {
        if (!vantora_exchange::WriteFailoverMark(marks, mark)) {
            if (g_reported.insert("mark " + mark.serial).second)
                ReportFailure("printer %s: cannot write its failover mark in %s; its queue %s is not stopped",
                              mark.serial.c_str(), marks.c_str(), mark.queue.c_str());
            continue;
        }
        g_reported.erase("mark " + mark.serial);
        const bool stopped = StopQueue(mark.queue, mark.reason);
        if (!stopped)
            vantora_exchange::RemoveFailoverMark(marks, mark.serial);
        Outcome(stopped, "stop " + mark.queue, ("cannot stop the queue " + mark.queue).c_str());
    }
    for (const vantora_exchange::FailoverMark& mark : plan.start) {
        const bool started = StartQueue(mark.queue);
        if (started)
            vantora_exchange::RemoveFailoverMark(marks, mark.serial);
        Outcome(started, "start " + mark.queue, ("cannot start the queue " + mark.queue).c_str());
    }
    for (const std::string& serial : plan.dropMarks)
        vantora_exchange::RemoveFailoverMark(marks, serial);
}

void* Run(void*)
{
    const MonitorSettings settings = GetMonitorSettings();
    const auto startedAt = BoardClock::now();
    std::map<std::string, MarkMemory> memory;
    std::set<std::string> quick;
    for (;;) {
        ClassInputs in;
        if (ReadSchedulerView(&in.queues, &in.classes)) {
            in.printers = BoardSnapshot();
            in.marks = vantora_exchange::ReadFailoverMarks(settings.failoverDir);
            for (const QueueView& queue : in.queues)
                in.held[queue.serial] = BackendHolds(queue.serial);
            in.now = BoardClock::now();
            in.startedAt = startedAt;
            in.failAfter = settings.failAfter;
            in.startGrace = settings.startGrace;
            const ClassActions plan = PlanClasses(in, &memory);
            Carry(plan, settings.failoverDir);
            const std::set<std::string> wanted(plan.quickReads.begin(), plan.quickReads.end());
            for (const std::string& serial : quick)
                if (wanted.count(serial) == 0)
                    AskQuickReads(serial, false);
            for (const std::string& serial : wanted)
                AskQuickReads(serial, true);
            quick = wanted;
        }
        ++g_rounds;
        if (WaitForBoardNews(settings.classRound))
            return nullptr;
    }
}

}  // namespace

bool StartClassKeeper()
{
    if (!GetMonitorSettings().keepClasses || g_running)
        return true;
    g_reported.clear();
    g_running = pthread_create(&g_keeper, nullptr, Run, nullptr) == 0;
    return g_running;
}

void StopClassKeeper()
{
    StopBoardWaits();
    if (g_running)
        pthread_join(g_keeper, nullptr);
    g_running = false;
}

long ClassKeeperRounds()
{
    return g_rounds.load();
}

}  // namespace vantora_usbmon
