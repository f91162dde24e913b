#include "AppServer.h"

#include "FilterTestKit.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace apptest {

namespace {

// A server that does not answer a request within this time fails it.
constexpr double kAnswerSeconds = 60.0;

// Plain HTTP, upgraded to TLS when the server asks (as it does for
// printing from another address).
http_t* Connect(int port, http_encryption_t encryption = HTTP_ENCRYPTION_IF_REQUESTED,
                const char* address = kTestAddress)
{
    http_t* http = httpConnect2(address, port, nullptr, AF_INET, encryption, 1, 5000, nullptr);
    if (http != nullptr)
        httpSetTimeout(http, kAnswerSeconds, nullptr, nullptr);
    return http;
}

void SetLogin(http_t* http, const Login& login)
{
    if (login.user.empty())
        return;
    const std::string pair = login.user + ":" + login.password;
    char encoded[512];
    httpEncode64_2(encoded, sizeof encoded, pair.c_str(), static_cast<int>(pair.size()));
    httpSetAuthString(http, "Basic", encoded);
}

// The tests' PAM service: pam_exec checks the two logins of AppServer.h,
// and notes each login's remote host in the folder's file remote-hosts.
bool WritePamService(const std::string& folder)
{
    std::filesystem::create_directories(folder);
    const std::string script = folder + "/check-password.sh";
    std::FILE* file = std::fopen(script.c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file,
                 "#!/bin/sh\nprintf '%%s\\n' \"$PAM_RHOST\" >>%s/remote-hosts\npw=$(tr -d '\\000\\n')\n"
                 "case \"$PAM_USER:$pw\" in\n"
                 "  %s:%s|%s:%s) exit 0 ;;\nesac\nexit 1\n",
                 folder.c_str(), kAdminUser, kAdminPassword, kPlainUser, kPlainPassword);
    std::fclose(file);
    chmod(script.c_str(), 0755);
    file = std::fopen((folder + "/vantora-rt50-printer-app").c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "auth required pam_exec.so quiet expose_authtok %s\naccount required pam_permit.so\n",
                 script.c_str());
    std::fclose(file);
    return true;
}

}  // namespace

bool EnterOwnNetwork(std::string* error)
{
    if (unshare(CLONE_NEWNET) != 0) {
        *error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    const std::string address = std::string(kTestAddress) + "/24";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"link", "set", "lo", "up"}, std::vector<std::string>{"addr", "add", address, "dev", "lo"}}) {
        const filtertest::FilterRun run = filtertest::RunProgram("/usr/sbin/ip", args, "", "");
        if (run.exitStatus != 0) {
            *error = "ip " + args[0] + ": " + run.errors;
            return false;
        }
    }
    return true;
}

AppServer::~AppServer()
{
    Stop();
}

bool AppServer::Restart()
{
    return Stop(true) && Launch();
}

std::string AppServer::PrinterResource(const std::string& serial) const
{
    return "/ipp/print/VANTORA-RT-50_" + (serial.empty() ? m_serial : serial);
}

std::string AppServer::PrinterUri(const std::string& serial) const
{
    return std::string("ipp://") + kTestAddress + ":" + std::to_string(m_port) + PrinterResource(serial);
}

bool AppServer::Start(const std::string& serial)
{
    m_serial = serial;
    char folder[] = "/tmp/rt50app.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        m_error = "no folder";
        return false;
    }
    m_folder = folder;
    if (!WritePamService(m_folder + "/pam")) {
        m_error = "no PAM service";
        return false;
    }
    return Launch();
}

bool AppServer::Launch()
{
    std::filesystem::create_directories(m_folder + "/state");
    std::filesystem::create_directories(m_folder + "/spool");
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = 20000 + static_cast<int>((getpid() * 13 + attempt * 977 + time(nullptr)) % 30000);
        m_pid = fork();
        if (m_pid < 0) {
            m_error = "fork failed";
            return false;
        }
        if (m_pid == 0) {
            setenv("SNAP_COMMON", (m_folder + "/state").c_str(), 1);
            setenv("VANTORA_RT50_POLL_MS", "200", 1);
            setenv("VANTORA_RT50_SHEET_POLL_MS", "20", 1);
            setenv("VANTORA_RT50_PAM_CONFDIR", (m_folder + "/pam").c_str(), 1);
            const std::string port = "server-port=" + std::to_string(m_port);
            const std::string log = "log-file=" + m_folder + "/server.log";
            const std::string spool = "spool-directory=" + m_folder + "/spool";
            const int out = open((m_folder + "/server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            execl(VANTORA_APP_PROGRAM, VANTORA_APP_PROGRAM, "server", "-o", port.c_str(), "-o", "admin-group=daemon",
                  "-o", "log-level=debug", "-o", log.c_str(), "-o", spool.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Another port only when this one was taken (the server ended); a
        // slow start on a loaded machine is waited for, never cut short.
        const bool up = WaitFor(
            [this] {
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_pid = -1;
                    return true;
                }
                ipp_t* response = PrinterAttributes({"printer-state"});
                const bool answered = response != nullptr && ippGetStatusCode(response) == IPP_STATUS_OK;
                ippDelete(response);
                return answered;
            },
            kStartSeconds * 1000);
        if (up && m_pid > 0)
            return true;
        if (!up) {
            Stop(true);
            m_error = "the printer of " + m_serial + " did not answer within " + std::to_string(kStartSeconds) + " s";
            return false;
        }
    }
    m_error = "the printer application ended at start on every port tried";
    return false;
}

bool AppServer::Stop(bool keepFolder)
{
    bool ended = true;
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        ended = WaitFor([this] { return waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, kStopSeconds * 1000);
        if (!ended) {
            m_error = "the printer application did not end within " + std::to_string(kStopSeconds) +
                      " s of SIGTERM; killed";
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    if (!keepFolder && !m_folder.empty() && std::getenv("KEEP_APP_FOLDER") == nullptr) {
        std::error_code error;
        std::filesystem::remove_all(m_folder, error);
        m_folder.clear();
    }
    return ended;
}

ipp_t* AppServer::PrinterAttributes(const std::vector<const char*>& names) const
{
    http_t* http = Connect(m_port);
    if (http == nullptr)
        return nullptr;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri().c_str());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(names.size()),
                  nullptr, names.data());
    ipp_t* response = cupsDoRequest(http, request, PrinterResource().c_str());
    httpClose(http);
    return response;
}

ipp_t* AppServer::Send(ipp_t* request, const std::string& resource, const Login& login, const std::string& file) const
{
    http_t* http = Connect(m_port);
    if (http == nullptr) {
        ippDelete(request);
        return nullptr;
    }
    if (ippFindAttribute(request, "printer-uri", IPP_TAG_URI) == nullptr &&
        ippFindAttribute(request, "system-uri", IPP_TAG_URI) == nullptr) {
        // The target goes right after the charset and language.
        ipp_t* addressed = ippNewRequest(ippGetOperation(request));
        const bool system = resource == "/ipp/system";
        ippAddString(addressed, IPP_TAG_OPERATION, IPP_TAG_URI, system ? "system-uri" : "printer-uri", nullptr,
                     (std::string("ipp://") + kTestAddress + ":" + std::to_string(m_port) + resource).c_str());
        int index = 0;
        for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
            if (index++ >= 2)
                ippCopyAttribute(addressed, attr, 0);
        }
        ippDelete(request);
        request = addressed;
    }
    SetLogin(http, login);
    ipp_t* response = file.empty() ? cupsDoRequest(http, request, resource.c_str())
                                   : cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
    httpClose(http);
    return response;
}

std::string AppServer::JobValue(int jobId, const char* name) const
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri().c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ipp_t* response = Send(request, PrinterResource());
    const std::string value = Values(response, name);
    ippDelete(response);
    return value;
}

http_status_t AppServer::WebStatus(const std::string& path, const Login& login, const char* form,
                                   std::string* body) const
{
    WebRequest request;
    request.path = path;
    request.login = login;
    request.form = form;
    return Web(request, body);
}

http_status_t AppServer::Web(const WebRequest& request, std::string* body) const
{
    http_t* http = Connect(m_port, HTTP_ENCRYPTION_ALWAYS, request.address.c_str());
    if (http == nullptr)
        return HTTP_STATUS_ERROR;
    httpClearFields(http);
    // libcups adds the port.
    httpSetField(http, HTTP_FIELD_HOST, request.address.c_str());
    for (const auto& field : request.fields)
        httpSetField(http, field.first, field.second.c_str());
    SetLogin(http, request.login);
    if (httpGetAuthString(http) != nullptr)
        httpSetField(http, HTTP_FIELD_AUTHORIZATION, httpGetAuthString(http));
    http_status_t status = HTTP_STATUS_ERROR;
    bool sent;
    const char* form = request.form;
    if (form != nullptr) {
        httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
        httpSetLength(http, std::strlen(form));
        sent = httpPost(http, request.path.c_str()) == 0 && httpWrite2(http, form, std::strlen(form)) >= 0;
    } else {
        sent = httpGet(http, request.path.c_str()) == 0;
    }
    if (sent) {
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        char buffer[8192];
        ssize_t bytes;
        while (body != nullptr && (bytes = httpRead2(http, buffer, sizeof buffer)) > 0)
            body->append(buffer, static_cast<size_t>(bytes));
        httpFlush(http);
    }
    httpClose(http);
    return status;
}

std::string AppServer::Log() const
{
    // PAPPL moves a full log aside to server.log.O and starts a new one.
    std::string log, line;
    for (const char* name : {"/server.log.O", "/server.log"}) {
        std::ifstream file(m_folder + name);
        while (std::getline(file, line)) {
            if (line.rfind("D ", 0) != 0)
                log += line + "\n";
        }
    }
    return log;
}

int AppServer::Command(const std::vector<std::string>& args) const
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        setenv("SNAP_COMMON", (m_folder + "/state").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(VANTORA_APP_PROGRAM)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(VANTORA_APP_PROGRAM, argv.data());
        _exit(127);
    }
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kCommandSeconds * 1000);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int AppServer::JobState(int jobId) const
{
    http_t* http = Connect(m_port);
    if (http == nullptr)
        return 0;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri().c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ipp_t* response = cupsDoRequest(http, request, PrinterResource().c_str());
    httpClose(http);
    ipp_attribute_t* state = response != nullptr ? ippFindAttribute(response, "job-state", IPP_TAG_ENUM) : nullptr;
    const int value = state != nullptr ? ippGetInteger(state, 0) : 0;
    ippDelete(response);
    return value;
}

bool AppServer::CancelJob(int jobId) const
{
    http_t* http = Connect(m_port);
    if (http == nullptr)
        return false;
    ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri().c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ipp_t* response = cupsDoRequest(http, request, PrinterResource().c_str());
    httpClose(http);
    const bool accepted = response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    ippDelete(response);
    return accepted;
}

int AppServer::PrintFile(const std::string& path, const char* format, int copies, const char* colorMode) const
{
    http_t* http = Connect(m_port);
    if (http == nullptr)
        return 0;
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri().c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    if (copies > 1)
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", copies);
    if (colorMode != nullptr)
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, colorMode);
    ipp_t* response = cupsDoFileRequest(http, request, PrinterResource().c_str(), path.c_str());
    httpClose(http);
    ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    const int jobId = id != nullptr ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    return jobId;
}

std::string AppServer::Values(ipp_t* response, const char* name)
{
    ipp_attribute_t* attr = response != nullptr ? ippFindAttribute(response, name, IPP_TAG_ZERO) : nullptr;
    std::string text;
    for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i) {
        if (!text.empty())
            text += ',';
        const char* value = ippGetString(attr, i, nullptr);
        text += value != nullptr ? value : std::to_string(ippGetInteger(attr, i));
    }
    return text;
}

bool MakePhoto(const std::string& path, int width, int height)
{
    const std::string ps = path + ".ps";
    FILE* file = std::fopen(ps.c_str(), "w");
    if (file == nullptr)
        return false;
    // Points at 72 dpi: the picture is width x height pixels at -r72.
    std::fprintf(file,
                 "%%!PS\n<< /PageSize [%d %d] >> setpagedevice\n"
                 "0 1 99 { /i exch def i 100 div 0.5 1 i 100 div sub setrgbcolor i %d mul 100 div 0 %d 100 div 1 add %d rectfill } for\n"
                 "1 0 0 setrgbcolor %d %d %d %d rectfill\n"
                 "0 0.7 0.2 setrgbcolor %d %d %d %d rectfill\n"
                 "0.1 0.1 0.9 setrgbcolor %d %d %d %d rectfill\n"
                 "1 1 1 setrgbcolor %d %d %d %d rectfill\nshowpage\n",
                 width, height, width, width, height, width / 10, height / 2, width / 5, height / 4, width * 4 / 10,
                 height / 2, width / 5, height / 4, width * 7 / 10, height / 2, width / 5, height / 4, width / 4,
                 height / 10, width / 2, height / 8);
    std::fclose(file);
    const filtertest::FilterRun run = filtertest::RunProgram(
        "/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=jpeg", "-r72", "-dJPEGQ=92",
                        "-sOutputFile=" + path, ps},
        "", "");
    std::remove(ps.c_str());
    return run.exitStatus == 0;
}

}  // namespace apptest
