// The class keeper's decisions without a scheduler: membership by media,
// classes kept while jobs wait on them, when a member counts as failed, and
// what becomes of the failover marks.
#include "ClassPlan.h"
#include "PrinterStatusCodes.h"

#include <gtest/gtest.h>

namespace {

using namespace vantora_usbmon;
using namespace std::chrono_literals;

// Two printers' queues, both of them in the 4x6in class, read just now.
class Plan : public ::testing::Test {
protected:
    void SetUp() override
    {
        in.startedAt = BoardClock::now() - 1h;
        in.now = BoardClock::now();
        in.queues = {Queue("VANTORA-RT-50", "A1"), Queue("VANTORA-RT-50-2", "B2")};
        in.classes = {Class(kClass4x6, {"VANTORA-RT-50", "VANTORA-RT-50-2"})};
        in.printers["A1"] = Facts(0, 150);
        in.printers["B2"] = Facts(0, 150);
    }
    QueueView Queue(const std::string& name, const std::string& serial)
    {
        QueueView queue;
        queue.name = name;
        queue.serial = serial;
        return queue;
    }
    static ClassView Class(const std::string& name, std::vector<std::string> members)
    {
        ClassView view;
        view.name = name;
        view.members = std::move(members);
        return view;
    }
    PrinterFacts Facts(int64_t status, long media, std::chrono::milliseconds age = 1h)
    {
        PrinterFacts facts;
        facts.present = true;
        facts.statusRead = true;
        facts.status = status;
        facts.media = media;
        facts.arrivals = 1;
        facts.readAt = in.now;
        facts.conditionSince = in.now - age;
        return facts;
    }
    // Described queues are the usual case; most cases look past them.
    ClassActions Round()
    {
        in.now += 1s;
        for (auto& printer : in.printers)
            if (printer.second.present)
                printer.second.readAt = in.now;
        return PlanClasses(in, &memory);
    }

    ClassInputs in;
    std::map<std::string, MarkMemory> memory;
};

TEST_F(Plan, MembersFollowTheMediaAndAClassWithJobsIsNotRemoved)
{
    // B2 gets 4.5x8in media: a new class for it; a printer of other media is in none.
    in.printers["B2"].media = 161;
    ClassActions actions = Round();
    ASSERT_EQ(actions.setClasses.size(), 2u);
    EXPECT_EQ(actions.setClasses[0].members, std::vector<std::string>{"VANTORA-RT-50"});
    EXPECT_EQ(actions.setClasses[1].name, kClass45x8);
    EXPECT_EQ(actions.setClasses[1].members, std::vector<std::string>{"VANTORA-RT-50-2"});
    in.printers["B2"].media = 999;
    EXPECT_EQ(Round().setClasses.size(), 1u);

    // A new class is made enabled and accepting (the scheduler would make
    // it stopped and refusing); an unchanged one is left alone, also when a
    // person has stopped it.
    EXPECT_TRUE(actions.setClasses[1].create);
    EXPECT_FALSE(actions.setClasses[0].create);
    in.printers["B2"].media = 150;
    in.classes[0].accepting = false;
    in.classes[0].enabled = false;
    EXPECT_TRUE(Round().setClasses.empty());

    // Media not known since the start (printer not read yet): the queue
    // stays in the classes the scheduler has it in.
    in.printers.erase("B2");
    EXPECT_TRUE(Round().setClasses.empty());

    // Every member leaves the class: removed, unless jobs wait on it.
    in.printers["A1"].media = 161;
    in.printers["B2"] = Facts(0, 161);
    actions = Round();
    EXPECT_EQ(actions.deleteClasses, std::vector<std::string>{kClass4x6});
    in.classes[0].hasJobs = true;
    actions = Round();
    EXPECT_TRUE(actions.deleteClasses.empty());
    for (const ClassView& view : actions.setClasses)
        EXPECT_EQ(view.name, kClass45x8);
}

TEST_F(Plan, QueuesAreDescribedByTheirPrinterOnlyWhenTheDescriptionChanges)
{
    in.queues.push_back(Queue("photos", "C3"));
    in.printers["C3"] = Facts(0, 161);
    ClassActions actions = Round();
    ASSERT_EQ(actions.describe.size(), 3u);
    EXPECT_EQ(actions.describe[0].info, "VANTORA RT-50 (serial A1, 4x6in media)");
    EXPECT_EQ(actions.describe[1].info, "VANTORA RT-50 2 (serial B2, 4x6in media)");
    EXPECT_EQ(actions.describe[1].location, "RT-50 serial B2, 4x6in media loaded");
    // A queue named otherwise keeps its own description.
    EXPECT_EQ(actions.describe[2].info, "");
    EXPECT_EQ(actions.describe[2].location, "RT-50 serial C3, 4.5x8in media loaded");
    for (size_t i = 0; i < 3; ++i) {
        in.queues[i].info = actions.describe[i].info;
        in.queues[i].location = actions.describe[i].location;
    }
    EXPECT_TRUE(Round().describe.empty());
}

TEST_F(Plan, AMemberIsStoppedAtOnceAtRibbonOrPaperEndAndAfterALastingError)
{
    auto stops = [&] {
        const ClassActions actions = Round();
        std::string text;
        for (const auto& mark : actions.stop)
            text += mark.serial + ":" + mark.queue + ":" + mark.reason + ";";
        return text;
    };
    EXPECT_EQ(stops(), "");
    in.printers["A1"] = Facts(1200, 150, 0ms);
    in.printers["B2"] = Facts(1100, 150, 0ms);
    EXPECT_EQ(stops(), "A1:VANTORA-RT-50:Ribbon end;B2:VANTORA-RT-50-2:Paper end;");

    // Door open, jam, other errors, no answer: only after failAfter.
    const std::pair<int64_t, const char*> lasting[] = {
        {1000, "Door open"}, {1300, "Paper jam"}, {1010, "No trash box"}, {2100, "System error"},
        {kStatusFailed, "Not answering"}};
    in.printers["B2"] = Facts(0, 150);
    for (const auto& error : lasting) {
        in.printers["A1"] = Facts(error.first, 150, in.failAfter - 2s);
        EXPECT_EQ(stops(), "") << error.second;
        EXPECT_EQ(stops(), std::string("A1:VANTORA-RT-50:") + error.second + ";") << error.second;
    }
    // Busy or printing is no failure.
    for (int64_t status : {1, 500, 900}) {
        in.printers["A1"] = Facts(status, 150);
        EXPECT_EQ(stops(), "") << status;
    }

    // Unplugged while the daemon runs: at once; never seen since the
    // start: after the grace time.
    in.printers["A1"].present = false;
    in.printers["A1"].departed = true;
    EXPECT_EQ(stops(), "A1:VANTORA-RT-50:Unplugged;");
    in.printers.erase("A1");
    in.startedAt = in.now;
    EXPECT_EQ(stops(), "");
    in.now += in.startGrace;
    EXPECT_EQ(stops(), "A1:VANTORA-RT-50:Unplugged;");

    // Not stopped: a queue in no class, a stopped one (a person's), one
    // printing a job sent to it alone, one a backend holds.
    in.printers["A1"] = Facts(1200, 150);
    in.classes[0].members = {"VANTORA-RT-50-2"};
    in.printers["A1"].media = 999;
    EXPECT_EQ(stops(), "");
    in.printers["A1"].media = 150;
    in.queues[0].stopped = true;
    EXPECT_EQ(stops(), "");
    in.queues[0].stopped = false;
    in.queues[0].printingOwnJob = true;
    EXPECT_EQ(stops(), "");
    in.queues[0].printingOwnJob = false;
    in.held["A1"] = true;
    EXPECT_EQ(stops(), "");
    // Gone from the bus in the middle of a job: the backend's to stop.
    in.printers["A1"].present = false;
    in.printers["A1"].departed = true;
    EXPECT_EQ(stops(), "");
    in.held["A1"] = false;
    EXPECT_EQ(stops(), "A1:VANTORA-RT-50:Unplugged;");
    in.printers["A1"] = Facts(1200, 150);
    EXPECT_EQ(stops(), "A1:VANTORA-RT-50:Ribbon end;");
}

TEST_F(Plan, AMarkedQueueStartsOnlyOnAReadyReadAfterTheMark)
{
    in.queues[0].stopped = true;
    in.marks = {{"A1", "VANTORA-RT-50", "Ribbon end"}};
    // Read before the mark was seen: the printer may have failed since.
    in.printers["A1"].readAt = in.now - 10s;
    ClassActions actions = PlanClasses(in, &memory);
    EXPECT_TRUE(actions.start.empty());
    EXPECT_EQ(actions.quickReads, std::vector<std::string>{"A1"});
    // A marked queue is not stopped again.
    in.printers["A1"].status = 1200;
    EXPECT_TRUE(Round().stop.empty());
    EXPECT_TRUE(Round().start.empty());
    in.held["A1"] = true;
    in.printers["A1"].status = 0;
    EXPECT_TRUE(Round().start.empty());
    in.held["A1"] = false;
    actions = Round();
    ASSERT_EQ(actions.start.size(), 1u);
    EXPECT_EQ(actions.start[0].queue, "VANTORA-RT-50");

    // Unplugged: only a read of the printer back on the bus counts.
    memory.clear();
    in.marks = {{"A1", "VANTORA-RT-50", "Unplugged"}};
    in.printers["A1"].present = false;
    in.printers["A1"].departed = true;
    EXPECT_TRUE(Round().start.empty());
    in.printers["A1"] = Facts(0, 150);
    EXPECT_EQ(Round().start.size(), 1u);
}

TEST_F(Plan, WrongMediaStaleAndForeignMarks)
{
    // Wrong media: ready is not enough; new media, or a move to another
    // class, is.
    in.queues[0].stopped = true;
    in.marks = {{"A1", "VANTORA-RT-50", "Wrong media: 102x204mm needs 4.5x8in"}};
    Round();
    EXPECT_TRUE(Round().start.empty());
    in.printers["A1"].media = 161;
    EXPECT_EQ(Round().start.size(), 1u);
    // The backend's own words for it.
    memory.clear();
    in.marks = {{"A1", "VANTORA-RT-50", "Media needed: the 102x153mm page needs 4x6in media"}};
    Round();
    EXPECT_TRUE(Round().start.empty());
    in.printers["A1"].media = 150;
    EXPECT_EQ(Round().start.size(), 1u);

    // A mark whose queue runs (started by hand, or the stop never came) is
    // dropped after failAfter; one naming a queue of another printer, or
    // none, at once.
    memory.clear();
    in.queues[0].stopped = false;
    in.marks = {{"A1", "VANTORA-RT-50", "Paper end"}, {"B2", "VANTORA-RT-50", "Paper end"},
                {"C3", "gone", "Paper end"}};
    ClassActions actions = Round();
    EXPECT_EQ(actions.dropMarks, (std::vector<std::string>{"B2", "C3"}));
    EXPECT_TRUE(actions.start.empty());
    in.marks.resize(1);
    in.now += in.failAfter;
    EXPECT_EQ(Round().dropMarks, std::vector<std::string>{"A1"});
}

}  // namespace
