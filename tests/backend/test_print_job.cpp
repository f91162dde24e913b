// The backend's print loop and discovery against the emulated RT-50 on
// umockdev, with real libusb: jobs that print, printers that run out of
// paper, leave the bus, stall, halt or are busy, and cancelled jobs.
#include "BackendMain.h"
#include "CancelSignal.h"
#include "JobFiles.h"
#include "BackendJob.h"
#include "PrinterCounts.h"
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
#include <sys/stat.h>
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
        if (code != CUPS_BACKEND_STOP)   // as the program does: a stopped queue keeps its reasons
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
    std::vector<std::pair<int, int>> Sheets() { return SheetsOf(serial()); }
    std::vector<std::pair<int, int>> SheetsOf(const std::string& printerSerial)
    {
        std::vector<std::pair<int, int>> sheets;
        for (int number = 1;; ++number) {
            char name[64];
            std::snprintf(name, sizeof name, "/%s-sheet-%04d.txt", printerSerial.c_str(), number);
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

// The daemon stays off a printer while its backend prints, so the backend
// keeps the status file of a watched printer: a door opened during the job
// shows within a few seconds, then printing and ready again, with the media
// remaining and the life counter as the job left them. An unwatched
// printer's file is left alone.
TEST_F(BackendPrint, KeepsAWatchedPrintersStatusFileTrueDuringTheJob)
{
    const std::string status = m_exchange + "/RT-50_" + serial() + ".log";
    auto value = [&](const std::string& key) {
        std::ifstream file(status);
        const std::string text = "\n" + std::string(std::istreambuf_iterator<char>(file), {});
        const size_t at = text.find("\n" + key + "=\"");
        if (at == std::string::npos)
            return std::string("?");
        const size_t begin = at + key.size() + 3;
        return text.substr(begin, text.find('"', begin) - begin);
    };
    Control("set " + serial() + " counter 40");
    Control("set " + serial() + " remain 120");
    ASSERT_EQ(Print(Job({{64, 40}})), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(access(status.c_str(), F_OK), -1);

    std::fclose(std::fopen((m_exchange + "/RT-50_" + serial() + "_UTIL").c_str(), "w"));
    Control("set " + serial() + " printms 1500");
    std::string shown;
    EXPECT_EQ(Print(Job({{64, 40}, {48, 30}}), [&] {
                  ASSERT_TRUE(WaitUntil([&] { return Shown("status") == "1"; }));
                  Control("set " + serial() + " status 1000");
                  ASSERT_TRUE(WaitUntil([&] { return value("PRINTER_STATUS") == "01000"; }));
                  shown = value("PRINTER_MESSAGE") + " " + value("PRINTER_SERIAL_NO") + " " + value("MEDIA_SIZE") +
                          " " + value("MEDIA_INITIAL") + " " + value("TOTAL_COUNT");
                  Control("set " + serial() + " status 0");
                  ASSERT_TRUE(WaitUntil([&] { return value("PRINTER_STATUS") != "01000"; }));
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_EQ(shown, "00100 " + serial() + " 150 300 41");
    EXPECT_EQ(Shown("printed"), "3");
    // The job ended once its sheets were printed: the file says so.
    EXPECT_EQ(value("PRINTER_STATUS"), "00000");
    EXPECT_EQ(value("TOTAL_COUNT"), "43");
    EXPECT_EQ(value("MEDIA_REMAIN"), "117");
    EXPECT_EQ(value("MODEL"), "RT-50");
    EXPECT_EQ(value("PRINTER_VERSION"), Shown("firmware"));
    struct stat info {};
    ASSERT_EQ(lstat(status.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666u);
    // Nothing but the file itself is left in the folder.
    int temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_exchange))
        temporaries += entry.path().filename().string().rfind(".RT-50_", 0) == 0 ? 1 : 0;
    EXPECT_EQ(temporaries, 0);

    // A printer saving power is not asked its counter: the count shown
    // stays until the job reads one. Media loaded while the job waits for
    // it is shown as soon as the job sees it.
    Control("set " + serial() + " status 900");
    Control("set " + serial() + " printms 100");
    std::string waiting;
    EXPECT_EQ(Print(Job({{1408, 60}}, 51), [&] {
                  ASSERT_TRUE(WaitUntil([&] { return value("PRINTER_STATUS") == "00900"; }));
                  waiting = value("TOTAL_COUNT") + " " + value("MEDIA_SIZE");
                  Control("set " + serial() + " media 161");
                  ASSERT_TRUE(WaitUntil([&] { return value("MEDIA_SIZE") == "161"; }));
                  Control("set " + serial() + " status 0");
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_EQ(waiting, "43 150");
    EXPECT_EQ(value("TOTAL_COUNT"), "44");
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
    // Stopped again while it waits for the printer to come back: the
    // record of the first run stays whole.
    EXPECT_EQ(Print(job, [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(300));
                  RequestCancel();
              }),
              CUPS_BACKEND_RETRY)
        << log;
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
    const size_t needed = log.find("INFO: Media needed: the 115x153mm page needs 4.5x8in media (code 161); the printer has "
                                   "4x6in media (code 150)");
    ASSERT_NE(needed, std::string::npos) << log;
    // The message stays while the job waits: no "Ready" replaces it.
    const size_t loaded = log.find("INFO: The loaded", needed);
    ASSERT_NE(loaded, std::string::npos) << log;
    EXPECT_EQ(log.substr(needed + 1, loaded - needed - 1).find("INFO:"), std::string::npos) << log;
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

// A job that came through a class leaves a printer that cannot print it:
// at ribbon end at once, unplugged or with its door open after a grace
// time, with the wrong media at once. The queue is stopped with its reason
// and a failover mark; the sister printer prints the job. A job sent to the
// queue itself waits as before.
TEST_F(BackendPrint, AClassJobLeavesAPrinterThatCannotPrintItForItsSister)
{
    const std::string sister = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(sister));
    const std::string marks = m_exchange + "/failover";
    settings.failoverFolder = marks;
    settings.countsFolder = m_exchange + "/counts";
    settings.queue = "VANTORA-RT-50";
    settings.jobClass = "kiosk";
    settings.absentGraceMs = 300;
    settings.failoverGraceMs = 600;
    const std::vector<uint8_t> job = Job({{64, 40}, {48, 30}});
    const auto markOf = [&](const std::string& printerSerial) {
        std::ifstream in(marks + "/" + printerSerial);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };

    // Sent to the queue itself, a job waits at ribbon end until mended.
    settings.jobClass.clear();
    Control("set " + serial() + " status 1200");
    EXPECT_EQ(Print(job, [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                  Control("set " + serial() + " status 0");
              }),
              CUPS_BACKEND_OK)
        << log;
    EXPECT_EQ(Sheets().size(), 2u);
    EXPECT_EQ(markOf(serial()), "");

    // Through a class: it leaves at once when a sister queue is enabled,
    // and waits while none is. The reason stays on the queue.
    settings.jobClass = "kiosk";
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f3";
    std::atomic<int> sisterReady{0};
    std::atomic<bool> leftEarly{false};
    settings.sisterReady = [&] { return sisterReady.load(); };
    Control("set " + serial() + " status 1200");
    auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(Print(job, [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                  leftEarly = markOf(serial()) != "";
                  sisterReady = 1;
                  begun = std::chrono::steady_clock::now();
              }),
              CUPS_BACKEND_STOP)
        << log;
    EXPECT_FALSE(leftEarly) << "left while no sister queue was enabled";
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(8));
    EXPECT_TRUE(Logged("STATE: +marker-print-ribbon-empty-error")) << log;
    EXPECT_FALSE(Logged("STATE: -marker-print-ribbon-empty-error")) << log;
    EXPECT_NE(log.find("the job goes on another printer of kiosk\n"), std::string::npos) << log;
    EXPECT_EQ(log.rfind("ERROR: "), log.rfind('\n', log.size() - 2) + 1) << "the reason is the last message: " << log;
    EXPECT_EQ(markOf(serial()).rfind("queue=VANTORA-RT-50\nreason=Ribbon end", 0), 0u) << markOf(serial());
    EXPECT_EQ(Sheets().size(), 2u);
    settings.serial = sister;
    EXPECT_EQ(Print(job), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(SheetsOf(sister), (Sizes{{64, 40}, {48, 30}}));
    EXPECT_TRUE(Logged("PAGE: total 2")) << log;

    // Unplugged, or with the door open past the grace time: it leaves too.
    settings.serial = serial();
    Control("set " + serial() + " status 0");
    Control("unplug " + serial());
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f4";
    EXPECT_EQ(Print(job), CUPS_BACKEND_STOP) << log;
    EXPECT_TRUE(Logged("STATE: +offline-report")) << log;
    EXPECT_FALSE(Logged("STATE: -offline-report")) << log;
    Control("plug " + serial());
    Control("set " + serial() + " status 1000");
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f5";
    const auto opened = std::chrono::steady_clock::now();
    EXPECT_EQ(Print(job), CUPS_BACKEND_STOP) << log;
    EXPECT_GE(std::chrono::steady_clock::now() - opened, std::chrono::milliseconds(600));
    EXPECT_TRUE(Logged("STATE: +door-open-error")) << log;

    // The wrong media for the job's page: at once, media-needed stays.
    Control("set " + serial() + " status 0");
    settings.jobUuid = "urn:uuid:5a1e2d3c-4b5a-3968-8776-a5b4c3d2e1f6";
    EXPECT_EQ(Print(Job({{1408, 60}}, 51)), CUPS_BACKEND_STOP) << log;
    EXPECT_TRUE(Logged("STATE: +media-needed")) << log;
    EXPECT_FALSE(Logged("STATE: -media-needed")) << log;
    EXPECT_NE(markOf(serial()).find("reason=Media needed: the 115x153mm page"), std::string::npos);
    EXPECT_EQ(Sheets().size(), 2u);
    EXPECT_EQ(Shown("errors"), "0");
}

// A class job that runs out of paper after the printer took some of its
// sheets: the sister printer prints only the sheets never taken; the
// first printer prints those it holds once mended. Every sheet once, and
// each printer counts its own.
TEST_F(BackendPrint, AClassJobMovedAfterSomeSheetsPrintsEachSheetOnceAndCountsThem)
{
    const std::string sister = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(sister));
    settings.failoverFolder = m_exchange + "/failover";
    settings.countsFolder = m_exchange + "/counts";
    settings.queue = "VANTORA-RT-50";
    settings.jobClass = "kiosk";
    const std::vector<uint8_t> job = Job({{64, 40}, {48, 30}, {1408, 90}, {96, 20}});
    // Two prints left: the third START finds no paper.
    Control("set " + serial() + " remain 2");
    Control("set " + serial() + " printms 400");
    EXPECT_EQ(Print(job), CUPS_BACKEND_STOP) << log;
    EXPECT_TRUE(Logged("STATE: +media-empty-error")) << log;
    const std::string first = log;

    settings.serial = sister;
    settings.scheduler = 200;
    EXPECT_EQ(Print(job), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(SheetsOf(sister), (Sizes{{1408, 90}, {96, 20}})) << first << log;
    EXPECT_EQ(figures.skipped, 2);
    EXPECT_TRUE(Logged("PAGE: total 4")) << log;

    // Paper loaded: the first printer prints the two sheets it holds.
    Control("set " + serial() + " remain 50");
    Control("set " + serial() + " status 0");
    EXPECT_TRUE(WaitUntil([&] { return Sheets().size() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(Sheets(), (Sizes{{64, 40}, {48, 30}}));

    vantora_delivery::PrinterCount count;
    ASSERT_TRUE(vantora_delivery::ReadPrinterCount(settings.countsFolder, serial(), &count));
    EXPECT_EQ(count.total, 2);
    ASSERT_TRUE(vantora_delivery::ReadPrinterCount(settings.countsFolder, sister, &count));
    EXPECT_EQ(count.total, 2);
    EXPECT_EQ(count.sizes["102x153mm"], 2);

    // Run again after it ended (a scheduler restarted before it learnt of
    // the end): nothing more printed, nothing counted twice.
    settings.scheduler = 201;
    EXPECT_EQ(Print(job), CUPS_BACKEND_OK) << log;
    EXPECT_EQ(SheetsOf(sister).size(), 2u);
    ASSERT_TRUE(vantora_delivery::ReadPrinterCount(settings.countsFolder, sister, &count));
    EXPECT_EQ(count.total, 2);
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
