// The printer application as a stranger on the network meets it: from an
// address that is not loopback, printing and reading are open, while
// administration needs an administrator's login, a job is cancelled only by
// its owner, and other users' job names are withheld, whatever the request
// looks like. A hostile request is refused and the others served. Deleting
// a printer leaves the others served.
#include "AppServer.h"
#include "Rt50EmulatorFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>

using apptest::AppServer;
using apptest::Login;
using apptest::WaitFor;

namespace {

const char* NoPassword(const char*, http_t*, const char*, const char*, void*)
{
    return nullptr;
}

class AppAccessTest : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        // A refused login ends the request instead of asking on a terminal.
        cupsSetPasswordCB2(NoPassword, nullptr);
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    // The status of an IPP request to the printer (or, with `resource`,
    // to another object).
    ipp_status_t Status(ipp_t* request, const Login& login = {}, const std::string& resource = "")
    {
        ipp_t* response = m_server.Send(request, resource.empty() ? m_server.PrinterResource() : resource, login);
        const ipp_status_t status = response != nullptr ? ippGetStatusCode(response) : cupsLastError();
        ippDelete(response);
        return status;
    }

    static ipp_t* Request(ipp_op_t operation, const char* user, int jobId = 0)
    {
        ipp_t* request = ippNewRequest(operation);
        if (user != nullptr)
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user);
        if (jobId > 0)
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
        return request;
    }

    std::string PrinterState()
    {
        ipp_t* response = m_server.PrinterAttributes({"printer-state"});
        const std::string state = AppServer::Values(response, "printer-state");
        ippDelete(response);
        return state;
    }

    AppServer m_server;
};

// What libcups reports when the server asks for a login the client does not
// give.
constexpr ipp_status_t kNeedsLogin = IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;

const Login kAdmin{apptest::kAdminUser, apptest::kAdminPassword};
const Login kPlain{apptest::kPlainUser, apptest::kPlainPassword};
const Login kWrong{apptest::kAdminUser, "guess"};

TEST_F(AppAccessTest, AdministrationNeedsAnAdministratorsLogin)
{
    const std::string page = "/VANTORA-RT-50_" + serial();
    // The status pages are open.
    EXPECT_EQ(m_server.WebStatus("/"), HTTP_STATUS_OK);
    EXPECT_EQ(m_server.WebStatus(page + "/"), HTTP_STATUS_OK);
    // The forms that change something are not.
    for (const std::string& path : {std::string("/addprinter"), page + "/config", page + "/delete"}) {
        EXPECT_EQ(m_server.WebStatus(path), HTTP_STATUS_UNAUTHORIZED) << path;
        EXPECT_EQ(m_server.WebStatus(path, kWrong), HTTP_STATUS_UNAUTHORIZED) << path;
        EXPECT_EQ(m_server.WebStatus(path, kPlain), HTTP_STATUS_FORBIDDEN) << path;
        EXPECT_EQ(m_server.WebStatus(path, kAdmin), HTTP_STATUS_OK) << path;
    }
    // Nor are the printer page's own actions.
    EXPECT_EQ(m_server.WebStatus(page + "/", {}, "action=hold-new-jobs"), HTTP_STATUS_UNAUTHORIZED);

    // IPP administration of the printer and the system.
    ipp_t* setAttributes = Request(IPP_OP_SET_PRINTER_ATTRIBUTES, "eve");
    ippAddString(setAttributes, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, "taken");
    EXPECT_EQ(Status(setAttributes), kNeedsLogin);
    for (ipp_op_t operation : {IPP_OP_PAUSE_PRINTER, IPP_OP_DISABLE_PRINTER, IPP_OP_HOLD_NEW_JOBS}) {
        EXPECT_EQ(Status(Request(operation, "eve")), kNeedsLogin) << ippOpString(operation);
        EXPECT_EQ(Status(Request(operation, "eve"), kPlain), IPP_STATUS_ERROR_FORBIDDEN) << ippOpString(operation);
    }
    const std::string system = "/ipp/system";
    auto createPrinter = [&](const char* uri) {
        ipp_t* request = ippNewRequest(IPP_OP_CREATE_PRINTER);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
                     ("ipp://" + std::string(apptest::kTestAddress) + ":" + std::to_string(m_server.port()) + system).c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "eve");
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-service-type", nullptr, "print");
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "remote-added");
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "smi55357-driver", nullptr, "vantora_rt50");
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "smi55357-device-uri", nullptr, uri);
        return request;
    };
    EXPECT_EQ(Status(createPrinter("file:///tmp/remote-added"), {}, system), kNeedsLogin);
    EXPECT_EQ(Status(Request(IPP_OP_SHUTDOWN_ALL_PRINTERS, "eve"), {}, system), kNeedsLogin);
    // Even an administrator adds no printer for a file or another scheme.
    EXPECT_NE(Status(createPrinter("file:///tmp/remote-added"), kAdmin, system), IPP_STATUS_OK);
    EXPECT_NE(Status(createPrinter("socket://192.0.2.9"), kAdmin, system), IPP_STATUS_OK);
    EXPECT_EQ(PrinterState(), "3");

    // An administrator's login pauses and resumes the printer.
    EXPECT_EQ(Status(Request(IPP_OP_PAUSE_PRINTER, "admin"), kAdmin), IPP_STATUS_OK);
    EXPECT_TRUE(WaitFor([&] { return PrinterState() == "5"; }, 5000)) << PrinterState();
    EXPECT_EQ(Status(Request(IPP_OP_RESUME_PRINTER, "admin"), kAdmin), IPP_STATUS_OK);
    EXPECT_TRUE(WaitFor([&] { return PrinterState() == "3"; }, 5000)) << PrinterState();

    // Root on the machine administers through the control socket.
    const std::string name = "VANTORA-RT-50_" + serial();
    EXPECT_EQ(m_server.Command({"pause", "-d", name}), 0);
    EXPECT_TRUE(WaitFor([&] { return PrinterState() == "5"; }, 5000)) << PrinterState();
    EXPECT_EQ(m_server.Command({"resume", "-d", name}), 0);
    EXPECT_TRUE(WaitFor([&] { return PrinterState() == "3"; }, 5000)) << PrinterState();
}

TEST_F(AppAccessTest, JobsBelongToTheirOwners)
{
    ipp_t* create = Request(IPP_OP_CREATE_JOB, "alice");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "alice-holiday");
    ipp_t* created = m_server.Send(create, m_server.PrinterResource());
    ipp_attribute_t* id = created != nullptr ? ippFindAttribute(created, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr) << cupsLastErrorString();
    const int job = ippGetInteger(id, 0);
    ippDelete(created);

    // Another user can neither cancel nor hold it, with or without a plain
    // login.
    EXPECT_EQ(Status(Request(IPP_OP_CANCEL_JOB, "eve", job)), kNeedsLogin);
    EXPECT_EQ(Status(Request(IPP_OP_HOLD_JOB, "eve", job)), kNeedsLogin);
    EXPECT_EQ(Status(Request(IPP_OP_CANCEL_JOB, "eve", job), kPlain), IPP_STATUS_ERROR_FORBIDDEN);
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_HELD);

    // It sees the job's state, not its name or owner.
    auto attributes = [&](ipp_op_t operation, const char* user) {
        ipp_t* request = Request(operation, user, operation == IPP_OP_GET_JOBS ? 0 : job);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
        ipp_t* response = m_server.Send(request, m_server.PrinterResource());
        const std::string text = AppServer::Values(response, "job-state") + "|" +
                                 AppServer::Values(response, "job-name") + "|" +
                                 AppServer::Values(response, "job-originating-user-name");
        ippDelete(response);
        return text;
    };
    EXPECT_EQ(attributes(IPP_OP_GET_JOB_ATTRIBUTES, "eve"), "4||");
    EXPECT_EQ(attributes(IPP_OP_GET_JOBS, "eve"), "4||");
    EXPECT_EQ(attributes(IPP_OP_GET_JOB_ATTRIBUTES, "alice"), "4|alice-holiday|alice");
    // So does the printer's web page, but for an administrator.
    for (const Login& login : {Login{}, kPlain, kAdmin}) {
        std::string page;
        EXPECT_EQ(m_server.WebStatus("/VANTORA-RT-50_" + serial() + "/", login, nullptr, &page), HTTP_STATUS_OK);
        const bool named = page.find("alice-holiday") != std::string::npos;
        EXPECT_EQ(named, login.user == kAdmin.user) << "login \"" << login.user << "\"";
        EXPECT_EQ(page.find("Withheld") != std::string::npos, !named);
    }

    // The owner and an administrator may.
    EXPECT_EQ(Status(Request(IPP_OP_HOLD_JOB, "admin", job), kAdmin), IPP_STATUS_OK);
    EXPECT_EQ(Status(Request(IPP_OP_CANCEL_JOB, "alice", job)), IPP_STATUS_OK);
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_CANCELED);
}

TEST_F(AppAccessTest, DeletingAPrinterLeavesTheOthersServed)
{
    const std::string second = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(second));
    auto printerId = [&](const std::string& printerSerial) {
        ipp_t* request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "eve");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-id");
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(printerSerial));
        const std::string id = response != nullptr && ippGetStatusCode(response) == IPP_STATUS_OK
                                   ? AppServer::Values(response, "printer-id")
                                   : "";
        ippDelete(response);
        return id;
    };
    ASSERT_TRUE(WaitFor([&] { return !printerId(second).empty(); }, 20000));
    // Every printer has its own id from the start.
    const std::string firstId = printerId(serial()), secondId = printerId(second);
    EXPECT_NE(firstId, "0");
    EXPECT_NE(secondId, "0");
    EXPECT_NE(firstId, secondId);
    // So has one added by hand, once the command that added it has ended,
    // and it is deleted by its name.
    const std::string hand = "RT50HAND0001", handName = "VANTORA-RT-50_" + hand;
    ASSERT_EQ(m_server.Command({"add", "-d", handName, "-v", "vantora-rt50://VANTORA/RT-50?serial=" + hand, "-m",
                                "vantora_rt50"}),
              0);
    EXPECT_TRUE(WaitFor([&] { return !printerId(hand).empty() && printerId(hand) != "0"; }, 60000)) << printerId(hand);
    EXPECT_NE(printerId(hand), firstId);
    EXPECT_NE(printerId(hand), secondId);
    ASSERT_EQ(m_server.Command({"delete", "-d", handName}), 0);
    EXPECT_EQ(printerId(hand), "");

    // Loaded from the saved state, as after a restart.
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    // Its RT-50 is attached once its supply level shows.
    auto level = [&] {
        ipp_t* request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "eve");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "marker-levels");
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(second));
        const std::string levels = AppServer::Values(response, "marker-levels");
        ippDelete(response);
        return levels;
    };
    ASSERT_TRUE(WaitFor([&] { return level() == "100"; }, 20000)) << level() << "\n" << m_server.Log();
    EXPECT_EQ(printerId(second), secondId);
    ASSERT_EQ(m_server.Command({"delete", "-d", "VANTORA-RT-50_" + second}), 0);
    EXPECT_TRUE(WaitFor([&] { return printerId(serial()) == firstId; }, 5000));
    EXPECT_EQ(m_server.WebStatus("/"), HTTP_STATUS_OK);
    EXPECT_EQ(m_server.Command({"status"}), 0);
    // It stays deleted while its RT-50 stays plugged in...
    struct timespec pause {2, 0};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(printerId(second), "");
    // ... and comes back when it is plugged in again.
    Control("unplug " + second);
    Control("plug " + second);
    EXPECT_TRUE(WaitFor([&] { return !printerId(second).empty(); }, 20000));
    EXPECT_EQ(printerId(serial()), firstId);
}

// PAPPL starts a server of its own for a command that cannot reach the
// running one (a moment's delay is enough): that server, on the same
// state, must not take the running one's printers and control socket.
TEST_F(AppAccessTest, ASecondServerOnTheSameStateIsRefused)
{
    EXPECT_EQ(m_server.Command({"server", "-o", "server-port=" + std::to_string(m_server.port() + 1)}), 1);
    EXPECT_EQ(m_server.Command({"status"}), 0);
    EXPECT_EQ(PrinterState(), "3");
    // Listing the drivers needs no server and works beside one.
    EXPECT_EQ(m_server.Command({"drivers"}), 0);
}

// An IPP request's bytes: Get-Printer-Attributes for `printerUri` with an
// attribute of collections nested `depth` deep (each holding the next).
std::string NestedRequest(const std::string& printerUri, int depth)
{
    auto attribute = [](int tag, const std::string& name, const std::string& value) {
        std::string bytes(1, static_cast<char>(tag));
        bytes += static_cast<char>(name.size() >> 8);
        bytes += static_cast<char>(name.size() & 0xff);
        bytes += name;
        bytes += static_cast<char>(value.size() >> 8);
        bytes += static_cast<char>(value.size() & 0xff);
        return bytes + value;
    };
    std::string body("\x02\x00\x00\x0b\x00\x00\x00\x01\x01", 9);
    body += attribute(IPP_TAG_CHARSET, "attributes-charset", "utf-8");
    body += attribute(IPP_TAG_LANGUAGE, "attributes-natural-language", "en");
    body += attribute(IPP_TAG_URI, "printer-uri", printerUri);
    body += attribute(IPP_TAG_BEGIN_COLLECTION, "media-col", "");
    for (int level = 1; level < depth; ++level)
        body += attribute(IPP_TAG_MEMBERNAME, "", "media-col") + attribute(IPP_TAG_BEGIN_COLLECTION, "", "");
    for (int level = 0; level < depth; ++level)
        body += attribute(IPP_TAG_END_COLLECTION, "", "");
    return body + std::string(1, static_cast<char>(IPP_TAG_END));
}

// POSTs `body` as an IPP request over plain HTTP; the HTTP status
// (HTTP_STATUS_ERROR when the server closed the connection first) and the
// Server header.
http_status_t RawIppPost(int port, const std::string& resource, const std::string& body, std::string* server)
{
    http_t* http = httpConnect2(apptest::kTestAddress, port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr)
        return HTTP_STATUS_ERROR;
    httpSetTimeout(http, 60.0, nullptr, nullptr);
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_HOST, apptest::kTestAddress);
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
    httpSetLength(http, body.size());
    http_status_t status = HTTP_STATUS_ERROR;
    if (httpPost(http, resource.c_str()) == 0) {
        // The server may answer and close before it has read everything.
        httpWrite2(http, body.data(), body.size());
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        if (server != nullptr)
            *server = httpGetField(http, HTTP_FIELD_SERVER);
        httpFlush(http);
    }
    httpClose(http);
    return status;
}

// Every string value of a response, one per line.
std::string AllStrings(ipp_t* response)
{
    std::string text;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr; attr = ippNextAttribute(response)) {
        for (int i = 0; i < ippGetCount(attr); ++i) {
            const char* value = ippGetString(attr, i, nullptr);
            if (value != nullptr)
                text += std::string(ippGetName(attr) != nullptr ? ippGetName(attr) : "") + "=" + value + "\n";
        }
    }
    return text;
}

TEST_F(AppAccessTest, AHostileRequestIsRefusedAndTheOthersServed)
{
    std::signal(SIGPIPE, SIG_IGN);   // the server may close while the request is sent
    const std::string uri = m_server.PrinterUri(), resource = m_server.PrinterResource();
    // Nesting as deep as real requests go is read; one level more is not.
    std::string server;
    EXPECT_EQ(RawIppPost(m_server.port(), resource, NestedRequest(uri, 10), &server), HTTP_STATUS_OK);
    EXPECT_EQ(RawIppPost(m_server.port(), resource, NestedRequest(uri, 11), nullptr), HTTP_STATUS_BAD_REQUEST);
    // 20,000 levels (about 300 KB), anonymous over plain HTTP: an error or
    // a closed connection, and the application goes on.
    const http_status_t deep = RawIppPost(m_server.port(), resource, NestedRequest(uri, 20000), nullptr);
    EXPECT_TRUE(deep == HTTP_STATUS_BAD_REQUEST || deep == HTTP_STATUS_ERROR) << httpStatus(deep);
    int status = 0;
    EXPECT_EQ(waitpid(m_server.pid(), &status, WNOHANG), 0) << "the application ended";
    EXPECT_EQ(PrinterState(), "3");
    EXPECT_NE(m_server.Log().find("nested deeper than"), std::string::npos) << m_server.Log();

    // No library's version in the Server header nor in the firmware
    // attributes; the application's own and the RT-50's firmware are there.
    EXPECT_EQ(server.find("PAPPL"), std::string::npos) << server;
    EXPECT_EQ(server.find("CUPS"), std::string::npos) << server;
    EXPECT_NE(server.find("VANTORA"), std::string::npos) << server;
    for (const char* names : {"all", "printer-firmware-name"}) {
        ipp_t* request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "eve");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, names);
        ipp_t* response = m_server.Send(request, resource);
        const std::string firmware = AppServer::Values(response, "printer-firmware-name") + "|" +
                                     AppServer::Values(response, "printer-firmware-string-version");
        ippDelete(response);
        EXPECT_NE(firmware.find("RT-50 " + serial()), std::string::npos) << names << ": " << firmware;
        for (const char* library : {"PAPPL", "libcups", "libjpeg", "libpng", "1.3.1", "2.4.2"})
            EXPECT_EQ(firmware.find(library), std::string::npos) << names << ": " << firmware;
    }
    ipp_t* request = ippNewRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "eve");
    ipp_t* response = m_server.Send(request, "/ipp/system");
    EXPECT_EQ(AllStrings(response).find("PAPPL"), std::string::npos) << AllStrings(response);
    ippDelete(response);

    // Anyone may send Identify-Printer; its message stays off the public page.
    ipp_t* identify = Request(IPP_OP_IDENTIFY_PRINTER, "eve");
    ippAddString(identify, IPP_TAG_OPERATION, IPP_TAG_TEXT, "message", nullptr, "Printer moved: pay at evil.example");
    EXPECT_EQ(Status(identify), IPP_STATUS_OK);
    std::string page;
    EXPECT_EQ(m_server.WebStatus("/rt50", {}, nullptr, &page), HTTP_STATUS_OK);
    EXPECT_EQ(page.find("evil.example"), std::string::npos);
    EXPECT_NE(page.find("Identify-Printer"), std::string::npos);
}

TEST_F(AppAccessTest, WithheldNamesStayWithheldInEveryAnswer)
{
    // eve's and an administrator's subscriptions to the printer's events,
    // made before alice's job; the subscription's id or 0.
    auto subscribe = [&](const Login& login) {
        ipp_t* request = Request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, login.user.empty() ? "eve" : login.user.c_str());
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
        static const char* const kEvents[] = {"job-created", "job-state-changed", "printer-state-changed"};
        ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", 3, nullptr, kEvents);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), login);
        ipp_attribute_t* id = ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER);
        const int subscription = id != nullptr ? ippGetInteger(id, 0) : 0;
        ippDelete(response);
        return subscription;
    };
    const int adminSubscription = subscribe(kAdmin);
    const int eveSubscription = subscribe({});
    ASSERT_GT(eveSubscription, 0);
    ASSERT_GT(adminSubscription, 0);

    // alice's job, sent with requesting-user-name twice: a keyword first,
    // then the name PAPPL takes as the owner.
    ipp_t* create = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requesting-user-name", nullptr, "alice");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "<b>alice</b>");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "alice-secret-photo");
    ipp_t* created = m_server.Send(create, m_server.PrinterResource());
    ipp_attribute_t* id = created != nullptr ? ippFindAttribute(created, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr) << cupsLastErrorString();
    const int job = ippGetInteger(id, 0);
    ippDelete(created);

    // Every value of the owner was scrubbed before it was stored.
    auto asAdmin = [&](ipp_op_t operation, const char* names) {
        ipp_t* request = Request(operation, "admin", job);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, names);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), kAdmin);
        const std::string text = AllStrings(response);
        ippDelete(response);
        return text;
    };
    const std::string owner = asAdmin(IPP_OP_GET_JOB_ATTRIBUTES, "job-originating-user-name");
    EXPECT_NE(owner.find("job-originating-user-name=_b_alice_/b_"), std::string::npos) << owner;

    // eve asks with a decoy requested-attributes before the real one.
    for (ipp_op_t operation : {IPP_OP_GET_JOBS, IPP_OP_GET_JOB_ATTRIBUTES}) {
        for (const char* names : {"all", "job-name", "job-description"}) {
            ipp_t* request = Request(operation, "eve", operation == IPP_OP_GET_JOBS ? 0 : job);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, names);
            ipp_t* response = m_server.Send(request, m_server.PrinterResource());
            const std::string text = AllStrings(response);
            EXPECT_NE(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), nullptr) << ippOpString(operation);
            ippDelete(response);
            EXPECT_EQ(text.find("alice"), std::string::npos) << ippOpString(operation) << " " << names << "\n" << text;
        }
    }

    // The job's events: eve's subscription was made without job events; the
    // administrator's has them, and only the administrator reads them.
    auto notifications = [&](int subscription, const Login& login, ipp_status_t* status) {
        ipp_t* request = Request(IPP_OP_GET_NOTIFICATIONS, login.user.empty() ? "eve" : login.user.c_str());
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", subscription);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), login);
        *status = response != nullptr ? ippGetStatusCode(response) : cupsLastError();
        const std::string text = AllStrings(response);
        ippDelete(response);
        return text;
    };
    ipp_status_t status = IPP_STATUS_OK;
    const std::string eveEvents = notifications(eveSubscription, {}, &status);
    EXPECT_EQ(eveEvents.find("alice"), std::string::npos) << eveEvents;
    EXPECT_EQ(eveEvents.find("notify-subscribed-event=job-"), std::string::npos) << eveEvents;
    const std::string stolen = notifications(adminSubscription, {}, &status);
    EXPECT_EQ(status, kNeedsLogin);
    EXPECT_EQ(stolen.find("alice"), std::string::npos) << stolen;
    EXPECT_EQ(notifications(adminSubscription, kPlain, &status).find("alice"), std::string::npos);
    EXPECT_EQ(status, IPP_STATUS_ERROR_FORBIDDEN);
    const std::string adminEvents = notifications(adminSubscription, kAdmin, &status);
    EXPECT_EQ(status, IPP_STATUS_OK);
    EXPECT_NE(adminEvents.find("job-name=alice-secret-photo"), std::string::npos) << adminEvents;

    // Who subscribed is withheld from others too.
    auto subscriptions = [&](const Login& login, const char* names) {
        ipp_t* request = Request(IPP_OP_GET_SUBSCRIPTIONS, login.user.empty() ? "eve" : login.user.c_str());
        if (names != nullptr)
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, names);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), login);
        const std::string text = AllStrings(response);
        ippDelete(response);
        return text;
    };
    const std::string subscriber = std::string("notify-subscriber-user-name=") + apptest::kAdminUser;
    for (const char* names : {static_cast<const char*>(nullptr), "all", "notify-subscriber-user-name"})
        EXPECT_EQ(subscriptions({}, names).find(subscriber), std::string::npos) << subscriptions({}, names);
    EXPECT_NE(subscriptions({}, nullptr).find("notify-pull-method=ippget"), std::string::npos);
    EXPECT_NE(subscriptions(kAdmin, "all").find(subscriber), std::string::npos) << subscriptions(kAdmin, "all");
}

}  // namespace
