// The printer application's queue with an emulated RT-50: jobs sent while
// the printer is busy print in the order they came, a job waiting for other
// media lets later jobs pass and prints once its media is loaded, and each
// job counts its sheets.
#include "AppServer.h"
#include "FilterTestKit.h"
#include "Rt50EmulatorFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using apptest::AppServer;
using apptest::WaitFor;

namespace {

class AppQueueTest : public rt50emu::Rt50EmulatorTest {
protected:
    int PrintMs() const override { return 300; }

    void SetUp() override
    {
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
        m_photo = m_files.Path("phone.jpg");
        ASSERT_TRUE(apptest::MakePhoto(m_photo, 1200, 900));
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    // Print-Job of the photo on `media` (the printer's default when empty);
    // the job id or 0.
    int PrintPhoto(const char* media = nullptr)
    {
        ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/jpeg");
        if (media != nullptr)
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, media);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), {}, m_photo);
        ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
        const int job = id != nullptr ? ippGetInteger(id, 0) : 0;
        ippDelete(response);
        return job;
    }

    std::string Reasons() const
    {
        ipp_t* response = m_server.PrinterAttributes({"printer-state-reasons"});
        const std::string reasons = AppServer::Values(response, "printer-state-reasons");
        ippDelete(response);
        return reasons;
    }

    // The settings the emulator recorded for sheet `number`.
    std::string SheetSettings(int number) const
    {
        char name[64];
        std::snprintf(name, sizeof name, "-sheet-%04d.txt", number);
        std::ifstream file(outputFolder() + "/" + serial() + name);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // The rows of sheet `number`; 0 when it was not recorded.
    int SheetHeight(int number) const
    {
        const std::string settings = SheetSettings(number);
        const size_t at = settings.find("\nHEIGHT=");
        return at == std::string::npos ? 0 : std::atoi(settings.c_str() + at + 8);
    }

    AppServer m_server;
    filtertest::TempDir m_files;
    std::string m_photo;
};

TEST_F(AppQueueTest, JobsSentWhileThePrinterIsBusyPrintInTheOrderTheyCameEachCounted)
{
    emulator().Execute("set " + serial() + " printms 1200");
    const int first = PrintPhoto();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(first) == IPP_JSTATE_PROCESSING; }, 60000));
    std::vector<int> sent;
    for (int i = 0; i < 5; ++i) {
        sent.push_back(PrintPhoto());
        ASSERT_GT(sent.back(), 0);
    }
    // The order in which they complete, seen every 50 ms (a sheet takes
    // more than a second).
    std::vector<int> completed;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int job : sent) {
                if (std::find(completed.begin(), completed.end(), job) == completed.end() &&
                    m_server.JobState(job) == IPP_JSTATE_COMPLETED)
                    completed.push_back(job);
            }
            return completed.size() == sent.size();
        },
        180000))
        << completed.size();
    EXPECT_EQ(completed, sent);
    for (int job : sent) {
        EXPECT_EQ(m_server.JobValue(job, "job-impressions-completed"), "1") << job;
        EXPECT_EQ(m_server.JobValue(job, "job-media-sheets-completed"), "1") << job;
    }
    EXPECT_TRUE(SheetSettings(6).find("SERIAL") != std::string::npos);
    EXPECT_TRUE(SheetSettings(7).empty());

    // Copies count as sheets.
    const int copies = m_server.PrintFile(m_photo, "image/jpeg", 2);
    ASSERT_GT(copies, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(copies) == IPP_JSTATE_COMPLETED; }, 60000));
    EXPECT_EQ(m_server.JobValue(copies, "job-impressions-completed"), "2");
    EXPECT_EQ(m_server.JobValue(copies, "job-media-sheets-completed"), "2");
}

TEST_F(AppQueueTest, AJobWaitingForMediaLetsALaterJobPassAndPrintsOnceItsMediaIsLoaded)
{
    ASSERT_EQ(Shown("media"), "150");
    // Sent while the printer prints: the queue holds it before its turn.
    emulator().Execute("set " + serial() + " printms 3000");
    const int busy = PrintPhoto();
    ASSERT_GT(busy, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(busy) == IPP_JSTATE_PROCESSING; }, 60000));
    const int large = PrintPhoto("oe_photo-4x8_4x8in");
    ASSERT_GT(large, 0);
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("media-needed") != std::string::npos; }, 30000)) << Reasons();
    ASSERT_TRUE(WaitFor(
        [&] { return m_server.JobValue(large, "job-state-message").find("Media needed") != std::string::npos; },
        10000))
        << m_server.JobValue(large, "job-state-message");

    const int small = PrintPhoto("na_index-4x6_4x6in");
    ASSERT_GT(small, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(small) == IPP_JSTATE_COMPLETED; }, 60000))
        << m_server.JobState(small);
    EXPECT_EQ(m_server.JobState(busy), IPP_JSTATE_COMPLETED);
    EXPECT_LT(m_server.JobState(large), IPP_JSTATE_PROCESSING);
    EXPECT_NE(m_server.JobValue(large, "job-state-message").find("102x204mm"), std::string::npos)
        << m_server.JobValue(large, "job-state-message");
    EXPECT_NE(Reasons().find("media-needed"), std::string::npos) << Reasons();
    EXPECT_EQ(SheetHeight(3), 0);

    emulator().Execute("set " + serial() + " printms 300");
    emulator().Execute("set " + serial() + " media 161");
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(large) == IPP_JSTATE_COMPLETED; }, 60000))
        << m_server.JobState(large);
    // The 8-inch sheet is the longer one.
    EXPECT_GT(SheetHeight(3), SheetHeight(2) * 5 / 4) << SheetSettings(2) << SheetSettings(3);
    EXPECT_EQ(m_server.JobValue(large, "job-media-sheets-completed"), "1");
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("media-needed") == std::string::npos; }, 30000)) << Reasons();
    EXPECT_EQ(Shown("errors"), "0");

    // Cancelled while it waits, the job takes the media-needed reason along.
    emulator().Execute("set " + serial() + " media 150");
    emulator().Execute("set " + serial() + " printms 3000");
    // A job that names no size takes the loaded media the application has
    // seen (PAPPL's media-default follows media-ready): sent before the
    // next poll, it would be a 4.5x8 job waiting for its media.
    ASSERT_TRUE(WaitFor(
        [&] {
            ipp_t* response = m_server.PrinterAttributes({"media-ready"});
            const std::string ready = AppServer::Values(response, "media-ready");
            ippDelete(response);
            return ready.find("na_index-4x6") != std::string::npos;
        },
        30000));
    const int before = PrintPhoto();
    ASSERT_GT(before, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(before) == IPP_JSTATE_PROCESSING; }, 60000));
    const int cancelled = PrintPhoto("oe_photo-115x204mm_4.5x8in");
    ASSERT_GT(cancelled, 0);
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("media-needed") != std::string::npos; }, 30000)) << Reasons();
    EXPECT_TRUE(m_server.CancelJob(cancelled));
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("media-needed") == std::string::npos; }, 30000))
        << Reasons() << "; printer status " << Shown("status") << ", media " << Shown("media") << "; job " << before
        << ": " << m_server.JobState(before) << " " << m_server.JobValue(before, "job-state-message") << "; job "
        << cancelled << ": " << m_server.JobState(cancelled) << " "
        << m_server.JobValue(cancelled, "job-state-message") << "; sheets 4 and 5: " << SheetSettings(4) << "|"
        << SheetSettings(5);
    EXPECT_EQ(m_server.JobState(cancelled), IPP_JSTATE_CANCELED);
}

// The home and printer pages name the printer's state in its own words,
// each reason once within the sentence that lists them.
TEST_F(AppQueueTest, ThePagesSpeakOfRibbonAndPaper)
{
    emulator().Execute("set " + serial() + " status 1200");
    emulator().Execute("set " + serial() + " remain 5");
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("marker-supply-empty") != std::string::npos; }, 10000))
        << Reasons();
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("media-low") != std::string::npos; }, 10000)) << Reasons();
    for (const std::string& page : {std::string("/"), m_server.PrinterResource().replace(0, 10, "") + "/"}) {
        std::string body;
        ASSERT_EQ(m_server.WebStatus(page, {}, nullptr, &body), HTTP_STATUS_OK) << page;
        EXPECT_NE(body.find("Ribbon end"), std::string::npos) << page << body;
        EXPECT_NE(body.find("Few prints left"), std::string::npos) << page << body;
        EXPECT_EQ(body.find(" ink"), std::string::npos) << page << body;
        EXPECT_EQ(body.find("Ink"), std::string::npos) << page << body;
        EXPECT_EQ(body.find(".."), std::string::npos) << page << body;
    }
}

}  // namespace
