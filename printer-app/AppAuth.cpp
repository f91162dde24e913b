#include "AppAuth.h"

#include "JobQueue.h"

#include "DocumentCheck.h"
#include "WebPages.h"
#include "JobSettings.h"
#include "LoginThrottle.h"
#include "PapplPrivate.h"
#include "RequestRewrites.h"
#include "WebForms.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char* kPrivateAttributes[] = {"job-name", "job-originating-user-name", "job-originating-host-name"};

struct AuthConfig {
    std::string service;
    gid_t adminGid = static_cast<gid_t>(-1);
};
AuthConfig g_auth;

bool IsPrivate(const char* name)
{
    for (const char* privateName : kPrivateAttributes) {
        if (std::strcmp(name, privateName) == 0)
            return true;
    }
    return false;
}

struct PamAnswers {
    const char* user;
    const char* password;
};

int PamConversation(int count, const struct pam_message** messages, struct pam_response** responses, void* data)
{
    const PamAnswers* answers = static_cast<const PamAnswers*>(data);
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    pam_response* replies = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (replies == nullptr)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const char* text = nullptr;
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            text = answers->user;
        else if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
            text = answers->password;
        if (text != nullptr)
            replies[i].resp = strdup(text);
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// True when PAM accepts the user's password and account for `service`.
// $VANTORA_RT50_PAM_CONFDIR (tests) points PAM at another folder of
// service files.
bool CheckPassword(const std::string& host, const std::string& user, const std::string& password)
{
    PamAnswers answers{user.c_str(), password.c_str()};
    pam_conv conversation{PamConversation, &answers};
    pam_handle_t* pam = nullptr;
    const char* confdir = std::getenv("VANTORA_RT50_PAM_CONFDIR");
    int result = confdir != nullptr && confdir[0] != '\0'
                     ? pam_start_confdir(g_auth.service.c_str(), user.c_str(), &conversation, confdir, &pam)
                     : pam_start(g_auth.service.c_str(), user.c_str(), &conversation, &pam);
    if (result == PAM_SUCCESS && !host.empty())
        result = pam_set_item(pam, PAM_RHOST, host.c_str());
    if (result == PAM_SUCCESS)
        result = pam_authenticate(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (result == PAM_SUCCESS)
        result = pam_acct_mgmt(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (pam != nullptr)
        pam_end(pam, result);
    return result == PAM_SUCCESS;
}

// True when `user` has `gid` as its primary or a supplementary group.
bool UserInGroup(const std::string& user, gid_t gid)
{
    if (gid == static_cast<gid_t>(-1))
        return false;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    if (found->pw_gid == gid)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    }
    return false;
}

// Failed logins per client address.
LoginThrottle g_throttle;

long MonotonicSeconds()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec);
}

// The client's own address, as PAM's remote host: the Host header is the
// client's to choose.
std::string PeerAddress(pappl_client_t* client)
{
    http_t* http = papplClientGetHTTP(client);
    const http_addr_t* address = http != nullptr ? httpGetAddress(http) : nullptr;
    char text[256] = "";
    if (address != nullptr)
        httpAddrString(address, text, sizeof text);
    return text;
}

// The login of the client's request, and its user name. PAPPL may ask
// several times for one request (printer, then owner or administrator; a
// page's every form for its token): the last answer is kept per thread, for
// the same client, request and header, for a moment (a connection's next
// request with the same header is checked again after it). A refusal while
// the address waits is not kept: its next login after the wait is checked.
LoginState EvaluateLogin(pappl_client_t* client, std::string* user)
{
    http_t* http = papplClientGetHTTP(client);
    const char* header = http != nullptr ? httpGetField(http, HTTP_FIELD_AUTHORIZATION) : nullptr;
    if (header == nullptr || header[0] == '\0')
        return LoginState::kNone;

    constexpr long kKeepSeconds = 2;
    thread_local const void* cachedRequest = nullptr;
    thread_local const pappl_client_t* cachedClient = nullptr;
    thread_local std::string cachedHeader;
    thread_local std::string cachedUser;
    thread_local LoginState cachedState = LoginState::kNone;
    thread_local long cachedAt = 0;
    const void* request = papplClientGetRequest(client);
    const long now = MonotonicSeconds();
    if (cachedClient == client && cachedRequest == request && now - cachedAt < kKeepSeconds && cachedHeader == header) {
        *user = cachedUser;
        return cachedState;
    }

    std::string password;
    LoginState state = LoginState::kRejected;
    user->clear();
    if (ParseBasicAuthorization(header, user, &password)) {
        const std::string key = ThrottleAddressKey(http != nullptr ? httpGetAddress(http) : nullptr);
        const long wait = g_throttle.WaitSeconds(key, now);
        if (wait > 0) {
            papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                           "Login of \"%s\" refused unchecked: %s waits %ld s after failed logins.", user->c_str(),
                           key.c_str(), wait);
            user->clear();
            return LoginState::kRejected;
        }
        if (CheckPassword(PeerAddress(client), *user, password)) {
            g_throttle.NoteSuccess(key);
            state = UserInGroup(*user, g_auth.adminGid) ? LoginState::kAdmin : LoginState::kUser;
            papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Login of \"%s\"%s.", user->c_str(),
                           state == LoginState::kAdmin ? " (administrator)" : "");
        } else {
            const long lock = g_throttle.NoteFailure(key, now);
            if (lock > 0)
                papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                               "Login of \"%s\" refused; logins from %s wait %ld s after failed logins.",
                               user->c_str(), key.c_str(), lock);
            else
                papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Login of \"%s\" refused.", user->c_str());
        }
    }
    if (state == LoginState::kRejected)
        user->clear();
    cachedClient = client;
    cachedRequest = request;
    cachedHeader = header;
    cachedUser = *user;
    cachedState = state;
    cachedAt = now;
    return state;
}

// The user of the web page being served on this thread's client (each
// client has a thread of its own), as WebPageUser gives it.
thread_local const pappl_client_t* t_pageClient = nullptr;
thread_local std::string t_pageUser;

// Makes `user` (empty: none) the user of the web page being served.
void SetWebPageUser(pappl_client_t* client, const std::string& user)
{
    t_pageClient = client;
    t_pageUser = user;
    papplClientSetUsername(client, user.empty() ? nullptr : user.c_str());
}

// For a page open to everyone: the login the request brings, if any,
// becomes the page's user.
LoginState TakeWebLogin(pappl_client_t* client, std::string* user)
{
    const LoginState login = EvaluateLogin(client, user);
    if (login != LoginState::kUser && login != LoginState::kAdmin)
        user->clear();
    SetWebPageUser(client, *user);
    return login;
}

// The requesting-user-name of an IPP request, as CUPS trusts it without a
// login; empty when there is none.
std::string RequestingUser(pappl_client_t* client)
{
    ipp_t* request = papplClientGetRequest(client);
    ipp_attribute_t* attr = request != nullptr ? ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME) : nullptr;
    const char* name = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
    return name != nullptr ? name : "";
}

struct ForeignSearch {
    const std::string* user;
    bool found;
};

void NoteForeignJob(pappl_job_t* job, void* data)
{
    ForeignSearch* search = static_cast<ForeignSearch*>(data);
    const char* owner = papplJobGetUsername(job);
    if (owner != nullptr && *search->user != owner)
        search->found = true;
}

bool HasForeignJobs(pappl_printer_t* printer, const std::string& user)
{
    if (printer == nullptr)
        return false;
    ForeignSearch search{&user, false};
    papplPrinterIterateAllJobs(printer, NoteForeignJob, &search, 1, 0);
    return search.found;
}

// Whether `user` (not an administrator) may read the events of every
// subscription a Get-Notifications names: job events (which carry job
// names, owners and who held a job) only of a subscription to a job of
// their own.
bool MayReadNotifications(pappl_system_t* system, ipp_t* request, const std::string& user)
{
    ipp_attribute_t* ids = ippFindAttribute(request, "notify-subscription-ids", IPP_TAG_INTEGER);
    for (int i = 0; ids != nullptr && i < ippGetCount(ids); ++i) {
        pappl_subscription_t* sub = papplSystemFindSubscription(system, ippGetInteger(ids, i));
        if (sub == nullptr || (papplSubscriptionGetEvents(sub) & PAPPL_EVENT_JOB_ALL) == 0)
            continue;
        pappl_job_t* job = papplSubscriptionGetJob(sub);
        const char* owner = job != nullptr ? papplJobGetUsername(job) : nullptr;
        if (owner == nullptr || user.empty() || user != owner)
            return false;
    }
    return true;
}

http_status_t Authorize(pappl_client_t* client, const char* group, gid_t, void*)
{
    // PAPPL asks with the printer's print group (none here) for printing
    // and with the administrators' group for administration and for jobs
    // of other owners.
    const bool adminCheck = group != nullptr;
    // A POST that another site made a browser send is refused before its
    // login is looked at: the browser must not ask its user to log in for
    // that site.
    if (papplClientGetMethod(client) == HTTP_STATE_POST && !PostFromOwnPages(client))
        return HTTP_STATUS_FORBIDDEN;
    ipp_t* request = papplClientGetRequest(client);
    const ipp_op_t operation = request != nullptr ? ippGetOperation(request) : IPP_OP_CUPS_NONE;
    if (request != nullptr)
        ScrubNames(request);
    std::string user;
    const LoginState login = EvaluateLogin(client, &user);
    if (login != LoginState::kUser && login != LoginState::kAdmin)
        user = RequestingUser(client);
    bool foreign = false;
    if (!adminCheck && operation == IPP_OP_GET_JOBS && login != LoginState::kAdmin)
        foreign = HasForeignJobs(papplClientGetPrinter(client), user);

    AccessDecision decision = DecideAccess(adminCheck, operation, login, foreign);
    if (login != LoginState::kAdmin && request != nullptr) {
        // Printer and system subscriptions of others than administrators
        // carry no job events; another's job events are not read; who
        // subscribed is withheld.
        if (operation == IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS || operation == IPP_OP_CREATE_SYSTEM_SUBSCRIPTIONS)
            DropJobEvents(request);
        else if (operation == IPP_OP_GET_SUBSCRIPTIONS || operation == IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES)
            WithholdSubscriberNames(request);
        else if (operation == IPP_OP_GET_NOTIFICATIONS && decision.status == HTTP_STATUS_CONTINUE &&
                 !MayReadNotifications(papplClientGetSystem(client), request, user))
            decision.status = login == LoginState::kUser ? HTTP_STATUS_FORBIDDEN : HTTP_STATUS_UNAUTHORIZED;
    }
    if (request == nullptr)
        SetWebPageUser(client, decision.status == HTTP_STATUS_CONTINUE &&
                                       (login == LoginState::kUser || login == LoginState::kAdmin)
                                   ? user
                                   : "");
    else if (decision.status == HTTP_STATUS_CONTINUE && !user.empty())
        papplClientSetUsername(client, user.c_str());
    if (decision.withholdPrivate && request != nullptr) {
        int count = 0;
        const char* const* names = PhotoAttributeNames(&count);
        WithholdPrivateAttributes(request, names, count);
    }
    // A document that will not print is refused before PAPPL takes it.
    if (decision.status == HTTP_STATUS_CONTINUE && !adminCheck) {
        RefuseUnprintableDocument(client);
        // The job it makes counts its sheets (JobQueue.h).
        PrepareJobRequest(request);
    }
    if (decision.status != HTTP_STATUS_CONTINUE)
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "%s refused: %s.",
                       operation != IPP_OP_CUPS_NONE ? ippOpString(operation) : "Web page", httpStatus(decision.status));
    return decision.status;
}

bool ServeGuardedPrinterPage(pappl_client_t* client, void* data)
{
    pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        if (papplClientHTMLAuthorize(client))
            _papplPrinterWebHome(client, printer);
        return true;
    }
    // Open to everyone; a login the browser sends along shows that user's
    // job names, or all of them to an administrator.
    std::string user;
    const LoginState login = TakeWebLogin(client, &user);
    JobViewer viewer;
    viewer.admin = login == LoginState::kAdmin;
    if (login == LoginState::kUser || login == LoginState::kAdmin)
        viewer.user = user;
    ServePrinterHomePage(client, printer, viewer);
    return true;
}

bool ServeGuardedHomePage(pappl_client_t* client, void* data)
{
    std::string user;
    TakeWebLogin(client, &user);
    _papplSystemWebHome(client, static_cast<pappl_system_t*>(data));
    return true;
}

}  // namespace

std::string WebPageUser(pappl_client_t* client)
{
    const char* name = papplClientGetUsername(client);
    if (t_pageClient != client || name == nullptr || t_pageUser != name)
        return "";
    return t_pageUser;
}

bool IsPrinterAdministration(ipp_op_t operation)
{
    switch (operation) {
    case IPP_OP_DISABLE_PRINTER:
    case IPP_OP_ENABLE_PRINTER:
    case IPP_OP_CANCEL_CURRENT_JOB:
        return true;
    default:
        return false;
    }
}

AccessDecision DecideAccess(bool adminCheck, ipp_op_t operation, LoginState login, bool foreignJobs)
{
    AccessDecision decision;
    if (login == LoginState::kRejected) {
        decision.status = HTTP_STATUS_UNAUTHORIZED;
        return decision;
    }
    if (login == LoginState::kAdmin)
        return decision;
    if (!adminCheck && !IsPrinterAdministration(operation)) {
        // Printing and reading: everyone; other owners' jobs listed
        // without their names.
        decision.withholdPrivate = operation == IPP_OP_GET_JOBS && foreignJobs;
        return decision;
    }
    if (operation == IPP_OP_GET_JOB_ATTRIBUTES) {
        // Another owner's job: its state for everyone, its names withheld.
        decision.withholdPrivate = true;
        return decision;
    }
    decision.status = login == LoginState::kUser ? HTTP_STATUS_FORBIDDEN : HTTP_STATUS_UNAUTHORIZED;
    return decision;
}

void WithholdPrivateAttributes(ipp_t* request, const char* const* vendorNames, int vendorCount)
{
    ipp_attribute_t* requested = ippFindAttribute(request, "requested-attributes", IPP_TAG_KEYWORD);
    bool templates = requested == nullptr;
    for (int i = 0; requested != nullptr && i < ippGetCount(requested); ++i) {
        const char* name = ippGetString(requested, i, nullptr);
        if (name != nullptr && (std::strcmp(name, "all") == 0 || std::strcmp(name, "job-template") == 0))
            templates = true;
    }
    // The names the request stands for: libcups expands groups and the
    // operation's default; "all" (or nothing, for Get-Job-Attributes)
    // becomes every job description and template attribute.
    cups_array_t* names = ippCreateRequestedArray(request);
    ipp_t* everything = nullptr;
    if (names == nullptr) {
        everything = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        static const char* const kGroups[] = {"job-description", "job-template"};
        ippAddStrings(everything, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kGroups);
        names = ippCreateRequestedArray(everything);
    }
    std::set<std::string> kept;
    for (const char* name = static_cast<const char*>(cupsArrayFirst(names)); name != nullptr;
         name = static_cast<const char*>(cupsArrayNext(names))) {
        if (!IsPrivate(name))
            kept.insert(name);
    }
    cupsArrayDelete(names);
    ippDelete(everything);
    if (templates) {
        for (int i = 0; i < vendorCount; ++i)
            kept.insert(vendorNames[i]);
    }
    ReplaceRequestedAttributes(request, kept, "job-id");
}

void SetUpAuthorization(pappl_system_t* system, const std::string& adminGroup)
{
    const char* service = papplSystemGetAuthService(system);
    g_auth.service = service != nullptr ? service : "";
    papplSystemSetAdminGroup(system, adminGroup.c_str());
    struct group entry {};
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r(adminGroup.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        g_auth.adminGid = found->gr_gid;
    } else {
        g_auth.adminGid = static_cast<gid_t>(-1);
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "The administrators' group \"%s\" does not exist: the printers are administered only through "
                 "the command line as root.",
                 adminGroup.c_str());
    }
    // $VANTORA_RT50_LOGIN_WAIT_S (tests): the first wait after the free
    // failed logins, in seconds.
    ThrottleSettings throttle;
    if (const char* wait = std::getenv("VANTORA_RT50_LOGIN_WAIT_S")) {
        const long seconds = std::strtol(wait, nullptr, 10);
        if (seconds >= 1 && seconds <= 3600) {
            throttle.firstWaitSeconds = seconds;
            throttle.maxWaitSeconds = std::max(throttle.maxWaitSeconds, seconds);
        }
    }
    g_throttle.Configure(throttle);
    papplSystemSetAuthCallback(system, "Basic", Authorize, nullptr);
    CheckFormTokensInstalled(system);
}

void GuardPrinterPage(pappl_printer_t* printer)
{
    char path[256];
    papplPrinterGetPath(printer, "", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", ServeGuardedPrinterPage, printer);
}

void GuardHomePage(pappl_system_t* system)
{
    if (papplSystemGetOptions(system) & PAPPL_SOPTIONS_MULTI_QUEUE)
        papplSystemAddResourceCallback(system, "/", "text/html", ServeGuardedHomePage, system);
}

void RestrictControlSocket(const char* appName)
{
    // Where PAPPL 1.3's server puts it: the temporary folder with the user
    // id for other users; for root $SNAP_COMMON, else /run.
    std::string path;
    const char* snap = std::getenv("SNAP_COMMON");
    if (getuid() != 0)
        path = std::string(papplGetTempDir()) + "/" + appName + std::to_string(getuid()) + ".sock";
    else if (snap != nullptr)
        path = std::string(snap) + "/" + appName + ".sock";
    else
        path = std::string("/run/") + appName + ".sock";
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == getuid())
        chmod(path.c_str(), S_IRUSR | S_IWUSR);
}
