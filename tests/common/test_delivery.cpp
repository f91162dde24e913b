// The delivery layer's decisions against a fake printer behind PrinterPort:
// the judge of a START answered by an error (the printer took the sheet, or
// refused it), sheets dropped after an error, a job run again that resumes
// after the printed sheets, the gate of the filter's command order, the
// media check and the one wait-until-printed rule. The same layer runs
// against the emulated RT-50 in the backend's and the printer
// application's tests.
#include "CommandPackets.h"
#include "DeliveryJudge.h"
#include "JobRecord.h"
#include "PlaneBitmap.h"
#include "PrinterCounts.h"
#include "PrinterStatusCodes.h"
#include "SheetSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> Packet(const char* name, const char* param, const std::string& payload, bool length = true)
{
    DeviceCmd cmd;
    cmd.MakeCmd(name, param, length ? static_cast<int>(payload.size()) : -1, payload.empty() ? nullptr : payload.data());
    std::vector<uint8_t> bytes(cmd.GetBuffer(), cmd.GetBuffer() + cmd.GetLength());
    cmd.Free();
    return bytes;
}

std::string Plane(int width, int height)
{
    std::string file(static_cast<size_t>(_PlaneFileSize(width, height)), '\x80');
    _EncodePlaneHeader(reinterpret_cast<unsigned char*>(&file[0]), width, height, 300, 300);
    return file;
}

// One sheet as the filter writes it; `multicut` 48 is 4x6in, 51 4.5x6in.
std::vector<uint8_t> Sheet(int multicut = 48, bool clock = false)
{
    std::vector<uint8_t> sheet;
    auto add = [&](const std::vector<uint8_t>& packet) { sheet.insert(sheet.end(), packet.begin(), packet.end()); };
    if (clock)
        add(Packet("CNTRL", "SET_SYS_TIME", std::string("20260102030405\r", 15) + std::string(1, '\0')));
    add(Packet("CNTRL", "CUTTER", "00000000"));
    add(Packet("CNTRL", "OVERCOAT", "00000001"));
    add(Packet("CNTRL", "BUFFCNTRL", "00000001"));
    add(Packet("CNTRL", "PRINTSPEED", "00000000"));
    add(Packet("CNTRL", "DECURL", "020000000000"));
    char code[16];
    std::snprintf(code, sizeof code, "%08d", multicut);
    add(Packet("IMAGE", "MULTICUT", code));
    for (const char* plane : {"YPLANE", "MPLANE", "CPLANE"})
        add(Packet("IMAGE", plane, Plane(16, 8)));
    add(Packet("CNTRL", "START", "", false));
    return sheet;
}

std::vector<uint8_t> Job(int sheets)
{
    std::vector<uint8_t> job;
    for (int i = 0; i < sheets; ++i) {
        const std::vector<uint8_t> sheet = Sheet(48, i == 0);
        job.insert(job.end(), sheet.begin(), sheet.end());
    }
    return job;
}

// A printer that holds the sheets it takes and prints one every
// `printPolls` status answers, unless an error stops it. Scripts change it
// at each START it receives.
class FakePrinter : public PrinterPort {
public:
    FakePrinter() : m_reader(kCmdMaxPayload, false) {}

    WriteResult Write(const uint8_t* data, size_t length, unsigned int, size_t* took) override
    {
        *took = length;
        written += length;
        for (size_t at = 0, used = 0; at < length; at += used) {
            if (m_reader.Feed(data + at, length - at, &used) != CommandPacketReader::kPacket)
                continue;
            const CommandPacket& packet = m_reader.Packet();
            if (packet.name != "CNTRL" || packet.param != "START")
                continue;
            ++starts;
            const bool accept = status == 0 || status == 900;
            if (onStart)
                onStart(starts, accept);
            if (accept && !refuseNext)
                held.push_back(printPolls);
            refuseNext = false;
        }
        return WriteResult::kDone;
    }

    int64_t Status() override
    {
        ++polls;
        if (errorPolls > 0 && --errorPolls == 0)
            status = 0;
        if (status == 0 && !held.empty() && --held.front() <= 0 && !finishOnCounter) {
            held.pop_front();
            ++counter;
        }
        if (status != 0 && dropOnError)
            held.clear();
        if (status != 0)
            return status;
        return held.empty() ? 0 : 1;
    }

    long Counter(bool) override
    {
        if (failCounter > 0) {
            --failCounter;
            return -1;
        }
        // The sheet is done between the status answer and the counter's.
        if (finishOnCounter && status == 0 && !held.empty() && held.front() <= 0) {
            held.pop_front();
            ++counter;
        }
        return counter;
    }
    int Media() override { return media; }
    bool Reset() override { ++resets; return true; }
    void ClearHalt() override {}
    bool Gone() override { return false; }
    Return AwaitReturn() override { return Return::kBack; }
    bool Canceled() override { return canceled; }
    void ShowMediaNeeded(int multicut, int) override { mediaNeeded.push_back(multicut); }
    bool GiveWay() override { return giveWay && giveWay(); }
    void SheetPrinted(int multicut) override { printedSizes.push_back(multicut); }

    // Sends `job` whole and waits until printed.
    SheetSender::Outcome Print(SheetSender& sender, const std::vector<uint8_t>& job)
    {
        sender.Append(job.data(), job.size());
        sender.EndData();
        for (;;) {
            const SheetSender::Outcome outcome = sender.Run();
            if (outcome == SheetSender::kSheetTaken)
                continue;
            if (outcome != SheetSender::kDataEnd)
                return outcome;
            return sender.AwaitPrinted();
        }
    }

    long status = 0;
    long counter = 500;
    int media = 150;
    int printPolls = 3;
    int errorPolls = 0;          // the error in `status` mends itself after this many polls
    bool dropOnError = false;    // an error drops the sheets held
    bool refuseNext = false;
    bool finishOnCounter = false;   // a sheet is done just after a status answer that said printing
    int failCounter = 0;            // counter queries still to fail
    bool canceled = false;
    std::deque<int> held;        // polls left for each sheet held
    std::function<void(int start, bool accepted)> onStart;
    int starts = 0;
    int polls = 0;
    int resets = 0;
    size_t written = 0;
    std::vector<int> mediaNeeded;
    std::function<bool()> giveWay;   // the program would rather leave the printer
    std::vector<int> printedSizes;   // SheetPrinted, in order

private:
    CommandPacketReader m_reader;
};

SendTiming Fast()
{
    SendTiming timing;
    timing.statusIntervalMs = 0;
    timing.progressLimitMs = 0;
    return timing;
}

// The door opens right after the printer took the sheet: the status read
// after START is an error, yet the sheet prints once the door closes. It is
// never sent again. A door opened just before the START makes the printer
// refuse it: sent again once, printed once.
TEST(Delivery, AnErrorRightAfterStartIsJudgedFromWhatThePrinterDoesNext)
{
    FakePrinter racing;
    racing.onStart = [&](int start, bool) {
        if (start == 2) {
            racing.status = 1000;
            racing.errorPolls = 6;
        }
    };
    SheetSender sender(racing, Fast());
    EXPECT_EQ(racing.Print(sender, Job(3)), SheetSender::kPrinted);
    EXPECT_EQ(racing.starts, 3);
    EXPECT_EQ(racing.counter, 503);
    EXPECT_EQ(sender.Figures().undecided, 1);
    EXPECT_EQ(sender.Figures().resent, 0);

    FakePrinter refusing;
    refusing.onStart = [&](int start, bool) {
        if (start == 2) {
            refusing.refuseNext = true;
            refusing.status = 1000;
            refusing.errorPolls = 6;
        }
    };
    SheetSender again(refusing, Fast());
    EXPECT_EQ(refusing.Print(again, Job(3)), SheetSender::kPrinted);
    EXPECT_EQ(refusing.starts, 4);
    EXPECT_EQ(refusing.counter, 503);
    EXPECT_EQ(again.Figures().resent, 1);

    // Still printing an earlier sheet when the error clears: the sheet is
    // judged once the earlier one is done.
    FakePrinter queued;
    queued.printPolls = 8;
    queued.onStart = [&](int start, bool) {
        if (start == 2) {
            queued.status = 1200;
            queued.errorPolls = 2;
        }
    };
    SheetSender third(queued, Fast());
    EXPECT_EQ(queued.Print(third, Job(2)), SheetSender::kPrinted);
    EXPECT_EQ(queued.starts, 2);
    EXPECT_EQ(queued.counter, 502);

    // Paper end refuses sheet 2 while sheet 1 prints. Once mended, a status
    // still says "printing" (sheet 1) and the counter read just after it
    // already counts sheet 1: that printing was sheet 1's, not sheet 2's.
    // And a counter read that fails meanwhile proves nothing.
    for (const bool failing : {false, true}) {
        FakePrinter paperEnd;
        paperEnd.printPolls = 6;
        paperEnd.finishOnCounter = true;
        paperEnd.onStart = [&](int start, bool) {
            if (start == 2) {
                paperEnd.refuseNext = true;
                paperEnd.status = 1100;
                paperEnd.errorPolls = 3;
                paperEnd.failCounter = failing ? 4 : 0;
            }
        };
        SheetSender resending(paperEnd, Fast());
        EXPECT_EQ(paperEnd.Print(resending, Job(2)), SheetSender::kPrinted) << resending.Reason();
        EXPECT_EQ(paperEnd.starts, 3);
        EXPECT_EQ(paperEnd.counter, 502);
        EXPECT_EQ(resending.Figures().resent, 1);
    }
}

// The counter read before the first START fails, and the printer prints
// fast: the counter read after the START already counts the sheet. The run
// asks for the counter again before it starts, or its sheet would never be
// known printed.
TEST(Delivery, TheRunsFirstCounterIsAskedAgainWhenItFails)
{
    FakePrinter fast;
    fast.printPolls = 1;
    fast.failCounter = 1;
    SheetSender sender(fast, Fast());
    EXPECT_EQ(fast.Print(sender, Job(1)), SheetSender::kPrinted) << sender.Reason();
    EXPECT_EQ(sender.Judge().Base(), 500);
    EXPECT_EQ(fast.starts, 1);
}

// The printer takes a sheet's START whole and leaves the bus before the
// transfer ends: back again, it prints the sheet, which is not sent again.
// One that leaves inside the START forgets the sheet: it goes again.
TEST(Delivery, APrinterThatLeavesAsItTakesTheStartKeepsTheSheet)
{
    for (const size_t cut : {size_t{0}, size_t{5}}) {
        struct Leaving : FakePrinter {
            size_t cut = 0;
            int leaves = 0;
            WriteResult Write(const uint8_t* data, size_t length, unsigned int timeout, size_t* took) override
            {
                const std::string text(reinterpret_cast<const char*>(data), length);
                const bool start = text.find("START") != std::string::npos && leaves == 0;
                if (!start)
                    return FakePrinter::Write(data, length, timeout, took);
                ++leaves;
                if (cut == 0)
                    FakePrinter::Write(data, length, timeout, took);
                *took = length - cut;
                return WriteResult::kGone;
            }
            bool Gone() override { return false; }
            Return AwaitReturn() override { return Return::kBack; }
        } printer;
        printer.cut = cut;
        SheetSender sender(printer, Fast());
        EXPECT_EQ(printer.Print(sender, Job(1)), SheetSender::kPrinted) << cut;
        EXPECT_EQ(printer.leaves, 1) << cut;
        EXPECT_EQ(printer.starts, 1) << cut;
        EXPECT_EQ(printer.counter, 501) << cut;
        EXPECT_EQ(sender.Figures().resent, cut == 0 ? 0 : 1) << cut;
    }
    // The START goes out whole and the printer leaves before the status
    // read that follows it: the sheet is judged, not sent again.
    struct LeavingAfter : FakePrinter {
        bool away = false;
        int leaves = 0;
        WriteResult Write(const uint8_t* data, size_t length, unsigned int timeout, size_t* took) override
        {
            const int before = starts;
            const WriteResult result = FakePrinter::Write(data, length, timeout, took);
            if (starts > before && leaves == 0) {
                away = true;
                ++leaves;
            }
            return result;
        }
        int64_t Status() override { return away ? kStatusFailed : FakePrinter::Status(); }
        long Counter(bool answered) override { return away ? -1 : FakePrinter::Counter(answered); }
        bool Gone() override { return away; }
        Return AwaitReturn() override
        {
            away = false;
            return Return::kBack;
        }
    } leaving;
    SheetSender sender(leaving, Fast());
    EXPECT_EQ(leaving.Print(sender, Job(2)), SheetSender::kPrinted);
    EXPECT_EQ(leaving.leaves, 1);
    EXPECT_EQ(leaving.starts, 2);
    EXPECT_EQ(leaving.counter, 502);
    EXPECT_EQ(sender.Figures().resent, 0);
}

// An error that drops the sheets the printer held: the run ends with the
// sheets printed before it known, so that a run again prints the rest. A
// jam that drops only the sheet just started: that sheet goes again.
TEST(Delivery, SheetsDroppedAfterAnErrorAreCountedNotAssumedPrinted)
{
    FakePrinter printer;
    printer.printPolls = 50;
    printer.onStart = [&](int start, bool) {
        if (start == 3) {
            printer.held.push_back(printer.printPolls);   // taken...
            printer.refuseNext = true;
            printer.status = 1300;                        // ...then a jam drops what it held
            printer.errorPolls = 3;
            printer.dropOnError = true;
        }
    };
    SheetSender sender(printer, Fast());
    const SheetSender::Outcome outcome = printer.Print(sender, Job(4));
    EXPECT_EQ(outcome, SheetSender::kLost);
    const JobRecord record = sender.Delivered("S1");
    EXPECT_EQ(printer.counter, 500);
    EXPECT_EQ(record.printed, 0);
    EXPECT_EQ(record.taken, 3) << "the sheet whose START went out may be held: a run again asks the counter";

    FakePrinter jam;
    jam.onStart = [&](int start, bool) {
        if (start == 3) {
            jam.held.push_back(jam.printPolls);
            jam.refuseNext = true;
            jam.status = 1300;
            jam.errorPolls = 3;
            jam.dropOnError = true;
        }
    };
    SheetSender again(jam, Fast());
    jam.printPolls = 1;
    EXPECT_EQ(jam.Print(again, Job(4)), SheetSender::kPrinted);
    EXPECT_EQ(jam.counter, 504);
    EXPECT_EQ(jam.starts, 5);
}

// A job run again: the record says which sheets were printed and which the
// printer may still hold; the counter settles those, and only the missing
// sheets are sent.
TEST(Delivery, AJobRunAgainSendsOnlyTheMissingSheets)
{
    JobRecord record;
    record.serial = "S1";
    record.printed = 1;
    record.taken = 3;
    record.mark = 503;   // sheets 2 and 3 done at counter 503

    FakePrinter printedAll;
    printedAll.counter = 503;
    SheetSender all(printedAll, Fast());
    ASSERT_EQ(all.ResumeFrom(record, "S1"), SheetSender::kNeedData);
    EXPECT_EQ(printedAll.Print(all, Job(4)), SheetSender::kPrinted);
    EXPECT_EQ(printedAll.starts, 1);
    EXPECT_EQ(all.Figures().skipped, 3);
    EXPECT_EQ(printedAll.counter, 504);

    // The printer dropped sheet 3: sheets 3 and 4 go.
    FakePrinter dropped;
    dropped.counter = 502;
    SheetSender some(dropped, Fast());
    ASSERT_EQ(some.ResumeFrom(record, "S1"), SheetSender::kNeedData);
    EXPECT_EQ(dropped.Print(some, Job(4)), SheetSender::kPrinted);
    EXPECT_EQ(dropped.starts, 2);
    EXPECT_EQ(some.Delivered("S1").printed, 4);

    // Still printing them when the job runs again (a scheduler restarted):
    // waited for, then skipped.
    FakePrinter busy;
    busy.counter = 501;
    busy.held = {2, 2};
    SheetSender waiting(busy, Fast());
    ASSERT_EQ(waiting.ResumeFrom(record, "S1"), SheetSender::kNeedData);
    EXPECT_EQ(busy.Print(waiting, Job(4)), SheetSender::kPrinted);
    EXPECT_EQ(busy.starts, 1);

    // Stopped while it waits for them (a cancel, or the program leaving
    // the printer): the record stays as it was, not emptied.
    for (const bool cancel : {true, false}) {
        FakePrinter stuck;
        stuck.counter = 501;
        stuck.status = 1000;
        stuck.canceled = cancel;
        stuck.giveWay = [] { return true; };
        SheetSender stopped(stuck, Fast());
        EXPECT_EQ(stopped.ResumeFrom(record, "S1"), cancel ? SheetSender::kCanceled : SheetSender::kGaveWay);
        const JobRecord kept = stopped.Delivered("S1");
        EXPECT_EQ(kept.printed, 1);
        EXPECT_EQ(kept.taken, 3);
        EXPECT_EQ(kept.mark, 503);
    }

    // Another printer (the job moved on to a sister printer): the sheets
    // the first one took stay its own, which prints them once mended; only
    // the fourth goes here, and only it counts on this printer.
    FakePrinter other;
    SheetSender elsewhere(other, Fast());
    ASSERT_EQ(elsewhere.ResumeFrom(record, "S2"), SheetSender::kNeedData);
    EXPECT_EQ(other.Print(elsewhere, Job(4)), SheetSender::kPrinted);
    EXPECT_EQ(other.starts, 1);
    EXPECT_EQ(other.printedSizes.size(), 1u);
    EXPECT_EQ(elsewhere.JobSheetsPrinted(), 4);
    EXPECT_EQ(elsewhere.Delivered("S2").counted, 4);
}

// Only the filter's commands in its order pass, checked before a byte of
// them is sent; what a sender buffers stays within the largest sheet.
TEST(Delivery, StreamsThatAreNotTheFiltersAreRefusedBeforeAnyByteIsSent)
{
    const std::vector<std::vector<uint8_t>> bad = {
        Packet("CNTRL", "FIRMWARE", "00000000"),
        Packet("IMAGE", "YPLANE", Plane(16, 8)),   // no MULTICUT first
        Packet("CNTRL", "CUTTER", "0000000X"),
        Packet("IMAGE", "MULTICUT", "00000099"),
        std::vector<uint8_t>(40, 'x'),
    };
    for (const std::vector<uint8_t>& stream : bad) {
        FakePrinter printer;
        SheetSender sender(printer, Fast());
        EXPECT_EQ(printer.Print(sender, stream), SheetSender::kBadStream);
        EXPECT_EQ(printer.written, 0u) << sender.Reason();
        EXPECT_NE(std::string(sender.Reason()), "");
    }

    // A bad plane inside the second sheet: the first prints, the second
    // never reaches START and the printer is reset.
    std::vector<uint8_t> stream = Sheet();
    const std::vector<uint8_t> start = Sheet();
    stream.insert(stream.end(), start.begin(), start.begin() + 6 * 40);
    const std::vector<uint8_t> wide = Packet("IMAGE", "YPLANE", Plane(kHeadDots + 4, 2));
    stream.insert(stream.end(), wide.begin(), wide.end());
    FakePrinter printer;
    SheetSender sender(printer, Fast());
    EXPECT_EQ(printer.Print(sender, stream), SheetSender::kBadStream);
    sender.LeavePrinterClean();
    EXPECT_EQ(printer.starts, 1);
    EXPECT_LE(printer.resets, 1);

    // A stream without START is held no further than the largest sheet.
    SheetSender bounded(printer, Fast());
    const std::vector<uint8_t> head = Sheet();
    bounded.Append(head.data(), head.size() - 32);
    EXPECT_GT(bounded.Room(), kLargestSheetBytes - head.size());
    EXPECT_LT(kLargestSheetBytes, 21u * 1000 * 1000);
}

// Media that cannot print the page: nothing of the sheet is sent until the
// user loads media that can; a cancel ends the wait.
TEST(Delivery, ASheetWaitsForMediaThatPrintsIt)
{
    // Unanswered media queries (-1) say nothing: the sheet waits for an
    // answer that shows media printing it, not sent on a guess.
    int asked = 0;
    struct Loader : FakePrinter {
        int* asked;
        int Media() override
        {
            static const int kAnswers[] = {-1, 150, -1, -1, 150, 161};
            const int answer = kAnswers[std::min(*asked, 5)];
            ++*asked;
            return answer;
        }
    } loader;
    loader.asked = &asked;
    loader.onStart = [&](int, bool) { EXPECT_EQ(asked, 6); };
    SheetSender sender(loader, Fast());
    const std::vector<uint8_t> job = Sheet(51, true);
    EXPECT_EQ(loader.Print(sender, job), SheetSender::kPrinted);
    EXPECT_EQ(loader.mediaNeeded, (std::vector<int>{51, 0}));
    EXPECT_EQ(loader.starts, 1);

    const std::vector<uint8_t> stream = Sheet(52);
    struct Canceler : FakePrinter {
        int Media() override { canceled = polls++ > 5; return 150; }
    } cancel;
    SheetSender canceled(cancel, Fast());
    EXPECT_EQ(cancel.Print(canceled, stream), SheetSender::kCanceled);
    EXPECT_EQ(cancel.written, 0u);
}

// One rule until printed: errors the user mends are waited out however
// long; any other state without progress ends the wait.
TEST(Delivery, UntilPrintedWaitsOutUserErrorsButNotAStuckPrinter)
{
    SendTiming timing = Fast();
    timing.progressLimitMs = 30;
    FakePrinter door;
    door.onStart = [&](int, bool) {
        door.status = 1000;
        door.errorPolls = 3000;
    };
    door.printPolls = 2;
    SheetSender patient(door, timing);
    EXPECT_EQ(door.Print(patient, Job(1)), SheetSender::kPrinted);
    EXPECT_EQ(door.counter, 501);

    FakePrinter stuck;
    stuck.onStart = [&](int, bool) { stuck.status = 2000; };
    const std::vector<uint8_t> job = Job(1);
    SheetSender fresh(stuck, timing);
    fresh.Append(job.data(), job.size());
    fresh.EndData();
    EXPECT_EQ(fresh.Run(), SheetSender::kGaveUp);
    EXPECT_EQ(fresh.Delivered("S1").taken, 1) << "the undecided sheet stays in the record";
    EXPECT_EQ(stuck.starts, 1);
}

// The judge alone: a run that begins while the printer prints an earlier
// job's sheets counts from the hand-off mark.
TEST(Delivery, JudgeCountsFromTheHandOffMarkOfAnEarlierJob)
{
    DeliveryJudge judge;
    judge.Begin(1, 100, 102);   // printing; the earlier job is done at 102
    EXPECT_EQ(judge.Base(), 102);
    EXPECT_EQ(judge.AfterStart(1, 100), DeliveryJudge::kTaken);
    EXPECT_EQ(judge.JudgePrinted(1, 102), DeliveryJudge::kWaiting);
    EXPECT_EQ(judge.JudgePrinted(0, 103), DeliveryJudge::kPrinted);

    DeliveryJudge idle;
    idle.Begin(0, 100, 130);    // a stale mark: the printer holds nothing
    EXPECT_EQ(idle.Base(), 100);
    DeliveryJudge saving;
    saving.Begin(900, -1, -1);  // no counter while saving power: the first read after START
    EXPECT_EQ(saving.AfterStart(1, 77), DeliveryJudge::kTaken);
    EXPECT_EQ(saving.Mark(), 78);
}

// Records live in a folder of the user's only, one per job id and uuid.
TEST(Delivery, JobRecordsAreKeptPerJobAndOnlyInAPrivateFolder)
{
    char folder[] = "/tmp/rec.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = std::string(folder) + "/jobs";
    JobRecords records(dir);
    ASSERT_TRUE(records.Usable());
    struct stat info {};
    ASSERT_EQ(stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    const char* uuid = "urn:uuid:0b6ad2b4-7a0e-3b1c-5f3e-1d2c3b4a5f60";
    EXPECT_FALSE(records.Choose("12", "urn:uuid:../../etc/passwd"));
    EXPECT_FALSE(records.Choose("1/2", uuid));
    ASSERT_TRUE(records.Choose("12", uuid));
    JobRecord record;
    EXPECT_FALSE(records.Load(&record));
    record.serial = "S1";
    record.printed = 2;
    record.taken = 3;
    record.mark = 1234;
    ASSERT_TRUE(records.Save(record));
    JobRecord loaded;
    ASSERT_TRUE(records.Load(&loaded));
    EXPECT_EQ(loaded.printed, 2);
    EXPECT_EQ(loaded.taken, 3);
    EXPECT_EQ(loaded.mark, 1234);
    JobRecords other(dir);
    ASSERT_TRUE(other.Choose("13", uuid));
    EXPECT_FALSE(other.Load(&loaded));
    records.SetHandoffMark("S1", 77);
    EXPECT_EQ(other.HandoffMark("S1"), 77);
    // Cleaning goes by age: records two hours old go, a fresh one stays.
    // (Ages are set on the files; a file's time may run a second ahead of time().)
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        std::filesystem::last_write_time(entry.path(), entry.last_write_time() - std::chrono::hours(2));
    ASSERT_TRUE(other.Save(record));
    records.CleanOld(3600);
    EXPECT_FALSE(records.Load(&loaded));
    EXPECT_EQ(records.HandoffMark("S1"), -1);
    EXPECT_TRUE(other.Load(&loaded));

    // A folder others may read keeps no records.
    chmod(dir.c_str(), 0755);
    EXPECT_FALSE(JobRecords(dir).Usable());

    // A record of a version that counted nothing: what it knew printed
    // counts as counted, so that a run again does not count it twice.
    const std::string old = std::string(folder) + "/old";
    JobRecords older(old);
    ASSERT_TRUE(older.Choose("14", uuid));
    std::FILE* file = std::fopen((old + "/job-14-" + std::string(uuid + 9)).c_str(), "w");
    std::fputs("serial=S1\nprinted=2\ntaken=3\nmark=9\nscheduler=0\n", file);
    std::fclose(file);
    ASSERT_TRUE(older.Load(&loaded));
    EXPECT_EQ(loaded.counted, 2);
    std::filesystem::remove_all(folder);
}

// Each printer's count per page size adds up across programs, refuses
// names that would leave its folder, and keeps a broken file aside rather
// than counting from zero over it.
TEST(Delivery, PrinterCountsAddUpPerSizeInAPrivateFolder)
{
    using namespace vantora_delivery;
    char folder[] = "/tmp/cnt.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = std::string(folder) + "/counts";
    ASSERT_TRUE(AddPrintedSheets(dir, "S1", "102x153mm"));
    ASSERT_TRUE(AddPrintedSheets(dir, "S1", "102x153mm", 2));
    ASSERT_TRUE(AddPrintedSheets(dir, "S1", "115x204mm"));
    ASSERT_TRUE(AddPrintedSheets(dir, "S2", "102x102mm"));
    PrinterCount count;
    ASSERT_TRUE(ReadPrinterCount(dir, "S1", &count));
    EXPECT_EQ(count.total, 4);
    EXPECT_EQ(count.sizes["102x153mm"], 3);
    EXPECT_EQ(count.sizes["115x204mm"], 1);
    EXPECT_EQ(count.sizes.size(), 2u);
    struct stat info {};
    ASSERT_EQ(stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    EXPECT_FALSE(AddPrintedSheets(dir, "../S1", "102x153mm"));
    EXPECT_FALSE(AddPrintedSheets(dir, "S1", "../x"));
    EXPECT_FALSE(AddPrintedSheets(dir, "S1", "total"));
    EXPECT_FALSE(AddPrintedSheets(dir, "S1", "102x153mm", 0));
    EXPECT_FALSE(ReadPrinterCount(dir, "S3", &count));

    std::FILE* file = std::fopen((dir + "/S2").c_str(), "w");
    std::fputs("total=5\n102x102mm=oops\n", file);
    std::fclose(file);
    EXPECT_FALSE(ReadPrinterCount(dir, "S2", &count));
    ASSERT_TRUE(AddPrintedSheets(dir, "S2", "102x102mm"));
    ASSERT_TRUE(ReadPrinterCount(dir, "S2", &count));
    EXPECT_EQ(count.total, 1);
    EXPECT_TRUE(std::filesystem::exists(dir + "/S2.broken"));

    // A folder others may enter keeps no counts.
    chmod(dir.c_str(), 0755);
    EXPECT_FALSE(AddPrintedSheets(dir, "S1", "102x153mm"));
    std::filesystem::remove_all(folder);
}

}  // namespace
