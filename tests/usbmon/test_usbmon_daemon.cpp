// The whole daemon in this process, against emulated RT-50s on umockdev and
// a private CUPS scheduler: arrival, identification and queues, the request
// files and the total count, status files online and offline, unplugging in
// the middle of a cycle, several printers at once, faults that stay with
// their printer, files that belong to one printer only, printers whose
// serial number cannot be trusted, and a kiosk's media classes with their
// members stopped and started as their printers fail and recover.
#include "ClassPlan.h"
#include "FailoverMarks.h"
#include "HotplugLoop.h"
#include "Records.h"
#include "StatusFileStore.h"
#include "Rt50EmulatorFixture.h"
#include "UsbTransfer.h"
#include "private_cupsd.h"
#include "usbmon_test_files.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vantora_usbmon;
using namespace std::chrono_literals;
using usbmon_test::ReadAll;
using usbmon_test::TempFolder;
using usbmon_test::WriteAll;

constexpr auto kCycle = 150ms;

class Daemon : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        Rt50EmulatorTest::SetUp();
        // Under AddressSanitizer the programs the daemon starts (lpadmin, the
        // stand-ins' shell) inherit its runtime; their leaks are not ours.
        // This process read its own options at start-up.
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            setenv("ASAN_OPTIONS", (std::string(asan) + ":detect_leaks=0").c_str(), 1);
        ASSERT_TRUE(cupsd_.Start()) << cupsd_.error();
        // lpadmin through a stand-in that logs its arguments and fails
        // while asked to.
        standIns_ = std::make_unique<usbmon_test::StandIns>(folder_ / "bin");
        standIns_->Add("lpadmin", "printf '%s|' \"$@\" >> " + folder_ / "lpadmin.log" + "; echo >> " +
                                      folder_ / "lpadmin.log" + "\n[ -e " + folder_ / "lpadmin-fails" +
                                      " ] && exit 3\nexec /usr/sbin/lpadmin \"$@\"");
        reports_ = tmpfile();
        MonitorSettings settings;
        settings.exchangeDir = folder_.path();
        settings.cycle = kCycle;
        settings.reports = reports_;
        settings.failoverDir = folder_ / "failover";
        SetMonitorSettings(settings);
        UsbTimeouts timeouts;
        timeouts.bulkMs = 300;
        timeouts.deviceIdMs = 500;
        timeouts.replyWaitMs = 400;
        SetUsbTimeouts(timeouts);
        ResetMonitorStats();
    }

    void TearDown() override
    {
        StopMonitor();
        SetUsbTimeouts(UsbTimeouts());
        SetMonitorSettings(MonitorSettings());
        standIns_.reset();
        if (reports_ != nullptr)
            fclose(reports_);
        cupsd_.Stop();
        Rt50EmulatorTest::TearDown();
    }

    void StartMonitor()
    {
        monitor_ = std::thread([this] { result_ = RunMonitor(); });
    }

    void StopMonitor()
    {
        if (!monitor_.joinable())
            return;
        RequestMonitorStop();
        monitor_.join();
        EXPECT_EQ(result_, 0);
        EXPECT_TRUE(thDevData.empty());
    }


    static bool WaitFor(std::chrono::milliseconds limit, const std::function<bool()>& done)
    {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            if (done())
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return done();
    }

    std::string StatusPath(const std::string& serial) { return folder_ / ("RT-50_" + serial + ".log"); }
    std::string Status(const std::string& serial) { return ReadAll(StatusPath(serial)); }
    // One value of a status file, without its quotes.
    std::string Value(const std::string& serial, const std::string& key)
    {
        const std::string text = "\n" + Status(serial);
        const size_t at = text.find("\n" + key + "=\"");
        return at == std::string::npos ? "?" : text.substr(at + key.size() + 3, text.find('"', at + key.size() + 3) - at - key.size() - 3);
    }
    bool WaitForValue(const std::string& serial, const std::string& key, const std::string& value,
                      std::chrono::milliseconds limit = 5s)
    {
        return WaitFor(limit, [&] { return Value(serial, key) == value; });
    }

    // Queue name -> device URI, as the scheduler lists them (classes apart).
    std::map<std::string, std::string> Queues()
    {
        std::map<std::string, std::string> queues;
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests(&dests);
        for (int i = 0; i < count; ++i) {
            const char* type = cupsGetOption("printer-type", dests[i].num_options, dests[i].options);
            if (type != nullptr && (std::atoi(type) & CUPS_PRINTER_CLASS) != 0)
                continue;
            const char* uri = cupsGetOption("device-uri", dests[i].num_options, dests[i].options);
            queues[dests[i].name] = uri != nullptr ? uri : "";
        }
        cupsFreeDests(count, dests);
        return queues;
    }
    static std::string Uri(const std::string& serial) { return "vantora-zpxbackend://VANTORA/RT-50?serial=" + serial; }

    std::string Reports()
    {
        fflush(reports_);
        return ReadAll("/proc/self/fd/" + std::to_string(fileno(reports_)));
    }

    void Watch(const std::string& serial) { WriteAll(folder_ / ("RT-50_" + serial + "_UTIL"), ""); }

    TempFolder folder_;
    vantora_test::PrivateCupsd cupsd_;
    std::unique_ptr<usbmon_test::StandIns> standIns_;
    FILE* reports_ = nullptr;
    std::thread monitor_;
    int result_ = -1;
};

TEST_F(Daemon, PrintersGetTheirQueuesOnceAndStatusFilesOnlineAndOffline)
{
    const std::string second = "RT50TEST0002";
    // Another printer's queues, one with a serial of which ours is a part,
    // one numbered and one without a number: none is re-pointed.
    ASSERT_TRUE(cupsd_.AddQueue("VANTORA-RT-50", Uri(serial() + "9")));
    ASSERT_TRUE(cupsd_.AddQueue("VANTORA-RT-50-2", Uri("OTHER2")));
    ASSERT_TRUE(cupsd_.AddQueue("VANTORA-RT-50-X", Uri("OTHERX")));
    WriteAll(folder_ / "lpadmin.log", "");
    Control("set " + serial() + " counter 4321");
    Control("set " + serial() + " status 1000");
    StartMonitor();
    ASSERT_TRUE(WaitFor(10s, [&] { return Queues().count("VANTORA-RT-50-3") == 1; })) << Reports();
    ASSERT_TRUE(emulator().AddPrinter(second));
    ASSERT_TRUE(WaitFor(10s, [&] { return Queues().count("VANTORA-RT-50-4") == 1; })) << Reports();
    EXPECT_EQ(Queues(), (std::map<std::string, std::string>{{"VANTORA-RT-50", Uri(serial() + "9")},
                                                            {"VANTORA-RT-50-2", Uri("OTHER2")},
                                                            {"VANTORA-RT-50-X", Uri("OTHERX")},
                                                            {"VANTORA-RT-50-3", Uri(serial())},
                                                            {"VANTORA-RT-50-4", Uri(second)}}));
    EXPECT_EQ(ReadAll(folder_ / "lpadmin.log"),
              "-p|VANTORA-RT-50-3|-E|-D|VANTORA RT-50 3|-m|VANTORA_RT-50.ppd|-v|" + Uri(serial()) +
                  "|-o|printer-is-shared=false|\n"
                  "-p|VANTORA-RT-50-4|-E|-D|VANTORA RT-50 4|-m|VANTORA_RT-50.ppd|-v|" + Uri(second) +
                  "|-o|printer-is-shared=false|\n");

    // The first status file, byte for byte; the count is read only for a
    // watching window.
    ASSERT_TRUE(WaitFor(5s, [&] { return !Status(serial()).empty(); }));
    const std::string online =
        "#PRINTER_INFORMATION\nMODEL=\"RT-50\"\nPRINTER_STATUS=\"01000\"\nPRINTER_MESSAGE=\"00100\"\n"
        "PRINTER_VERSION=\"1.53\"\nPRINTER_SERIAL_NO=\"" + serial() + "\"\n\n#MEDIA_INFORMATION\n"
        "MEDIA_SIZE=\"150\"\nMEDIA_CLASS=\"2\"\nMEDIA_INITIAL=\"300\"\nMEDIA_REMAIN=\"300\"\n\n"
        "#COUNTER_INFORMATION\nTOTAL_COUNT=\"\"\n\n";
    EXPECT_EQ(Status(serial()), online);
    Watch(serial());
    ASSERT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "4321"));

    // Unplugged: the offline form; plugged again: a new worker, online, and
    // no second queue.
    Control("unplug " + serial());
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "99999"));
    EXPECT_EQ(Status(serial()), usbmon_test::kOfflineText);
    Control("plug " + serial());
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "01000"));
    EXPECT_EQ(Queues().size(), 5u);
    EXPECT_EQ(GetMonitorStats().workersStarted, 3);
    EXPECT_TRUE(WaitFor(2s, [] { return GetMonitorStats().workersEnded == 1; }));
    EXPECT_EQ(Reports(), "");
}

TEST_F(Daemon, SchedulerDownOrLpadminFailingIsReportedOnceAndRetried)
{
    // The scheduler's socket moved away: it cannot be asked for queues.
    const std::string away = cupsd_.socket() + ".away";
    ASSERT_EQ(rename(cupsd_.socket().c_str(), away.c_str()), 0);
    WriteAll(folder_ / "lpadmin-fails", "");
    StartMonitor();
    ASSERT_TRUE(WaitFor(5s, [&] { return Reports().find("scheduler does not answer") != std::string::npos; }));
    std::this_thread::sleep_for(4 * kCycle);
    EXPECT_EQ(ReadAll(folder_ / "lpadmin.log"), "");
    // The status file does not wait for the queue.
    EXPECT_EQ(Value(serial(), "PRINTER_STATUS"), "00000");

    // Back, but lpadmin fails: reported once with its exit status, and
    // every cycle tries again.
    ASSERT_EQ(rename(away.c_str(), cupsd_.socket().c_str()), 0);
    ASSERT_TRUE(WaitFor(5s, [&] { return Reports().find("exit status 3") != std::string::npos; }));
    std::this_thread::sleep_for(4 * kCycle);
    unlink((folder_ / "lpadmin-fails").c_str());
    ASSERT_TRUE(WaitFor(5s, [&] { return Queues().count("VANTORA-RT-50") == 1; }));
    EXPECT_EQ(Queues()["VANTORA-RT-50"], Uri(serial()));
    const std::string reports = Reports();
    EXPECT_EQ(std::count(reports.begin(), reports.end(), '\n'), 2) << reports;
    const std::string calls = ReadAll(folder_ / "lpadmin.log");
    EXPECT_GE(std::count(calls.begin(), calls.end(), '\n'), 3) << calls;
}

TEST_F(Daemon, RequestFilesDecideWhatIsReadAndWritten)
{
    auto set = [&](const std::string& change) { Control("set " + serial() + " " + change); };
    auto count = [&] { return Value(serial(), "TOTAL_COUNT"); };
    auto sections = [] { return GetMonitorStats().usbSections; };
    set("counter 100");
    StartMonitor();
    ASSERT_TRUE(WaitFor(10s, [&] { return Queues().size() == 1 && !Status(serial()).empty(); }));

    // Unwatched and registered: no USB at all.
    long before = sections();
    std::this_thread::sleep_for(4 * kCycle);
    EXPECT_EQ(sections(), before);

    // Watched: the count is read once per watch period ...
    Watch(serial());
    ASSERT_TRUE(WaitFor(3s, [&] { return count() == "100"; }));
    set("counter 101");
    set("remain 299");
    ASSERT_TRUE(WaitForValue(serial(), "MEDIA_REMAIN", "299"));
    EXPECT_EQ(count(), "100");
    // ... again on a refresh request, whose file is consumed ...
    WriteAll(folder_ / ("RT-50_" + serial() + "_TC_UTIL"), "");
    ASSERT_TRUE(WaitFor(3s, [&] { return count() == "101"; }));
    EXPECT_EQ(access((folder_ / ("RT-50_" + serial() + "_TC_UTIL")).c_str(), F_OK), -1);
    // ... after the backend's pause, during which the printer is left alone ...
    const std::string pause = folder_ / ("Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + serial());
    WriteAll(pause, std::to_string(getpid()) + "\n");
    std::this_thread::sleep_for(2 * kCycle);
    before = sections();
    set("counter 102");
    std::this_thread::sleep_for(4 * kCycle);
    EXPECT_EQ(sections(), before);
    EXPECT_EQ(count(), "101");
    unlink(pause.c_str());
    ASSERT_TRUE(WaitFor(3s, [&] { return count() == "102"; }));
    // ... and when printing ends.
    set("status 1");
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00001"));
    set("counter 103");
    set("status 0");
    ASSERT_TRUE(WaitFor(3s, [&] { return count() == "103"; }));

    // A new watch period of a printer saving power does not wake it for
    // the count; a refresh does, after the wait.
    unlink((folder_ / ("RT-50_" + serial() + "_UTIL")).c_str());
    std::this_thread::sleep_for(3 * kCycle);
    set("status 900");
    set("counter 104");
    Watch(serial());
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00900"));
    std::this_thread::sleep_for(4 * kCycle);
    EXPECT_EQ(count(), "103");
    WriteAll(folder_ / ("RT-50_" + serial() + "_TC_UTIL"), "");
    ASSERT_TRUE(WaitFor(3s, [&] { return count() == "104"; }));
}

// During a job the backend keeps the watched printer's status file with
// the counter it reads. A printer that saves power once the job is over
// answers its counter only after a while: the daemon's first cycle after
// the pause carries the backend's count on instead of undoing it with the
// one from before the job.
TEST_F(Daemon, AfterAPauseTheBackendsCountIsNotUndoneByAnOldOne)
{
    auto set = [&](const std::string& change) { Control("set " + serial() + " " + change); };
    set("counter 100");
    set("wake 600");   // longer than the daemon's reply time-out here
    StartMonitor();
    Watch(serial());
    ASSERT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "100", 10s));

    const std::string pause = folder_ / ("Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + serial());
    WriteAll(pause, std::to_string(getpid()) + "\n");
    std::this_thread::sleep_for(3 * kCycle);
    // The job prints three sheets; the backend's file says so.
    set("counter 103");
    vantora_exchange::StatusFileValues values = vantora_exchange::OfflineStatusValues();
    values.status = 0;
    std::snprintf(values.serial, sizeof values.serial, "%s", serial().c_str());
    values.totalCount = 103;
    ASSERT_EQ(vantora_exchange::WriteStatusFile(StatusPath(serial()).c_str(), values, nullptr), 0);
    set("status 900");
    unlink(pause.c_str());
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00900"));
    std::this_thread::sleep_for(3 * kCycle);
    EXPECT_EQ(Value(serial(), "TOTAL_COUNT"), "103");
    EXPECT_EQ(Value(serial(), "MEDIA_REMAIN"), "300");   // the daemon's own cycle wrote it

    // A count the printer answers is still the printer's.
    set("status 0");
    set("counter 104");
    WriteAll(folder_ / ("RT-50_" + serial() + "_TC_UTIL"), "");
    EXPECT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "104"));
}

TEST_F(Daemon, EachPrinterSeesTheEndOfItsOwnPrinting)
{
    const std::string other = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(other));
    Control("set " + serial() + " status 1");
    StartMonitor();
    Watch(serial());
    Watch(other);
    ASSERT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "0", 10s));
    ASSERT_TRUE(WaitForValue(other, "TOTAL_COUNT", "0"));
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00001"));
    // The other printer's cycles in between must not hide this one's end.
    Control("set " + serial() + " counter 7");
    Control("set " + serial() + " status 0");
    EXPECT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "7", 3s));
}

TEST_F(Daemon, UnpluggingInTheMiddleOfACycleEndsTheWorkerCleanly)
{
    const std::string other = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(other));
    StartMonitor();
    Watch(serial());
    Watch(other);
    ASSERT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00000", 10s));
    ASSERT_TRUE(WaitForValue(other, "PRINTER_STATUS", "00000"));
    for (int round = 0; round < 8; ++round) {
        // Slow replies keep the worker inside its exchanges when the printer goes.
        const std::string& leaving = round % 2 == 0 ? serial() : other;
        const std::string& staying = round % 2 == 0 ? other : serial();
        Control("fault " + leaving + " slow 40 0");
        std::this_thread::sleep_for(std::chrono::milliseconds(60 + 37 * round));
        Control("unplug " + leaving);
        ASSERT_TRUE(WaitForValue(leaving, "PRINTER_STATUS", "99999")) << "round " << round;
        // The other printer went on being served.
        Control("set " + staying + " remain " + std::to_string(200 + round));
        ASSERT_TRUE(WaitForValue(staying, "MEDIA_REMAIN", std::to_string(200 + round))) << "round " << round;
        Control("fault " + leaving + " clear");
        Control("plug " + leaving);
        ASSERT_TRUE(WaitForValue(leaving, "PRINTER_STATUS", "00000")) << "round " << round;
    }
    EXPECT_EQ(GetMonitorStats().workersStarted, 10);
    EXPECT_EQ(Queues().size(), 2u);
}

TEST_F(Daemon, FourPrintersUseUsbOneAtATime)
{
    std::vector<std::string> serials = {serial()};
    for (const char* more : {"RT50TEST0002", "RT50TEST0003", "RT50TEST0004"}) {
        ASSERT_TRUE(emulator().AddPrinter(more));
        serials.push_back(more);
    }
    StartMonitor();
    for (const std::string& s : serials)
        Watch(s);
    for (const std::string& s : serials)
        ASSERT_TRUE(WaitForValue(s, "TOTAL_COUNT", "0", 20s)) << s;
    std::this_thread::sleep_for(3 * kCycle);
    EXPECT_EQ(GetMonitorStats().mostSectionsAtOnce, 1);
    std::map<std::string, std::string> uris;
    for (const auto& queue : Queues())
        uris[queue.second] = queue.first;
    ASSERT_EQ(uris.size(), 4u);
    for (const std::string& s : serials)
        EXPECT_EQ(uris.count(Uri(s)), 1u) << s;
    for (const char* name : {"VANTORA-RT-50", "VANTORA-RT-50-2", "VANTORA-RT-50-3", "VANTORA-RT-50-4"})
        EXPECT_EQ(Queues().count(name), 1u) << name;
}

TEST_F(Daemon, FaultsStayWithTheirPrinter)
{
    // With a transfer time-out of 1 s, a silent printer's cycle lasts 11 s
    // (five status and five value queries, the count); a healthy watched
    // printer beside it still follows each change within about a transfer.
    const std::string silent = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(silent));
    UsbTimeouts timeouts = GetUsbTimeouts();
    timeouts.bulkMs = 1000;
    SetUsbTimeouts(timeouts);
    StartMonitor();
    Watch(serial());
    Watch(silent);
    ASSERT_TRUE(WaitForValue(serial(), "TOTAL_COUNT", "0", 10s));
    ASSERT_TRUE(WaitForValue(silent, "TOTAL_COUNT", "0", 10s));
    Control("fault " + silent + " noanswer 0");
    std::this_thread::sleep_for(1500ms);
    for (int round = 0; round < 3; ++round) {
        const std::string remain = std::to_string(250 + round);
        Control("set " + serial() + " remain " + remain);
        EXPECT_TRUE(WaitForValue(serial(), "MEDIA_REMAIN", remain, 5s)) << "round " << round;
    }
    EXPECT_GT(GetMonitorStats().handOvers, 0);
    EXPECT_EQ(GetMonitorStats().mostSectionsAtOnce, 1);

    // A backend wants the silent printer (a killed backend left it inside a
    // packet): the daemon lets go after its next failed query, not after
    // the rest of its cycle.
    libusb_context* usb = nullptr;
    ASSERT_EQ(libusb_init(&usb), 0);
    auto claimSilent = [&] {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(usb, &list);
        int result = LIBUSB_ERROR_NOT_FOUND;
        for (ssize_t i = 0; i < count && result == LIBUSB_ERROR_NOT_FOUND; ++i) {
            libusb_device_descriptor descriptor{};
            libusb_device_handle* handle = nullptr;
            unsigned char text[64] = {};
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || libusb_open(list[i], &handle) != 0)
                continue;
            if (libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text - 1) > 0 &&
                silent == reinterpret_cast<const char*>(text))
                result = libusb_claim_interface(handle, 0);
            if (result == 0)
                libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        if (count >= 0)
            libusb_free_device_list(list, 1);
        return result;
    };
    const std::string pause = folder_ / ("Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + silent);
    ASSERT_TRUE(WaitFor(15s, [&] { return claimSilent() == LIBUSB_ERROR_BUSY; })) << "the daemon holds the printer";
    WriteAll(pause, std::to_string(getpid()) + "\n");
    EXPECT_TRUE(WaitFor(6s, [&] { return claimSilent() == 0; }));
    unlink(pause.c_str());
    libusb_exit(usb);

    // A halted bulk endpoint, IN or OUT, is cleared and the printer answers again.
    Control("fault " + silent + " clear");
    for (const char* endpoint : {"in", "out"}) {
        Control("fault " + serial() + " stall " + endpoint);
        // The endpoint has halted once the fault is used up.
        ASSERT_TRUE(WaitFor(3s, [&] { return ShownFor(serial(), "fault") == "none"; })) << endpoint;
        const std::string remain = std::string(endpoint) == "in" ? "260" : "261";
        Control("set " + serial() + " remain " + remain);
        EXPECT_TRUE(WaitForValue(serial(), "MEDIA_REMAIN", remain, 5s)) << endpoint;
        EXPECT_EQ(ShownFor(serial(), "halted"), "") << endpoint;
        EXPECT_TRUE(WaitForValue(serial(), "PRINTER_STATUS", "00000", 5s)) << endpoint;
    }
}

TEST_F(Daemon, NoSerialTakesPausesOrDeletesAnotherPrintersFiles)
{
    // RT-50_AUDC_TC_UTIL is the watch file of AUDC_TC and the refresh file of AUDC.
    const std::string shorter = "AUDC", tc = "AUDC_TC";
    for (const std::string& more : {shorter, tc})
        ASSERT_TRUE(emulator().AddPrinter(more));
    StartMonitor();
    for (const std::string& s : {shorter, tc})
        ASSERT_TRUE(WaitFor(10s, [&] { return !Status(s).empty(); })) << s;
    const std::string tcWatch = folder_ / "RT-50_AUDC_TC_UTIL";
    Watch(tc);
    Control("set " + tc + " remain 201");
    ASSERT_TRUE(WaitForValue(tc, "MEDIA_REMAIN", "201"));
    std::this_thread::sleep_for(4 * kCycle);
    EXPECT_EQ(access(tcWatch.c_str(), F_OK), 0) << "the window's watch file of AUDC_TC was taken";
    // The window switches to AUDC and asks for a fresh count.
    unlink(tcWatch.c_str());
    Watch(shorter);
    ASSERT_TRUE(WaitForValue(shorter, "TOTAL_COUNT", "0"));
    Control("set " + shorter + " counter 33");
    WriteAll(tcWatch, "");
    ASSERT_TRUE(WaitForValue(shorter, "TOTAL_COUNT", "33"));
    EXPECT_EQ(access(tcWatch.c_str(), F_OK), -1);

    // Pause files that do not pause AUDC: a live backend's for the longer
    // serial, another user's, and a killed backend's, which goes with the
    // job start file it left.
    auto pause = [&](const std::string& s) { return folder_ / ("Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + s); };
    int remain = 210;
    auto served = [&] {
        Control("set " + shorter + " remain " + std::to_string(++remain));
        return WaitForValue(shorter, "MEDIA_REMAIN", std::to_string(remain));
    };
    const std::string live = std::to_string(getpid()) + "\n";
    WriteAll(pause(tc), live);
    WriteAll(pause(shorter), live);
    ASSERT_EQ(chown(pause(shorter).c_str(), 65534, 65534), 0);
    EXPECT_TRUE(served());
    EXPECT_EQ(access(pause(shorter).c_str(), F_OK), 0);
    unlink(pause(shorter).c_str());
    const pid_t killed = fork();
    if (killed == 0)
        _exit(0);
    waitpid(killed, nullptr, 0);
    WriteAll(folder_ / "Print_77.log", std::to_string(killed) + "\n");
    WriteAll(pause(shorter), std::to_string(killed) + "\n");
    EXPECT_TRUE(served());
    EXPECT_TRUE(WaitFor(2s, [&] {
        return access(pause(shorter).c_str(), F_OK) == -1 && access((folder_ / "Print_77.log").c_str(), F_OK) == -1;
    }));
    EXPECT_EQ(access(pause(tc).c_str(), F_OK), 0);
}

TEST_F(Daemon, APrinterThatCannotBeTrustedGetsNoQueueAndRunsNothing)
{
    const std::string pwned = folder_ / "pwned";
    const std::string longSerial = "RT50TEST0002", other = "RT50TEST0003", nul = "RT50TEST0004";
    for (const std::string& more : {longSerial, other, nul})
        ASSERT_TRUE(emulator().AddPrinter(more));
    for (const std::string& s : {serial(), longSerial, nul})
        Control("unplug " + s);
    Control("set " + serial() + " serialno A1;touch " + pwned + ";$(touch " + pwned + ")");
    // A valid serial of 64 characters would be cut to a valid one of 63, a
    // NUL would end a serial early: this one would pass for RT50TEST0002.
    Control("set " + longSerial + " serialno " + std::string(64, 'S'));
    Control("set " + nul + " serialno RT50TEST0002\\x00X");
    Control("set " + other + " deviceid MANUFACTURER:OTHER;MODEL:RT-50;");
    for (const std::string& s : {serial(), longSerial, nul})
        Control("plug " + s);
    MonitorSettings settings = GetMonitorSettings();
    settings.reportAfter = 4 * kCycle;
    SetMonitorSettings(settings);
    StartMonitor();
    const auto lines = [&] {
        const std::string reports = Reports();
        return std::count(reports.begin(), reports.end(), '\n');
    };
    ASSERT_TRUE(WaitFor(5s, [&] { return lines() == 4; })) << Reports();
    std::this_thread::sleep_for(4 * kCycle);
    const std::string reports = Reports();
    EXPECT_EQ(lines(), 4) << reports;
    EXPECT_NE(reports.find("serial number \"A1;touch "), std::string::npos) << reports;
    EXPECT_NE(reports.find("serial number \"RT50TEST0002?X\""), std::string::npos) << reports;
    EXPECT_NE(reports.find("serial number \"" + std::string(64, 'S') + "\""), std::string::npos) << reports;
    EXPECT_NE(reports.find("printer " + other + ": no queue: not identified after 0 s: its device ID names another maker"),
              std::string::npos) << reports;
    EXPECT_TRUE(Queues().empty());
    EXPECT_EQ(ReadAll(folder_ / "lpadmin.log"), "");
    EXPECT_EQ(access(pwned.c_str(), F_OK), -1);
    for (const std::string& name : {std::string(63, 'S'), other, std::string(), std::string("RT50TEST0002")})
        EXPECT_EQ(access(StatusPath(name).c_str(), F_OK), -1) << name;
    // Gone before its serial number was known: no offline file under an empty name.
    Control("unplug " + serial());
    std::this_thread::sleep_for(3 * kCycle);
    EXPECT_EQ(access(StatusPath("").c_str(), F_OK), -1);
}

}  // namespace

// A kiosk: the daemon keeps a class per loaded media and stops and starts
// its members as their printers fail and recover. Short intervals, so that
// unwatched printers are read and the classes kept within a second or two.
class Kiosk : public Daemon {
protected:
    void SetUp() override
    {
        Daemon::SetUp();
        MonitorSettings settings = GetMonitorSettings();
        settings.classRead = 300ms;
        settings.quickRead = 150ms;
        settings.classRound = 200ms;
        settings.failAfter = 2s;
        settings.startGrace = 3s;
        SetMonitorSettings(settings);
    }

    // The destination's attributes as text (several values joined by ','),
    // empty when the scheduler does not know it.
    std::map<std::string, std::string> Attributes(const char* kind, const std::string& name)
    {
        std::map<std::string, std::string> values;
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/%s/%s", kind,
                         name.c_str());
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
        ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
        if (response != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) {
            for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;
                 attr = ippNextAttribute(response)) {
                char text[2048];
                if (ippGetGroupTag(attr) == IPP_TAG_PRINTER && ippGetName(attr) != nullptr) {
                    ippAttributeString(attr, text, sizeof text);
                    values[ippGetName(attr)] = text;
                }
            }
        }
        ippDelete(response);
        return values;
    }
    // The class's members, sorted and joined by ','; "-" when there is no such class.
    std::string Members(const std::string& name)
    {
        const auto values = Attributes("classes", name);
        if (values.empty())
            return "-";
        std::vector<std::string> members;
        std::stringstream list(values.count("member-names") ? values.at("member-names") : "");
        for (std::string member; std::getline(list, member, ',');)
            members.push_back(member);
        std::sort(members.begin(), members.end());
        std::string joined;
        for (const std::string& member : members)
            joined += (joined.empty() ? "" : ",") + member;
        return joined;
    }
    // "idle", "processing" or "stopped", then the state message when stopped.
    std::string State(const std::string& queue)
    {
        auto values = Attributes("printers", queue);
        const std::string state = values["printer-state"];
        return state == "stopped" ? state + ": " + values["printer-state-message"] : state;
    }
    std::string QueueOf(const std::string& serial)
    {
        for (const auto& queue : Queues())
            if (queue.second == Uri(serial))
                return queue.first;
        return "";
    }
    std::string MarkPath(const std::string& serial) { return folder_ / ("failover/" + serial); }
    bool Marked(const std::string& serial) { return access(MarkPath(serial).c_str(), F_OK) == 0; }
    // What a backend does when a class job meets a printer that cannot print.
    void StopAsTheBackendDoes(const std::string& serial, const std::string& reason)
    {
        ASSERT_TRUE(vantora_exchange::WriteFailoverMark(folder_ / "failover", {serial, QueueOf(serial), reason}));
        ASSERT_EQ(cupsd_.Run({"cupsdisable", "-r", reason, QueueOf(serial)}), 0);
    }
};

TEST_F(Kiosk, ClassesFollowTheLoadedMediaAndQueuesNameTheirPrinter)
{
    const std::string second = "RT50TEST0002", large = "RT50TEST0003";
    for (const std::string& more : {second, large})
        ASSERT_TRUE(emulator().AddPrinter(more));
    Control("set " + large + " media 161");
    StartMonitor();
    ASSERT_TRUE(WaitFor(20s, [&] { return Queues().size() == 3 && Members(kClass45x8) != "-"; })) << Reports();
    const std::string q1 = QueueOf(serial()), q2 = QueueOf(second), q3 = QueueOf(large);
    const std::string both = std::min(q1, q2) + "," + std::max(q1, q2);
    ASSERT_TRUE(WaitFor(10s, [&] { return Members(kClass4x6) == both; })) << Members(kClass4x6);
    EXPECT_EQ(Members(kClass45x8), q3);
    // Enabled and accepting, so that lp to the class works as it is made.
    for (const char* name : {kClass4x6, kClass45x8}) {
        auto values = Attributes("classes", name);
        EXPECT_EQ(values["printer-state"], "idle") << name;
        EXPECT_EQ(values["printer-is-accepting-jobs"], "true") << name;
    }
    ASSERT_TRUE(WaitFor(5s, [&] { return Attributes("printers", q3)["printer-location"].find(large) != std::string::npos; }));
    auto described = Attributes("printers", q3);
    EXPECT_NE(described["printer-info"].find(large + ", 4.5x8in media"), std::string::npos) << described["printer-info"];
    EXPECT_NE(described["printer-location"].find("4.5x8in"), std::string::npos) << described["printer-location"];

    // The large printer gets 4x6in media: it moves, and the empty class goes.
    Control("set " + large + " media 150");
    ASSERT_TRUE(WaitFor(10s, [&] { return Members(kClass45x8) == "-"; })) << Members(kClass45x8);
    std::vector<std::string> all = {q1, q2, q3};
    std::sort(all.begin(), all.end());
    EXPECT_EQ(Members(kClass4x6), all[0] + "," + all[1] + "," + all[2]);
    EXPECT_TRUE(WaitFor(5s, [&] { return Attributes("printers", q3)["printer-info"].find("4x6in") != std::string::npos; }));

    // A class with a job waiting is not removed (the scheduler would cancel
    // the job): it keeps its member until the job is gone.
    Control("set " + second + " media 161");
    ASSERT_TRUE(WaitFor(10s, [&] { return Members(kClass45x8) == q2; })) << Members(kClass45x8);
    WriteAll(folder_ / "photo.raw", "raw");
    ASSERT_EQ(cupsd_.Run({"lp", "-d", kClass45x8, "-o", "raw", "-H", "hold", folder_ / "photo.raw"}), 0);
    Control("set " + second + " media 150");
    ASSERT_TRUE(WaitFor(10s, [&] { return Members(kClass4x6).find(q2) != std::string::npos; }));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Members(kClass45x8), q2);
    // Cancel-Jobs through libcups, as "cancel -a" sends it (the program,
    // started with this test's preloads in the sanitizer tree, can
    // deadlock before it sends anything).
    ipp_t* cancel = ippNewRequest(IPP_OP_CANCEL_JOBS);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/classes/%s", kClass45x8);
    ippAddString(cancel, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(cancel, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, cancel, "/admin/"));
    ASSERT_EQ(cupsLastError(), IPP_STATUS_OK) << cupsLastErrorString();
    EXPECT_TRUE(WaitFor(10s, [&] { return Members(kClass45x8) == "-"; }));
    EXPECT_EQ(Reports(), "");
}

TEST_F(Kiosk, AMemberThatCannotPrintIsStoppedWithItsReasonAndRejoinsByItself)
{
    const std::string second = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(second));
    StartMonitor();
    ASSERT_TRUE(WaitFor(20s, [&] { return Members(kClass4x6).find(',') != std::string::npos; })) << Reports();
    const std::string q1 = QueueOf(serial()), q2 = QueueOf(second);

    // Unplugged: stopped with its reason and marked; back: started, unmarked.
    Control("unplug " + second);
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q2) == "stopped: Unplugged"; })) << State(q2);
    EXPECT_TRUE(Marked(second));
    EXPECT_EQ(State(q1), "idle");
    Control("plug " + second);
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q2) == "idle"; })) << State(q2);
    EXPECT_FALSE(Marked(second));

    // Ribbon end stops it at once; a new ribbon starts it again.
    Control("set " + serial() + " status 1200");
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q1) == "stopped: Ribbon end"; })) << State(q1);
    Control("set " + serial() + " status 0");
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q1) == "idle"; })) << State(q1);

    // A door opened to look is left alone; one left open is not.
    Control("set " + serial() + " status 1000");
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(State(q1), "idle");
    ASSERT_TRUE(WaitFor(15s, [&] { return State(q1) == "stopped: Door open"; })) << State(q1);
    Control("set " + serial() + " status 0");
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q1) == "idle"; })) << State(q1);
    EXPECT_FALSE(Marked(serial()));

    // Never during a job: with a backend holding the printer, a ribbon end
    // is neither read nor acted on.
    const std::string pause = folder_ / ("Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + second);
    WriteAll(pause, std::to_string(getpid()) + "\n");
    std::this_thread::sleep_for(3 * kCycle);
    const std::string transfers = ShownFor(second, "outcount");
    Control("set " + second + " status 1200");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(ShownFor(second, "outcount"), transfers);
    EXPECT_EQ(State(q2), "idle");
    unlink(pause.c_str());
    EXPECT_TRUE(WaitFor(10s, [&] { return State(q2) == "stopped: Ribbon end"; })) << State(q2);
    EXPECT_EQ(Reports(), "");
}

TEST_F(Kiosk, TheBackendsMarksAreClearedWhenThePrinterIsReadyAndAHandStopStays)
{
    const std::string second = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(second));
    StartMonitor();
    ASSERT_TRUE(WaitFor(20s, [&] { return Members(kClass4x6).find(',') != std::string::npos; })) << Reports();
    const std::string q1 = QueueOf(serial()), q2 = QueueOf(second);

    // The backend met a paper end mid-job; the printer says so for a while.
    Control("set " + serial() + " status 1100");
    StopAsTheBackendDoes(serial(), "Paper end");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(State(q1), "stopped: Paper end");
    EXPECT_TRUE(Marked(serial()));
    Control("set " + serial() + " status 0");
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q1) == "idle"; })) << State(q1);
    EXPECT_FALSE(Marked(serial()));

    // Wrong media: a ready printer with the same media would meet the same
    // job again; it starts once its media changes.
    StopAsTheBackendDoes(serial(), "Wrong media: the page needs 4.5x8in media");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(State(q1), "stopped: Wrong media: the page needs 4.5x8in media");
    Control("set " + serial() + " media 161");
    ASSERT_TRUE(WaitFor(10s, [&] { return State(q1) == "idle"; })) << State(q1);
    EXPECT_EQ(Members(kClass45x8), q1);

    // Stopped by a person: stays stopped with the person's reason, through
    // a ribbon end and its mending, and gets no mark.
    ASSERT_EQ(cupsd_.Run({"cupsdisable", "-r", "Cleaning", q2}), 0);
    Control("set " + second + " status 1200");
    std::this_thread::sleep_for(1500ms);
    Control("set " + second + " status 0");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(State(q2), "stopped: Cleaning");
    EXPECT_FALSE(Marked(second));
    EXPECT_EQ(Reports(), "");
}
