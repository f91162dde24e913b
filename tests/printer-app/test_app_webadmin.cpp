// The web administration as a page of another site meets it through a
// browser that holds an administrator's login: its POSTs are refused and
// change nothing, while the same forms posted from the application's own
// pages work. The forms carry a token of the login only on pages served
// with one, and failed logins from one address make it wait.
#include "AppServer.h"
#include "Rt50EmulatorFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

using apptest::AppServer;
using apptest::Login;
using apptest::WebRequest;
using apptest::WaitFor;

namespace {

const Login kAdmin{apptest::kAdminUser, apptest::kAdminPassword};
const Login kPlain{apptest::kPlainUser, apptest::kPlainPassword};
const Login kWrong{apptest::kAdminUser, "guess"};

constexpr char kBrowser[] = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0";

class WebAdminTest : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
        m_page = "/VANTORA-RT-50_" + serial();
        m_own = "https://" + std::string(apptest::kTestAddress) + ":" + std::to_string(m_server.port());
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    // The "session" values of a page's forms, in order.
    static std::vector<std::string> Tokens(const std::string& page)
    {
        const std::string marker = "name=\"session\" value=\"";
        std::vector<std::string> tokens;
        for (size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + 1)) {
            const size_t start = at + marker.size();
            const size_t end = page.find('"', start);
            if (end == std::string::npos)
                break;
            tokens.push_back(page.substr(start, end - start));
        }
        return tokens;
    }

    // The token of the forms of `path` as `login` sees it; "" when its
    // forms differ or there are none.
    std::string TokenOf(const std::string& path, const Login& login)
    {
        WebRequest request;
        request.path = path;
        request.login = login;
        std::string page;
        if (m_server.Web(request, &page) != HTTP_STATUS_OK)
            return "";
        const std::vector<std::string> tokens = Tokens(page);
        for (const std::string& token : tokens) {
            if (token != tokens.front())
                return "";
        }
        return tokens.empty() ? "" : tokens.front();
    }

    // A POST of `form` with an administrator's login and `fields`; its
    // status, the page in `body`.
    http_status_t Post(const std::string& path, const std::string& form,
                       const std::vector<std::pair<http_field_t, std::string>>& fields, std::string* body = nullptr)
    {
        WebRequest request;
        request.path = path;
        request.login = kAdmin;
        request.form = form.c_str();
        request.fields = fields;
        return m_server.Web(request, body);
    }

    std::string Location()
    {
        ipp_t* response = m_server.PrinterAttributes({"printer-location"});
        const std::string location = AppServer::Values(response, "printer-location");
        ippDelete(response);
        return location;
    }

    AppServer m_server;
    std::string m_page;
    std::string m_own;   // the origin of the application's pages, as the tests reach them
};

TEST_F(WebAdminTest, FormsActOnlyWhenPostedFromTheApplicationsOwnPages)
{
    // Pages served without a login hold forms, but no token in them.
    for (const std::string& path : {std::string("/"), m_page + "/"}) {
        WebRequest request;
        request.path = path;
        std::string page;
        ASSERT_EQ(m_server.Web(request, &page), HTTP_STATUS_OK) << path;
        const std::vector<std::string> tokens = Tokens(page);
        EXPECT_FALSE(tokens.empty()) << path;
        for (const std::string& token : tokens)
            EXPECT_EQ(token, "") << path;
    }
    // With a login they hold the user's own token, on every page.
    const std::string admin = TokenOf(m_page + "/config", kAdmin);
    ASSERT_EQ(admin.size(), 64u) << admin;
    EXPECT_EQ(TokenOf(m_page + "/", kAdmin), admin);
    EXPECT_EQ(TokenOf("/", kAdmin), admin);
    const std::string plain = TokenOf(m_page + "/", kPlain);
    ASSERT_EQ(plain.size(), 64u);
    EXPECT_NE(plain, admin);

    const std::string before = Location();
    const std::string config = m_page + "/config";
    const std::string forged = "session=" + admin + "&location=taken";
    // Another site's page, with the administrator's login the browser adds
    // and even with the right token: refused before the form is read.
    const std::vector<std::vector<std::pair<http_field_t, std::string>>> foreign = {
        {{HTTP_FIELD_ORIGIN, "https://attacker.example"}},
        {{HTTP_FIELD_ORIGIN, "null"}},
        {{HTTP_FIELD_REFERER, "https://attacker.example/page.html"}},
        // A look-alike host, user information and another scheme or port.
        {{HTTP_FIELD_REFERER, m_own + ".attacker.example/"}},
        {{HTTP_FIELD_ORIGIN, "https://" + std::string(apptest::kTestAddress) + "@attacker.example"}},
        {{HTTP_FIELD_ORIGIN, "http://" + std::string(apptest::kTestAddress) + ":" + std::to_string(m_server.port())}},
        {{HTTP_FIELD_ORIGIN, m_own + "1"}},
        // The Origin decides over a Referer of the application's own.
        {{HTTP_FIELD_ORIGIN, "https://attacker.example"}, {HTTP_FIELD_REFERER, m_own + "/"}},
        // A browser that states no origin at all.
        {{HTTP_FIELD_USER_AGENT, kBrowser}},
    };
    for (const auto& fields : foreign) {
        EXPECT_EQ(Post(config, forged, fields), HTTP_STATUS_FORBIDDEN) << fields.front().second;
    }
    EXPECT_EQ(Location(), before);

    // From the application's own page, but without the login's token.
    const std::vector<std::pair<http_field_t, std::string>> ownPage = {{HTTP_FIELD_ORIGIN, m_own},
                                                                        {HTTP_FIELD_USER_AGENT, kBrowser}};
    // The altered token differs from the login's in its last digit, whatever
    // that digit is.
    const std::string altered = admin.substr(0, 63) + (admin.back() == '0' ? "1" : "0");
    for (const std::string& form : {"session=" + plain + "&location=taken", std::string("location=taken"),
                                    "session=" + altered + "&location=taken"}) {
        std::string page;
        EXPECT_EQ(Post(config, form, ownPage, &page), HTTP_STATUS_OK);
        EXPECT_NE(page.find("Invalid form submission."), std::string::npos) << form;
        // The page shown again holds the login's token, for the next try.
        const std::vector<std::string> tokens = Tokens(page);
        EXPECT_FALSE(tokens.empty());
        for (const std::string& token : tokens)
            EXPECT_EQ(token, admin);
    }
    EXPECT_EQ(Location(), before);

    // The same forms from the application's own page work, by Origin or,
    // from a browser that sends none, by Referer.
    std::string page;
    EXPECT_EQ(Post(config, "session=" + admin + "&location=shelf+2", ownPage, &page), HTTP_STATUS_OK);
    EXPECT_NE(page.find("Changes saved."), std::string::npos);
    EXPECT_EQ(Location(), "shelf 2");
    EXPECT_EQ(Post(config, "session=" + admin + "&location=shelf+3", {{HTTP_FIELD_REFERER, m_own + config}}),
              HTTP_STATUS_OK);
    EXPECT_EQ(Location(), "shelf 3");

    // Another user's job is not cancelled from another site either, nor is
    // the printer paused, while its own page does both.
    ipp_t* create = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "alice");
    ipp_t* created = m_server.Send(create, m_server.PrinterResource());
    ipp_attribute_t* id = created != nullptr ? ippFindAttribute(created, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr) << cupsLastErrorString();
    const int job = ippGetInteger(id, 0);
    ippDelete(created);
    const std::string cancel = "session=" + admin + "&action=cancel-job&job-id=" + std::to_string(job);
    const std::string pause = "session=" + admin + "&action=pause-printer";
    EXPECT_EQ(Post(m_page + "/jobs", cancel, foreign.front()), HTTP_STATUS_FORBIDDEN);
    EXPECT_EQ(Post(m_page + "/", pause, foreign.front()), HTTP_STATUS_FORBIDDEN);
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_HELD);
    ipp_t* response = m_server.PrinterAttributes({"printer-state"});
    EXPECT_EQ(AppServer::Values(response, "printer-state"), "3");
    ippDelete(response);
    EXPECT_EQ(Post(m_page + "/jobs", cancel, ownPage), HTTP_STATUS_OK);
    EXPECT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_CANCELED; }, 10000));
}

// The first wait after the free failed logins, long enough that the tests'
// requests always come within it.
constexpr int kFirstWaitSeconds = 20;

class LoginThrottleTest : public WebAdminTest {
protected:
    void SetUp() override
    {
        setenv("VANTORA_RT50_LOGIN_WAIT_S", std::to_string(kFirstWaitSeconds).c_str(), 1);
        WebAdminTest::SetUp();
        unsetenv("VANTORA_RT50_LOGIN_WAIT_S");
    }

    http_status_t Status(const Login& login, const std::string& address = apptest::kTestAddress)
    {
        WebRequest request;
        request.path = m_page + "/config";
        request.login = login;
        request.address = address;
        return m_server.Web(request);
    }
};

TEST_F(LoginThrottleTest, RepeatedWrongPasswordsWaitLongerFromTheirAddressOnly)
{
    // PAM learns the client's own address as its remote host, not the name
    // the request's Host header gives (a rule on remote hosts would
    // otherwise take the client's word).
    WebRequest named;
    named.path = m_page + "/config";
    named.login = kAdmin;
    named.fields = {{HTTP_FIELD_HOST, "localhost"}};
    EXPECT_EQ(m_server.Web(named), HTTP_STATUS_OK);
    std::ifstream remoteHosts(m_server.folder() + "/pam/remote-hosts");
    std::string host, lastHost;
    while (std::getline(remoteHosts, host))
        lastHost = host;
    EXPECT_EQ(lastHost, apptest::kTestAddress);

    // A few mistakes cost nothing: the right password still works.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Status(kWrong), HTTP_STATUS_UNAUTHORIZED);
    EXPECT_EQ(Status(kAdmin), HTTP_STATUS_OK);
    // Five in a row make the address wait; meanwhile even the right
    // password is refused unchecked...
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Status(kWrong), HTTP_STATUS_UNAUTHORIZED);
    const std::string first = "wait " + std::to_string(kFirstWaitSeconds) + " s";
    EXPECT_NE(m_server.Log().find(first), std::string::npos) << m_server.Log();
    EXPECT_EQ(Status(kAdmin), HTTP_STATUS_UNAUTHORIZED);
    EXPECT_NE(m_server.Log().find("refused unchecked"), std::string::npos);
    // ... while the administrator logs in from another address.
    EXPECT_EQ(Status(kAdmin, "127.0.0.1"), HTTP_STATUS_OK);

    // The next wrong password after the wait makes it wait twice as long.
    const std::string second = "wait " + std::to_string(2 * kFirstWaitSeconds) + " s";
    bool longer = false;
    for (int waited = 0; waited < 4 * kFirstWaitSeconds && !longer; ++waited) {
        struct timespec pause {1, 0};
        nanosleep(&pause, nullptr);
        EXPECT_EQ(Status(kWrong), HTTP_STATUS_UNAUTHORIZED);
        longer = m_server.Log().find(second) != std::string::npos;
    }
    EXPECT_TRUE(longer) << m_server.Log();
    EXPECT_EQ(Status(kAdmin), HTTP_STATUS_UNAUTHORIZED);
    EXPECT_EQ(Status(kAdmin, "127.0.0.1"), HTTP_STATUS_OK);
}

}  // namespace
