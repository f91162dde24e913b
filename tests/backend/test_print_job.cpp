// The backend's print loop and discovery against the emulated RT-50 on
// umockdev, with real libusb: jobs that print, printers that run out of
// paper, leave the bus, stall, halt or are busy, and cancelled jobs.
#include "BackendMain.h"
#include "CancelSignal.h"
#include "JobFiles.h"
#include "BackendJob.h"
#include "DiscoveryLine.h"
#include "PrinterFinder.h"
#include "Rt50EmulatorFixture.h"
#include "UsbTestClient.h"
#include "UsbTransfer.h"

#include <cups/backend.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace vantora_backend;

// A job of one sheet per size; the recorded sheets tell by their size which
// sheet of the job they are.
std::vector<uint8_t> Job(const std::vector<std::pair<int, int>>& sizes, int multicut = 48)
{
    std::vector<uint8_t> job;
    for (const auto& [width, height] : sizes) {
        const std::vector<uint8_t> sheet = rt50test::SheetJob(width, height, multicut);
        job.insert(job.end(), sheet.begin(), sheet.end());
    }
    return job;
}

class BackendPrint : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        Rt50EmulatorTest::SetUp();
        char folder[] = "/tmp/bkx.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_exchange = folder;
        ASSERT_EQ(libusb_init(&m_usb), 0);
        ClearCancel();
        signal(SIGPIPE, SIG_IGN);   // a cancelled job closes the pipe its writer still fills
        UsbTimeouts timeouts;
        timeouts.bulkMs = 500;
        SetUsbTimeouts(timeouts);
        settings.serial = serial();
        settings.transferTimeoutMs = 200;
        settings.statusIntervalMs = 50;
        settings.stallLimitMs = 1500;
        settings.replugWaitMs = 5000;
        settings.lookIntervalMs = 50;
        settings.busyIntervalMs = 20;
        settings.jobId = "7";
        settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f0";
        settings.recordsFolder = m_exchange + "/records";
    }

    void TearDown() override
    {
        libusb_exit(m_usb);
        std::error_code error;
        std::filesystem::remove_all(m_exchange, error);
        Rt50EmulatorTest::TearDown();
    }



    // Waits up to 10 s for `done`, checking every 5 ms.
    bool WaitUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Runs the job with `stream` on a pipe; `during` runs on a thread of its
    // own meanwhile. The backend's messages land in `log`.
    int Print(const std::vector<uint8_t>& stream, const std::function<void()>& during = {})
    {
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        settings.input = pipeFds[0];
        std::thread writer([&] {
            size_t at = 0;
            while (at < stream.size()) {
                const ssize_t put = write(pipeFds[1], stream.data() + at, stream.size() - at);
                if (put <= 0)
                    break;
                at += static_cast<size_t>(put);
            }
            close(pipeFds[1]);
        });
        std::thread helper([&] {
            if (during)
                during();
        });
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        JobFiles files(m_exchange);
        CupsMessages messages(out);
        const int code = RunBackendJob(m_usb, settings, files, messages, &figures);
        messages.SetReasons({});
        files.RemoveAll();
        ClearCancel();   // a cancel ends the job; the writer may still be blocked
        close(pipeFds[0]);
        writer.join();
        helper.join();
        std::fclose(out);
        log.assign(text, size);
        std::free(text);
        return code;
    }

    // Starts the backend program as the scheduler does, on the job `file`,
    // or on `input` (its standard input) when `file` is empty; its messages
    // go to the file `messages`. The process id, or -1.
    pid_t StartBackend(const std::string& file, int input, const std::string& messages)
    {
        const std::string uri = "DEVICE_URI=vantora-zpxbackend://VANTORA/RT-50?serial=" + serial();
        const std::string records = "VANTORA_RT50_JOB_RECORDS=" + settings.recordsFolder;
        std::vector<char*> env;
        for (char** variable = environ; *variable != nullptr; ++variable)
            env.push_back(*variable);
        env.push_back(const_cast<char*>(uri.c_str()));
        env.push_back(const_cast<char*>(records.c_str()));
        env.push_back(nullptr);
        const std::string options = "job-uuid=" + settings.jobUuid;
        char program[] = VANTORA_BACKEND_PROGRAM;
        std::vector<char*> argv = {program, const_cast<char*>("7"), const_cast<char*>("user"),
                                   const_cast<char*>("title"), const_cast<char*>("1"),
                                   const_cast<char*>(options.c_str())};
        if (!file.empty())
            argv.push_back(const_cast<char*>(file.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (input >= 0)
            posix_spawn_file_actions_adddup2(&actions, input, 0);
        posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t backend = -1;
        if (posix_spawn(&backend, program, &actions, nullptr, argv.data(), env.data()) != 0)
            backend = -1;
        posix_spawn_file_actions_destroy(&actions);
        return backend;
    }

    // Sizes of the recorded sheets, in printing order.
    std::vector<std::pair<int, int>> Sheets()
    {
        std::vector<std::pair<int, int>> sheets;
        for (int number = 1;; ++number) {
            char name[64];
            std::snprintf(name, sizeof name, "/%s-sheet-%04d.txt", serial().c_str(), number);
            std::ifstream record(outputFolder() + name);
            if (!record)
                return sheets;
            std::pair<int, int> size{0, 0};
            std::string line;
            while (std::getline(record, line)) {
                if (line.rfind("WIDTH=", 0) == 0)
                    size.first = std::stoi(line.substr(6));
                if (line.rfind("HEIGHT=", 0) == 0)
                    size.second = std::stoi(line.substr(7));
            }
            sheets.push_back(size);
        }
    }

    bool Logged(const std::string& line) const { return log.find(line + "\n") != std::string::npos; }

    std::string PausePath() const
    {
        return m_exchange + "/Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + serial();
    }

    BackendJobSettings settings;
    JobFigures figures;
    std::string log;
    libusb_context* m_usb = nullptr;
    std::string m_exchange;
};

using Sizes = std::vector<std::pair<int, int>>;

TEST_F(BackendPrint, PrintsEverySheetWhileHoldingThePrinterAndReportsMedia)
{
    Control("set " + serial() + " remain 150");
    Control("set " + serial() + " rate 4000000");
    std::atomic<bool> pausedWhilePrinting{false};
    const int code = Print(Job({{64, 40}, {48, 30}, {1408, 600}}), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("stream").rfind("payload", 0) == 0; }));
        pausedWhilePrinting = access(PausePath().c_str(), F_OK) == 0;
        // The bulk OUT endpoint halts in the middle of the job.
        Control("fault " + serial() + " stall out");
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {48, 30}, {1408, 600}}));
    EXPECT_EQ(figures.sheets, 3);
    EXPECT_TRUE(pausedWhilePrinting);
    EXPECT_NE(access(PausePath().c_str(), F_OK), 0) << "the pause file outlives the job";
    EXPECT_TRUE(Logged("ATTR: marker-types=inkCartridge")) << log;
    EXPECT_TRUE(Logged("ATTR: marker-levels=50")) << log;
    EXPECT_TRUE(Logged("INFO: Job sent: 3 sheets")) << log;
    // The halt meets job data (the halt is cleared, nothing is sent twice)
    // or a status query between packets (a reset, the sheet is sent again).
    if (Logged("DEBUG: Bulk transfer failed (halted)"))
        EXPECT_EQ(figures.resent, 0) << log;
    else
        EXPECT_NE(log.find("DEBUG: Printer reset; sheet"), std::string::npos) << log;
    EXPECT_EQ(Shown("stream"), "idle");
    EXPECT_EQ(Shown("errors"), "0");
}

// Errors the user mends at the printer are waited out; a sheet the printer
// refused is sent again, once.
TEST_F(BackendPrint, WaitsOutPaperEndAndDoorOpenAndSendsTheRefusedSheetAgain)
{
    Control("set " + serial() + " remain 1");
    const int code = Print(Job({{64, 40}, {48, 30}}), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("status") == "1100"; }));
        // The backend asks for the status after the refused START (its next
        // OUT transfer) before the user opens the door to load paper.
        const std::string sent = Shown("outcount");
        ASSERT_TRUE(WaitUntil([&] { return Shown("outcount") != sent; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Control("set " + serial() + " status 1000");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Control("set " + serial() + " remain 50");
        Control("set " + serial() + " status 0");
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {48, 30}}));
    EXPECT_EQ(figures.resent, 1);
    EXPECT_TRUE(Logged("STATE: +media-empty-error")) << log;
    EXPECT_TRUE(Logged("STATE: +door-open-error")) << log;
    EXPECT_TRUE(Logged("STATE: -door-open-error")) << log;
}

// Unplugged inside a plane: the backend waits, and after the replug the
// sheet is sent again from its start; sheets the printer took before are not.
TEST_F(BackendPrint, UnpluggedMidPlaneResumesAfterReplugWithoutLosingOrDoublingSheets)
{
    Control("fault " + serial() + " unplugafter 3000000");
    const int code = Print(Job({{64, 40}, {1408, 900}}), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("plugged") == "0"; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Control("plug " + serial());
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {1408, 900}}));
    EXPECT_EQ(figures.resent, 1);
    EXPECT_TRUE(Logged("STATE: +offline-report")) << log;
    EXPECT_EQ(Shown("errors"), "0");
}

// A printer that does not come back, or stops taking data, never ends the
// job as done: CUPS retries it, and the printer is left without a cut packet.
TEST_F(BackendPrint, LostOrStalledPrinterEndsTheJobForARetry)
{
    settings.replugWaitMs = 300;
    Control("fault " + serial() + " unplugafter 1000000");
    EXPECT_EQ(Print(Job({{1408, 900}})), CUPS_BACKEND_RETRY) << log;
    EXPECT_NE(log.find("ERROR: The printer was unplugged during the job and did not come back"), std::string::npos)
        << log;
    EXPECT_TRUE(Sheets().empty());

    Control("plug " + serial());
    Control("set " + serial() + " rate 4000000");
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(Print(Job({{1408, 900}}), [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Shown("stream").rfind("payload", 0) == 0; }));
                  Control("fault " + serial() + " stallwrite 0");
              }),
              CUPS_BACKEND_RETRY)
        << log;
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(8));
    EXPECT_NE(log.find("ERROR: The printer has stopped taking data; the job will be retried"), std::string::npos)
        << log;
    Control("fault " + serial() + " clear");
    Control("set " + serial() + " rate 40000000");
    EXPECT_TRUE(Sheets().empty());
    // The retried job prints.
    settings.replugWaitMs = 5000;
    EXPECT_EQ(Print(Job({{64, 40}})), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}}));
    EXPECT_EQ(Shown("errors"), "0");
}

// Cancelled inside a plane: the printer forgets the cut packet and the
// unfinished sheet, so the next job prints as it should.
TEST_F(BackendPrint, CancelledMidPlaneLeavesTheNextJobIntact)
{
    Control("set " + serial() + " rate 4000000");
    const int code = Print(Job({{1408, 1800}}), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("stream").rfind("payload", 0) == 0; }));
        RequestCancel();
    });
    // Not done: a scheduler that stops the job runs it again; a cancelled
    // job stays cancelled.
    EXPECT_EQ(code, CUPS_BACKEND_RETRY) << log;
    EXPECT_TRUE(Logged("INFO: Job stopped")) << log;
    EXPECT_EQ(Shown("stream"), "idle");
    Control("set " + serial() + " rate 0");
    EXPECT_EQ(Print(Job({{64, 40}})), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}}));
    EXPECT_EQ(Shown("errors"), "0");
}

// A printer that is not there yet, is busy, has a halted endpoint or was
// left inside a command by a client that died still gets the job.
TEST_F(BackendPrint, WaitsForAbsentOrBusyPrintersAndRecoversConfusedOnes)
{
    Control("unplug " + serial());
    EXPECT_EQ(Print(Job({{64, 40}}), [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
                  Control("plug " + serial());
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_TRUE(Logged("INFO: Waiting for printer to become available.")) << log;

    // Another program holds the printer (the daemon in its cycle), and the
    // client before it died inside a plane.
    rt50test::UsbClient other;
    ASSERT_TRUE(other.Start());
    ASSERT_TRUE(other.WaitFor(2000, [&] { return other.Arrivals() >= 1; }));
    ASSERT_EQ(other.Open(), 0);
    const std::vector<uint8_t> cut = Job({{1408, 100}});
    ASSERT_EQ(other.Send(std::vector<uint8_t>(cut.begin(), cut.begin() + 5000)), 0);
    EXPECT_EQ(Print(Job({{48, 30}}), [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
                  other.Close();
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_TRUE(Logged("INFO: Waiting for the printer: another program is using it")) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {48, 30}}));
    EXPECT_EQ(Shown("errors"), "0");
}

// A job ends once its sheets are printed, waiting out an error while they
// print, unless another job waits on the queue (or asking fails: then it
// waits as well); with another job waiting it ends when they are taken.
TEST_F(BackendPrint, EndsWhenItsSheetsArePrintedUnlessAnotherJobWaits)
{
    Control("set " + serial() + " printms 1500");
    std::atomic<int> asked{0};
    settings.otherJobsWaiting = [&] { ++asked; return -1; };
    std::string shownAtDoor;
    EXPECT_EQ(Print(Job({{64, 40}, {48, 30}}), [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Shown("status") == "1" && asked > 0; }));
                  Control("set " + serial() + " status 1000");
                  std::this_thread::sleep_for(std::chrono::milliseconds(300));
                  Control("set " + serial() + " status 0");
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_EQ(Shown("printed"), "2") << log;
    EXPECT_TRUE(figures.waitedForPrint);
    EXPECT_TRUE(Logged("STATE: +door-open-error")) << log;
    EXPECT_TRUE(Logged("INFO: Job printed: 2 sheets")) << log;

    // Another job waits: this one ends while its sheet still prints.
    settings.otherJobsWaiting = [] { return 1; };
    EXPECT_EQ(Print(Job({{64, 40}})), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Shown("printed"), "2");
    EXPECT_EQ(Shown("status"), "1");
    EXPECT_FALSE(figures.waitedForPrint);

    // The next job comes while this one waits for its sheet.
    ASSERT_TRUE(WaitUntil([&] { return Shown("printed") == "3"; }));
    std::atomic<bool> queued{false};
    settings.otherJobsWaiting = [&] { return queued ? 1 : 0; };
    EXPECT_EQ(Print(Job({{64, 40}}), [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Shown("status") == "1"; }));
                  queued = true;
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_EQ(Shown("printed"), "3");
    EXPECT_FALSE(figures.waitedForPrint);
}

// The door opens as the printer begins a sheet: the status after its START
// shows the error, yet the printer took the sheet. It prints once when the
// door closes, never twice.
TEST_F(BackendPrint, ADoorOpenedJustAfterStartDoesNotDoubleTheSheet)
{
    Control("fault " + serial() + " afterstart 1000");
    const int code = Print(Job({{64, 40}, {48, 30}}), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("status") == "1000"; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        Control("set " + serial() + " status 0");
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {48, 30}}));
    EXPECT_EQ(Shown("printed"), "2");
    EXPECT_EQ(figures.resent, 0) << log;
    EXPECT_EQ(figures.undecided, 1) << log;
    EXPECT_TRUE(Logged("STATE: +door-open-error")) << log;
}

// A job run again (a retry, a scheduler that stopped, a printer back after
// the grace time) prints only the sheets its earlier runs did not.
TEST_F(BackendPrint, AJobRunAgainPrintsOnlyTheMissingSheets)
{
    const std::vector<uint8_t> job = Job({{64, 40}, {1408, 900}, {48, 30}});
    // Unplugged inside sheet 2 and not back in time: a retry.
    settings.replugWaitMs = 300;
    Control("fault " + serial() + " unplugafter " + std::to_string(job.size() / 3 + 200000));
    EXPECT_EQ(Print(job), CUPS_BACKEND_RETRY) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}}));
    Control("plug " + serial());
    // The scheduler stops (SIGTERM) while sheet 2 is sent.
    Control("set " + serial() + " rate 4000000");
    EXPECT_EQ(Print(job, [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Shown("stream").rfind("payload", 0) == 0; }));
                  RequestCancel();
              }),
              CUPS_BACKEND_RETRY)
        << log;
    EXPECT_TRUE(Logged("INFO: The job ran before: 0 sheets printed, 1 more taken by the printer")) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}}));
    EXPECT_EQ(Shown("stream"), "idle") << "the printer is left without a cut plane";
    Control("set " + serial() + " rate 0");
    EXPECT_EQ(Print(job), CUPS_BACKEND_OK) << log;
    EXPECT_TRUE(Logged("INFO: The job ran before: 1 sheet printed, 0 more taken by the printer")) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {1408, 900}, {48, 30}}));
    EXPECT_EQ(figures.skipped, 1);
    EXPECT_TRUE(std::filesystem::is_empty(settings.recordsFolder)) << "the record outlives the job";

    // Every sheet taken, then the printer leaves while it prints them and
    // is back only after the grace time: the run again finds them printed.
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f1";
    Control("set " + serial() + " printms 600");
    EXPECT_EQ(Print(job, [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Sheets().size() == 6; }));
                  Control("unplug " + serial());
              }),
              CUPS_BACKEND_RETRY)
        << log;
    Control("plug " + serial());
    EXPECT_EQ(Print(job), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(figures.skipped, 3) << log;
    EXPECT_EQ(Shown("printed"), "6");
    EXPECT_EQ(Sheets().size(), 6u);

    // A job that ended, run again by a scheduler restarted before it learnt
    // of the end: nothing is printed twice. The same scheduler running it
    // again was asked to print it anew (restart-job).
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f2";
    settings.scheduler = 100;
    const std::vector<uint8_t> one = Job({{64, 40}});
    EXPECT_EQ(Print(one), CUPS_BACKEND_OK) << log;
    settings.scheduler = 101;
    EXPECT_EQ(Print(one), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(figures.skipped, 1) << log;
    EXPECT_EQ(Sheets().size(), 7u);
    EXPECT_EQ(Print(one), CUPS_BACKEND_OK) << log;
    EXPECT_TRUE(Logged("INFO: The job is printed anew")) << log;
    EXPECT_EQ(Sheets().size(), 8u);
}

// A backend killed in the middle of a sheet (the scheduler stops with
// SIGKILL): the printer is free again at once, and the job run again
// prints the missing sheets.
TEST_F(BackendPrint, AKilledBackendLeavesThePrinterToTheJobRunAgain)
{
    const std::vector<uint8_t> job = Job({{64, 40}, {1408, 900}});
    const std::string file = m_exchange + "/job";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    }
    Control("set " + serial() + " rate 2000000");
    const pid_t backend = StartBackend(file, -1, "/dev/null");
    ASSERT_GT(backend, 0);
    const bool sending = WaitUntil([&] { return Sheets().size() == 1 && Shown("stream").rfind("payload", 0) == 0; });
    kill(backend, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(backend, &status, 0), backend);
    ASSERT_TRUE(sending) << Shown("stream");

    Control("set " + serial() + " rate 0");
    const int code = Print(job, [&] {
        // Not free again within a minute: the job gives up.
        for (int i = 0; i < 600 && Sheets().size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (Sheets().size() < 2)
            RequestCancel();
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_FALSE(Logged("INFO: Waiting for the printer: another program is using it")) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {1408, 900}}));
}

// The scheduler stops while the backend waits for the job's first data: it
// sends SIGTERM to the filter and the backend, and the filter may end its
// output first. The backend never reports such a job done, leaves the
// printer free, and the job run again prints each sheet once.
TEST_F(BackendPrint, AJobStoppedBeforeItsFirstDataIsNeverDoneAndPrintsOnceWhenRunAgain)
{
    const std::string messages = m_exchange + "/messages";
    for (const bool dataEnds : {false, true}) {
        SCOPED_TRACE(dataEnds ? "the filter ended first" : "the filter still runs");
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const pid_t backend = StartBackend("", pipeFds[0], messages);
        close(pipeFds[0]);
        ASSERT_GT(backend, 0);
        const auto said = [&](const char* line) {
            std::ifstream in(messages);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            return text.find(line) != std::string::npos;
        };
        const bool waiting = WaitUntil([&] { return said("INFO: Connected to the printer"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));   // into its first read
        if (dataEnds)
            close(pipeFds[1]);
        kill(backend, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(backend, &status, 0), backend);
        if (!dataEnds)
            close(pipeFds[1]);
        EXPECT_TRUE(waiting);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), CUPS_BACKEND_RETRY);
    }
    EXPECT_TRUE(Sheets().empty());

    EXPECT_EQ(Print(Job({{64, 40}, {1408, 900}})), CUPS_BACKEND_OK) << log;
    EXPECT_FALSE(Logged("INFO: Waiting for the printer: another program is using it")) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {1408, 900}}));
    EXPECT_TRUE(std::filesystem::is_empty(settings.recordsFolder)) << "the record outlives the job";
}

// Data without a sheet (a filter that refused the job, an empty document)
// ends the job at once: the filter's status decides it, a retry would only
// be refused again. The printer is left as it was.
TEST_F(BackendPrint, DataWithoutASheetEndsTheJobWithoutARetry)
{
    const std::vector<uint8_t> clockOnly = rt50test::Packet("CNTRL", "SET_SYS_TIME",
                                                            {'2', '0', '2', '6', '0', '1', '0', '2', '0', '3', '0',
                                                             '4', '0', '5', '\r', '\0'});
    for (const std::vector<uint8_t>& data : {std::vector<uint8_t>{}, clockOnly}) {
        EXPECT_EQ(Print(data), CUPS_BACKEND_OK) << log;
        EXPECT_FALSE(Logged("ERROR:")) << log;
        EXPECT_FALSE(Logged("retried")) << log;
    }
    EXPECT_TRUE(Sheets().empty());
    EXPECT_EQ(Shown("stream"), "idle");
    EXPECT_EQ(Print(Job({{64, 40}})), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}}));
}

// Media that cannot print the job's page: nothing is sent, the job waits
// with media-needed, and prints once the right media is loaded.
TEST_F(BackendPrint, WrongMediaWaitsWithMediaNeededUntilTheRightMediaIsLoaded)
{
    const int code = Print(Job({{1408, 60}}, 51), [&] {
        ASSERT_TRUE(WaitUntil([&] { return Shown("outcount") != "0"; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Control("set " + serial() + " media 161");
    });
    EXPECT_EQ(code, CUPS_BACKEND_OK) << log;
    EXPECT_TRUE(Logged("STATE: +media-needed")) << log;
    EXPECT_TRUE(Logged("STATE: -media-needed")) << log;
    EXPECT_NE(log.find("INFO: Media needed: the 115x153mm page needs 4.5x8in media (code 161); the printer has 4x6in "
                       "media (code 150)"),
              std::string::npos)
        << log;
    EXPECT_EQ(Sheets(), (Sizes{{1408, 60}}));
    EXPECT_EQ(Shown("errors"), "0");
    EXPECT_EQ(Shown("status"), "0");

    // Cancelled while it waits: nothing reached the printer.
    Control("set " + serial() + " media 150");
    EXPECT_EQ(Print(Job({{1408, 60}}, 52), [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(300));
                  RequestCancel();
              }),
              CUPS_BACKEND_RETRY);
    EXPECT_EQ(Sheets().size(), 1u);
    EXPECT_EQ(Shown("stream"), "idle");
}

// A raw job of anything but the filter's commands ends with ERROR: and
// nothing of it reaches the printer.
TEST_F(BackendPrint, RawStreamsOfUnknownCommandsAreRefused)
{
    std::vector<uint8_t> raw = rt50test::Packet("CNTRL", "FIRMWARE", {'0', '0', '0', '0', '0', '0', '0', '1'});
    const std::vector<uint8_t> sheet = rt50test::SheetJob(64, 40);
    raw.insert(raw.end(), sheet.begin(), sheet.end());
    EXPECT_EQ(Print(raw), CUPS_BACKEND_FAILED);
    EXPECT_NE(log.find("ERROR: Refused the job: the command CNTRL FIRMWARE is not one the RT-50's filter writes"),
              std::string::npos)
        << log;
    EXPECT_EQ(Print(std::vector<uint8_t>(5000, 'x')), CUPS_BACKEND_FAILED);
    EXPECT_TRUE(Sheets().empty());
    EXPECT_EQ(Shown("errors"), "0");
    EXPECT_EQ(Shown("lasterror"), "");
}

// Discovery lists each RT-50 once with its URI, also while it is busy, and
// the program refuses a device URI without a usable serial number.
TEST_F(BackendPrint, ListsPrintersAndRefusesUrisWithoutASerial)
{
    ASSERT_TRUE(emulator().AddPrinter("RT50TEST0002"));
    std::vector<FoundPrinter> printers = ListPrinters(m_usb, SerialSource::kAskPrinter);
    ASSERT_EQ(printers.size(), 2u);
    rt50test::UsbClient other;
    ASSERT_TRUE(other.Start());
    ASSERT_TRUE(other.WaitFor(2000, [&] { return other.Arrivals() >= 2; }));
    ASSERT_EQ(other.Open(), 0);
    printers = ListPrinters(m_usb, SerialSource::kAskPrinter);
    ASSERT_EQ(printers.size(), 2u);
    std::set<std::string> lines;
    int busy = 0;
    for (const FoundPrinter& printer : printers) {
        lines.insert(DiscoveryLine(printer));
        busy += printer.busy;
    }
    EXPECT_EQ(busy, 1);
    const std::string id = "MFG:VANTORA;MDL:RT-50;CMD:ZPX;DES:VANTORA RT-50 Photo Printer;CLS:PRINTER;SN:";
    EXPECT_EQ(lines, (std::set<std::string>{
                         "direct vantora-zpxbackend://VANTORA/RT-50?serial=RT50TEST0001 \"VANTORA RT-50\" \"VANTORA "
                         "RT-50 (serial RT50TEST0001)\" \"" + id + "RT50TEST0001;\" \"\"",
                         "direct vantora-zpxbackend://VANTORA/RT-50?serial=RT50TEST0002 \"VANTORA RT-50\" \"VANTORA "
                         "RT-50 (serial RT50TEST0002)\" \"" + id + "RT50TEST0002;\" \"\""}));

    FoundPrinter odd;
    odd.serial = "../x";
    odd.serialValid = false;
    EXPECT_EQ(DiscoveryLine(odd), "");
    FoundPrinter quoted;
    quoted.serial = "Q1";
    quoted.serialValid = true;
    quoted.model = "RT-50\" \"x";
    quoted.deviceId = "MODEL:RT-50;\n";
    EXPECT_EQ(DiscoveryLine(quoted), "direct vantora-zpxbackend://VANTORA/RT-50?serial=Q1 \"VANTORA RT-50? ?x\" "
                                     "\"VANTORA RT-50? ?x (serial Q1)\" \"MDL:RT-50;?;\" \"\"");

    // A serial the daemon refuses (64 characters) is not cut to one it takes.
    Control("set RT50TEST0002 serialno " + std::string(64, 'A'));
    printers = ListPrinters(m_usb, SerialSource::kAskPrinter);
    int refused = 0;
    for (const FoundPrinter& printer : printers)
        refused += printer.serial.size() == 64 && !printer.serialValid && DiscoveryLine(printer).empty();
    EXPECT_EQ(refused, 1);

    for (const char* uri : {"vantora-zpxbackend://VANTORA/RT-50?serial=../../etc",
                            "vantora-zpxbackend://VANTORA/RT-50?serial=", "usb://VANTORA/RT-50?serial=A1"}) {
        setenv("DEVICE_URI", uri, 1);
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        char* argv[] = {const_cast<char*>("vantora-zpxbackend"), const_cast<char*>("1"), const_cast<char*>("u"),
                        const_cast<char*>("t"), const_cast<char*>("1"), const_cast<char*>(""), nullptr};
        EXPECT_EQ(RunBackend(6, argv, out, out), CUPS_BACKEND_STOP) << uri;
        std::fclose(out);
        EXPECT_NE(std::string(text, size).find("ERROR: The device URI names no RT-50 serial number"),
                  std::string::npos);
        std::free(text);
    }
    unsetenv("DEVICE_URI");
}

}  // namespace
