// The printer application as the tests run it: the built program's
// "server" on a free port with its state in a private folder, and IPP
// requests to its printers through libcups.
#pragma once

#include <cups/cups.h>

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace apptest {

// The address the tests' clients use: the loopback device of a network
// namespace of the test's own carries it, so the server sees a client that
// is not on loopback.
inline constexpr char kTestAddress[] = "192.0.2.1";

// Moves the calling process into a network namespace of its own with
// kTestAddress on its loopback device. False with a reason in `error`.
bool EnterOwnNetwork(std::string* error);

// Logins the tests' PAM service takes (any other is refused): an
// administrator (member of the group "daemon") and a plain user.
inline constexpr char kAdminUser[] = "daemon";
inline constexpr char kAdminPassword[] = "admin-secret";
inline constexpr char kPlainUser[] = "nobody";
inline constexpr char kPlainPassword[] = "user-secret";

// A login for a request; empty user: none.
struct Login {
    std::string user;
    std::string password;
};

// A web page request as a browser sends it: its Host header names the
// address and port connected to, over TLS.
struct WebRequest {
    std::string path;
    Login login;
    const char* form = nullptr;  // POST of this form; GET when null
    // Further header fields (Origin, Referer, User-Agent).
    std::vector<std::pair<http_field_t, std::string>> fields;
    // The server's address to connect to ("127.0.0.1": from loopback).
    std::string address = kTestAddress;
};

class AppServer {
public:
    AppServer() = default;
    ~AppServer();
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;

    // Starts the server and waits (at most kStartSeconds) until the printer
    // of `serial` answers. False with a reason in error().
    bool Start(const std::string& serial);
    // SIGTERM and a wait of at most kStopSeconds (then SIGKILL); removes
    // the folder unless `keepFolder`. False, with a reason in error(), when
    // the server had to be killed.
    bool Stop(bool keepFolder = false);
    // Stops the server and starts it again on its state and spool folder.
    bool Restart();

    // Bounds for a loaded machine. A stop ends within the application's
    // own 15 s wait for the jobs being printed (less than a 60 s sheet).
    static constexpr int kStartSeconds = 90;
    static constexpr int kStopSeconds = 45;

    int port() const { return m_port; }
    const std::string& folder() const { return m_folder; }
    const std::string& error() const { return m_error; }
    // The printer of `serial`, by default the one the server started for.
    std::string PrinterUri(const std::string& serial = "") const;
    std::string PrinterResource(const std::string& serial = "") const;

    // Get-Printer-Attributes for `names`; null when the request failed.
    // Release with ippDelete.
    ipp_t* PrinterAttributes(const std::vector<const char*>& names) const;
    // Any IPP request to `resource` (printer-uri is added when missing),
    // with a login and the document in `file` (none when empty); the
    // response or null. Release with ippDelete.
    ipp_t* Send(ipp_t* request, const std::string& resource, const Login& login = {},
                const std::string& file = "") const;
    // The HTTP status of a web page request (GET, or POST of `form`), over
    // TLS, with a login.
    http_status_t WebStatus(const std::string& path, const Login& login = {}, const char* form = nullptr,
                            std::string* body = nullptr) const;
    // The HTTP status of `request`, its page in `body`.
    http_status_t Web(const WebRequest& request, std::string* body = nullptr) const;
    // The server's log so far, without its debug lines.
    std::string Log() const;
    // Runs a command of the program (delete, pause, ...) as root over the
    // control socket; its exit status, -1 when it had to be killed after
    // kCommandSeconds.
    int Command(const std::vector<std::string>& args) const;
    static constexpr int kCommandSeconds = 60;
    // Get-Job-Attributes job-state of `jobId`; 0 when unknown.
    int JobState(int jobId) const;
    // Print-Job of a file with libcups; the job id or 0.
    int PrintFile(const std::string& path, const char* format, int copies = 1,
                  const char* colorMode = nullptr) const;
    // All values of a job attribute joined by ','; "" when unknown.
    std::string JobValue(int jobId, const char* name) const;
    // Cancel-Job of `jobId`; true when the printer accepted it.
    bool CancelJob(int jobId) const;
    // The application's process ID (-1 when it is not running).
    pid_t pid() const { return m_pid; }

    // All values of a keyword/text attribute joined by ','; "" when missing.
    static std::string Values(ipp_t* response, const char* name);

private:
    bool Launch();

    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_folder;
    std::string m_serial;
    std::string m_error;
};

// Polls `done` every 50 ms for at most `ms`; true once it holds.
template <typename Predicate>
bool WaitFor(Predicate done, int ms)
{
    for (int waited = 0; waited <= ms; waited += 50) {
        if (done())
            return true;
        struct timespec pause {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return done();
}

// Makes a phone-style JPEG (landscape, 4:3, a gradient with colour bands)
// of width x height pixels with Ghostscript. False when gs failed.
bool MakePhoto(const std::string& path, int width, int height);

}  // namespace apptest
