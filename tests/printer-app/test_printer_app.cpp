// The printer application with an emulated RT-50: a photo printed over IPP
// (with ipptool, and with lp through a private CUPS scheduler and a
// driverless queue) comes out as the very sheet the CUPS queue's filter
// chain makes of it; state reasons and supplies follow the printer; a job
// survives the printer being unplugged and ends only when its sheet is
// printed.
#include "AppServer.h"
#include "CommandStream.h"
#include "FilterTestKit.h"
#include "Rt50EmulatorFixture.h"
#include "SheetRecorder.h"
#include "private_cupsd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using apptest::AppServer;
using apptest::WaitFor;

namespace {

class PrinterAppTest : public rt50emu::Rt50EmulatorTest {
protected:
    int PrintMs() const override { return 300; }

    void SetUp() override
    {
        // The programs started from here (the application, ipptool, gs,
        // CUPS) are not ours to leak-check under the sanitizers.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    std::string SheetPath(int number) const
    {
        char name[64];
        std::snprintf(name, sizeof name, "-sheet-%04d.png", number);
        return outputFolder() + "/" + serial() + name;
    }

    // The sheet's record is complete once its text file follows the PNG.
    bool SheetRecorded(int number) const
    {
        std::string text = SheetPath(number);
        text.replace(text.size() - 3, 3, "txt");
        return std::filesystem::exists(text);
    }

    std::string Reasons() const
    {
        ipp_t* response = m_server.PrinterAttributes({"printer-state-reasons"});
        const std::string reasons = AppServer::Values(response, "printer-state-reasons");
        ippDelete(response);
        return reasons;
    }


    AppServer m_server;
    filtertest::TempDir m_files;
};

// The sheet the filter chain of the CUPS queue (vantora_rt50_photo:
// imagetoraster filling the page, then the raster filter) makes of a photo
// with the PPD's defaults.
StreamSheet FilterChainSheet(const std::string& photo)
{
    filtertest::JobStartFile start;
    const filtertest::FilterRun run = filtertest::RunProgram(
        VANTORA_PHOTO_PROGRAM, {start.JobId(), "user", "photo", "1", "", photo}, filtertest::BuiltPpd(), "");
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    std::vector<StreamSheet> sheets;
    std::string error;
    EXPECT_TRUE(CollectSheets(filtertest::Packets(run.output), sheets, &error)) << error;
    EXPECT_EQ(sheets.size(), 1u);
    return sheets.empty() ? StreamSheet{} : sheets[0];
}

// Compares a recorded sheet with a sheet of the filter's stream, pixel by
// pixel (red from cyan, green from magenta, blue from yellow).
void ExpectSameSheet(const std::string& png, const StreamSheet& sheet)
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(rt50emu::ReadPng(png, &width, &height, &rgb)) << png;
    ASSERT_EQ(width, sheet.cyan.width);
    ASSERT_EQ(height, sheet.cyan.height);
    long differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            differing += pixel[0] != sheet.cyan.At(x, y) || pixel[1] != sheet.magenta.At(x, y) ||
                         pixel[2] != sheet.yellow.At(x, y);
        }
    }
    EXPECT_EQ(differing, 0) << "of " << width * height << " pixels";
}

TEST_F(PrinterAppTest, PhotoPrintsTheFilterChainsSheetAndCompletesOnlyWhenPrinted)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    const StreamSheet expected = FilterChainSheet(photo);

    // ipptool, as a person would print.
    const filtertest::FilterRun ipptool = filtertest::RunProgram(
        "/usr/bin/ipptool", {"-t", "-f", photo, "-d", "filetype=image/jpeg", m_server.PrinterUri(), "print-job.test"},
        "", "");
    ASSERT_EQ(ipptool.exitStatus, 0) << std::string(ipptool.output.begin(), ipptool.output.end());
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(1); }, 60000));
    ExpectSameSheet(SheetPath(1), expected);

    // A job is completed only once its sheet is printed: with a long
    // printing time it is still processing while the printer prints.
    emulator().Execute("set " + serial() + " printms 3000");
    const int job = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("status") == "1" && m_server.JobState(job) == IPP_JSTATE_PROCESSING; },
                        30000));
    struct timespec pause {1, 0};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(Shown("status"), "1");
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_PROCESSING);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 30000));
    EXPECT_EQ(Shown("status"), "0");
    EXPECT_TRUE(SheetRecorded(2));
    ExpectSameSheet(SheetPath(2), expected);
}

TEST_F(PrinterAppTest, DriverlessCupsQueuePrintsTheSameSheet)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    const StreamSheet expected = FilterChainSheet(photo);

    vantora_test::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    ASSERT_EQ(cupsd.Run({"lpadmin", "-p", "kiosk", "-E", "-v", m_server.PrinterUri(), "-m", "everywhere"}), 0)
        << cupsd.ErrorLog();
    ASSERT_EQ(cupsd.Run({"lp", "-d", "kiosk", photo}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(1); }, 90000)) << cupsd.ErrorLog();
    ExpectSameSheet(SheetPath(1), expected);
}

TEST_F(PrinterAppTest, StateReasonsAndSuppliesFollowThePrinter)
{
    auto level = [&] {
        ipp_t* response = m_server.PrinterAttributes({"marker-levels", "printer-supply-description"});
        const std::string text = AppServer::Values(response, "marker-levels") + " " +
                                 AppServer::Values(response, "printer-supply-description");
        ippDelete(response);
        return text;
    };
    EXPECT_TRUE(WaitFor([&] { return level().rfind("100 ", 0) == 0; }, 5000)) << level();
    EXPECT_EQ(Reasons(), "none");

    emulator().Execute("set " + serial() + " remain 15");
    EXPECT_TRUE(WaitFor([&] { return level() == "5 Ribbon and paper (15 of 300 prints left)"; }, 5000)) << level();
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("media-low") != std::string::npos; }, 5000)) << Reasons();

    const struct {
        const char* status;
        const char* reason;
    } kStates[] = {{"1000", "cover-open"}, {"1100", "media-empty"}, {"1200", "marker-supply-empty"},
                   {"1300", "media-jam"}, {"2100", "other"}};
    for (const auto& state : kStates) {
        emulator().Execute("set " + serial() + " status " + state.status);
        EXPECT_TRUE(WaitFor([&] { return Reasons().find(state.reason) != std::string::npos; }, 5000))
            << state.status << ": " << Reasons();
    }
    emulator().Execute("set " + serial() + " status 0");
    emulator().Execute("set " + serial() + " remain 250");
    EXPECT_TRUE(WaitFor([&] { return Reasons() == "none"; }, 5000)) << Reasons();

    emulator().Execute("unplug " + serial());
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("offline") != std::string::npos; }, 5000)) << Reasons();
    emulator().Execute("plug " + serial());
    EXPECT_TRUE(WaitFor([&] { return Reasons() == "none"; }, 8000)) << Reasons();
}

// SIGTERM (systemd's stop) ends the application at once while a job waits
// for an unplugged printer and while a sheet prints; the jobs queued behind
// print after the next start.
TEST_F(PrinterAppTest, EndsPromptlyOnSigtermAndKeepsQueuedJobs)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    emulator().Execute("unplug " + serial());
    const int waiting = m_server.PrintFile(photo, "image/jpeg");
    const int queued = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(waiting, 0);
    ASSERT_GT(queued, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(waiting) == IPP_JSTATE_PROCESSING; }, 30000));
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    EXPECT_EQ(m_server.JobState(waiting), IPP_JSTATE_ABORTED);
    emulator().Execute("plug " + serial());
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(queued) == IPP_JSTATE_COMPLETED; }, 60000))
        << m_server.JobState(queued);
    EXPECT_TRUE(SheetRecorded(1));
    EXPECT_FALSE(SheetRecorded(2));

    // A sheet that prints for longer than a stop may take: the printer has
    // it whole, so the job counts as done.
    emulator().Execute("set " + serial() + " printms 60000");
    const int printing = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(printing, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("status") == "1"; }, 60000));
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    EXPECT_EQ(m_server.JobState(printing), IPP_JSTATE_COMPLETED);
    EXPECT_EQ(Shown("errors"), "0");
}

TEST_F(PrinterAppTest, UnpluggedPrinterKeepsTheJobAndPrintsItWhenBack)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    // The printer leaves in the middle of the first plane.
    emulator().Execute("fault " + serial() + " unplugafter 1000000");
    const int job = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("plugged") == "0"; }, 30000)) << Shown("plugged");
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("offline") != std::string::npos; }, 5000)) << Reasons();
    // Gone for a while: the job waits instead of ending.
    struct timespec pause {1, 0};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_PROCESSING);
    EXPECT_FALSE(SheetRecorded(1));

    emulator().Execute("plug " + serial());
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 30000))
        << m_server.JobState(job);
    ASSERT_TRUE(SheetRecorded(1));
    EXPECT_FALSE(SheetRecorded(2));
    EXPECT_EQ(Shown("errors"), "0");
    ExpectSameSheet(SheetPath(1), FilterChainSheet(photo));
}

}  // namespace
