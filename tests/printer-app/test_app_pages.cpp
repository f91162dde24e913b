// The printer application's web pages with an emulated RT-50 whose firmware
// text is hostile: what the printer, an administrator and a job's owner
// wrote reaches the pages escaped, and "/rt50" lists the printer with its
// serial number, connection, state, media and counts. Two jobs sent at once
// to one printer print one after the other, never sheet by sheet in turns.
#include "AppServer.h"
#include "Rt50EmulatorFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using apptest::AppServer;
using apptest::Login;
using apptest::WaitFor;

namespace {

const char* NoPassword(const char*, http_t*, const char*, const char*, void*)
{
    return nullptr;
}

const Login kAdmin{apptest::kAdminUser, apptest::kAdminPassword};

// Markup in every text a visitor's browser could run or be misled by.
constexpr char kHostileFirmware[] = "<i>1.5</i>&\"x";
constexpr char kHostileLocation[] = "<script>alert('location')</script>";
constexpr char kHostileJobName[] = "<img src=x onerror=alert(1)>";

class AppPagesTest : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        cupsSetPasswordCB2(NoPassword, nullptr);
        // The firmware text is read when the printer arrives.
        ASSERT_EQ(emulator().Execute("set " + serial() + " firmware " + kHostileFirmware), "OK\n");
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    std::string Page(const std::string& path, const Login& login = {})
    {
        std::string page;
        EXPECT_EQ(m_server.WebStatus(path, login, nullptr, &page), HTTP_STATUS_OK) << path;
        return page;
    }

    // The settings the emulator recorded for sheet `number`; empty when
    // there is no such sheet.
    std::string SheetSettings(int number) const
    {
        char name[64];
        std::snprintf(name, sizeof name, "-sheet-%04d.txt", number);
        std::ifstream file(outputFolder() + "/" + serial() + name);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    AppServer m_server;
};

// The text of `name=` in a sheet's settings; empty when missing.
std::string Setting(const std::string& settings, const std::string& name)
{
    const size_t at = settings.find("\n" + name + "=");
    if (at == std::string::npos)
        return "";
    const size_t start = at + name.size() + 2;
    return settings.substr(start, settings.find('\n', start) - start);
}

TEST_F(AppPagesTest, HostileTextsReachThePagesEscapedAndTheTableListsThePrinter)
{
    const std::string printerPage = "/VANTORA-RT-50_" + serial() + "/";

    // The firmware as the printer sent it, escaped, in the table of every
    // RT-50; with the printer's link, serial, connection, state and media.
    const std::string table = Page("/rt50");
    EXPECT_EQ(table.find("<i>1.5"), std::string::npos) << table;
    EXPECT_NE(table.find("&lt;i"), std::string::npos) << table;
    EXPECT_NE(table.find("&amp;&quot;x"), std::string::npos) << table;
    EXPECT_NE(table.find("<a href=\"" + printerPage.substr(0, printerPage.size() - 1) + "\">VANTORA-RT-50_" +
                         serial() + "</a>"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("<td>" + serial() + "</td>"), std::string::npos) << table;
    EXPECT_NE(table.find("<td>USB</td>"), std::string::npos) << table;
    EXPECT_NE(table.find("(roll "), std::string::npos) << table;
    EXPECT_NE(table.find(" / "), std::string::npos) << table;   // prints left of a new set

    // The printer's page names only the firmware's plain characters.
    const std::string home = Page(printerPage);
    EXPECT_NE(home.find("Serial number " + serial() + ", firmware i1.5ix"), std::string::npos) << home;
    EXPECT_EQ(home.find("<i>1.5"), std::string::npos) << home;
    // So does the log, where a line break of the printer's could forge lines.
    const std::string log = m_server.Log();
    EXPECT_EQ(log.find("<i>1.5"), std::string::npos) << log;
    EXPECT_NE(log.find("(firmware i1.5ix)"), std::string::npos) << log;

    // An administrator's location (set on the printer's own page) and a
    // job's name, shown without their markup.
    apptest::WebRequest config;
    config.path = printerPage + "config";
    config.login = kAdmin;
    std::string form;
    ASSERT_EQ(m_server.Web(config, &form), HTTP_STATUS_OK);
    const std::string marker = "name=\"session\" value=\"";
    const size_t token = form.find(marker);
    ASSERT_NE(token, std::string::npos) << form;
    const std::string post = "session=" + form.substr(token + marker.size(), 64) +
                             "&location=%3Cscript%3Ealert(%27location%27)%3C%2Fscript%3E";
    config.form = post.c_str();
    config.fields = {{HTTP_FIELD_ORIGIN, "https://" + std::string(apptest::kTestAddress) + ":" +
                                             std::to_string(m_server.port())}};
    ASSERT_EQ(m_server.Web(config, &form), HTTP_STATUS_OK);
    ipp_t* response = m_server.PrinterAttributes({"printer-location"});
    ASSERT_EQ(AppServer::Values(response, "printer-location"), kHostileLocation);
    ippDelete(response);

    ipp_t* create = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, kAdmin.user.c_str());
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, kHostileJobName);
    response = m_server.Send(create, m_server.PrinterResource());
    ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr) << cupsLastErrorString();
    ippDelete(response);

    for (const std::string& path : {printerPage, printerPage + "jobs"}) {
        const std::string page = Page(path, kAdmin);
        EXPECT_EQ(page.find("<img src=x"), std::string::npos) << path << page;
        EXPECT_NE(page.find("img src=x onerror=alert(1)"), std::string::npos) << path << page;
        EXPECT_EQ(page.find("<script>alert"), std::string::npos) << path << page;
    }
    EXPECT_NE(Page(printerPage, kAdmin).find("&lt;script"), std::string::npos);
}

TEST_F(AppPagesTest, TwoJobsSentAtOnceToOnePrinterTakeTurnsJobByJob)
{
    emulator().Execute("set " + serial() + " printms 300");
    // Two photo jobs of three copies, told apart on the sheet by their
    // overcoat, sent without waiting for each other.
    const std::string photo = std::string(VANTORA_TEST_PHOTOS) + "/landscape.jpg";
    auto send = [&](const char* overcoat) {
        ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/jpeg");
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 3);
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "overcoat-finish", nullptr, overcoat);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), {}, photo);
        ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
        const int job = id != nullptr ? ippGetInteger(id, 0) : 0;
        ippDelete(response);
        return job;
    };
    const int glossy = send("glossy");
    const int matte = send("matte");
    ASSERT_GT(glossy, 0);
    ASSERT_GT(matte, 0);
    ASSERT_TRUE(WaitFor(
        [&] {
            return m_server.JobState(glossy) == IPP_JSTATE_COMPLETED && m_server.JobState(matte) == IPP_JSTATE_COMPLETED;
        },
        180000))
        << m_server.JobState(glossy) << " " << m_server.JobState(matte);
    EXPECT_EQ(m_server.JobValue(glossy, "job-impressions-completed"), "3");
    EXPECT_EQ(m_server.JobValue(matte, "job-impressions-completed"), "3");

    // Six sheets, each job's three together, in the order the jobs came.
    std::string finishes;
    for (int sheet = 1; sheet <= 6; ++sheet) {
        const std::string settings = SheetSettings(sheet);
        ASSERT_FALSE(settings.empty()) << "sheet " << sheet;
        finishes += Setting(settings, "OVERCOAT") + " ";
    }
    EXPECT_TRUE(SheetSettings(7).empty());
    const std::string first = Setting(SheetSettings(1), "OVERCOAT");
    const std::string last = Setting(SheetSettings(6), "OVERCOAT");
    EXPECT_NE(first, last) << finishes;
    EXPECT_EQ(finishes, first + " " + first + " " + first + " " + last + " " + last + " " + last + " ") << finishes;
}

}  // namespace
