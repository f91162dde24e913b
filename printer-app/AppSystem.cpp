#include "AppSystem.h"

#include "AppAuth.h"
#include "AppStop.h"
#include "StopWatcher.h"
#include "DocumentCheck.h"
#include "WebPages.h"
#include "JobQueue.h"
#include "PageWords.h"
#include "PrinterRegistry.h"
#include "Rt50Driver.h"
#include "Rt50Scheme.h"
#include "UsbTransfer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_stateFile;

// Takes the lock of a state file for this process's lifetime. False only
// when another server holds it; a lock file that cannot be made (a user
// without a configuration folder) does not stop the server.
bool LockStateFile(const std::string& stateFile)
{
    const std::string lockFile = stateFile + ".lock";
    // Close-on-exec: a renderer started for a job must not keep the lock
    // after the server has ended.
    const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;   // held until the process ends
    const bool taken = errno == EWOULDBLOCK;
    close(fd);
    return !taken;
}

bool SaveState(pappl_system_t* system, void* path)
{
    return papplSystemSaveState(system, static_cast<const char*>(path));
}

pappl_loglevel_t LogLevel(const char* value)
{
    if (value == nullptr)
        return PAPPL_LOGLEVEL_WARN;
    static const struct {
        const char* name;
        pappl_loglevel_t level;
    } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                   {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
    for (const auto& level : kLevels) {
        if (std::strcmp(value, level.name) == 0)
            return level.level;
    }
    return PAPPL_LOGLEVEL_WARN;
}

// The system options: the web interface and several printers, plus the
// keywords of server-options ("no-tls", "no-multi-queue", "web-*", ...).
// Logins are PAM's, so PAPPL's page for an access password is left out.
pappl_soptions_t SystemOptions(const char* value)
{
    pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
    if (value == nullptr)
        return options;
    std::string list = value;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find(',', start);
        const std::string word = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (word == "no-tls")
            options |= PAPPL_SOPTIONS_NO_TLS;
        else if (word == "no-multi-queue")
            options &= ~PAPPL_SOPTIONS_MULTI_QUEUE;
        else if (word == "dnssd-host")
            options |= PAPPL_SOPTIONS_DNSSD_HOST;
        else if (word == "raw-socket")
            options |= PAPPL_SOPTIONS_RAW_SOCKET;
        else if (word == "web-network")
            options |= PAPPL_SOPTIONS_WEB_NETWORK;
        else if (word == "web-remote")
            options |= PAPPL_SOPTIONS_WEB_REMOTE;
        else if (word == "web-tls")
            options |= PAPPL_SOPTIONS_WEB_TLS;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return options;
}

int Port(const char* value)
{
    if (value == nullptr)
        return 0;
    char* end = nullptr;
    const long port = std::strtol(value, &end, 10);
    return (end != value && *end == '\0' && port > 0 && port < 65536) ? static_cast<int>(port) : 0;
}

// Once the server runs (its control socket exists): only its own user may
// use the control socket.
bool RestrictSocketOnce(pappl_system_t*, void*)
{
    RestrictControlSocket(kAppName);
    return false;
}

}  // namespace

bool UseServiceStateFolder(const char* folder)
{
    // PAPPL puts root's control socket in $SNAP_COMMON, else in /run: a
    // command run with sudo would not find the service's socket and would
    // start a server of its own, on another state file.
    if (getuid() != 0 || std::getenv("SNAP_COMMON") != nullptr)
        return false;
    struct stat info {};
    if (lstat(folder, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0)
        return false;
    return setenv("SNAP_COMMON", folder, 1) == 0;
}

std::string StateFilePath()
{
    const char* snap = std::getenv("SNAP_COMMON");
    if (snap != nullptr && snap[0] != '\0')
        return std::string(snap) + "/" + kAppName + ".state";
    if (getuid() == 0)
        return std::string("/var/lib/") + kAppName + ".state";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.config/" + kAppName + ".state";
}

pappl_system_t* CreateAppSystem(int numOptions, cups_option_t* options, void* data)
{
    if (data != nullptr && *static_cast<const AppRole*>(data) == AppRole::kListDrivers)
        return papplSystemCreate(PAPPL_SOPTIONS_NONE, "VANTORA RT-50 Printer Application", 0, nullptr, nullptr,
                                 "-", PAPPL_LOGLEVEL_ERROR, nullptr, false);
    // One server per state file. PAPPL starts a server of its own for a
    // command that could not reach the running one; a second server would
    // take the running one's printers and control socket. Refused, the
    // command goes on trying the running server.
    g_stateFile = StateFilePath();
    if (!LockStateFile(g_stateFile)) {
        std::fprintf(stderr, "%s: another server is running with the state file \"%s\".\n", kAppName,
                     g_stateFile.c_str());
        return nullptr;
    }
    // The stop signals go to the application's own thread (StopWatcher.h).
    BlockStopSignals();
    // No file the server writes, spooled documents among them, grows past
    // the largest document taken.
    LimitSpoolFiles();
    const char* spool = cupsGetOption("spool-directory", numOptions, options);
    std::string snapSpool;
    const char* snap = std::getenv("SNAP_COMMON");
    if (spool == nullptr && snap != nullptr && snap[0] != '\0') {
        snapSpool = std::string(snap) + "/" + kAppName + ".d";
        spool = snapSpool.c_str();
    }
    const char* logFile = cupsGetOption("log-file", numOptions, options);
    // Logins for administration go through PAM with this service name
    // (Debian's "other" service applies unless /etc/pam.d has its own).
    const char* authService = cupsGetOption("auth-service", numOptions, options);
    if (authService == nullptr || authService[0] == '\0')
        authService = kAppName;
    const char* adminGroup = cupsGetOption("admin-group", numOptions, options);
    if (adminGroup == nullptr || adminGroup[0] == '\0')
        adminGroup = kDefaultAdminGroup;
    const pappl_soptions_t soptions = SystemOptions(cupsGetOption("server-options", numOptions, options));

    // A printer that does not answer costs a job at most a few seconds per
    // query instead of the daemon's ten.
    UsbTimeouts timeouts = GetUsbTimeouts();
    timeouts.bulkMs = 5000;
    SetUsbTimeouts(timeouts);

    RegisterRt50Scheme();
    pappl_system_t* system =
        papplSystemCreate(soptions, "VANTORA RT-50 Printer Application", Port(cupsGetOption("server-port", numOptions, options)),
                          "_print,_universal", spool, logFile != nullptr ? logFile : "-",
                          LogLevel(cupsGetOption("log-level", numOptions, options)), authService,
                          /*tls_only*/ false);
    if (system == nullptr)
        return nullptr;

    // PAPPL asks a client on another computer to switch to TLS before it
    // checks a login or a job's owner (printing, jobs, subscriptions), and
    // with TLS off none can. Those checks need the authorization callback,
    // so it stays: the server says at start what that means.
    if ((soptions & PAPPL_SOPTIONS_NO_TLS) != 0) {
        const char* warning = "TLS is off (server-options=no-tls): clients on other computers cannot print nor see "
                              "jobs (they are asked to switch to TLS); only clients on this computer print.";
        std::fprintf(stderr, "%s: %s\n", kAppName, warning);
        papplLog(system, PAPPL_LOGLEVEL_WARN, "%s", warning);
    }

    const char* hostname = cupsGetOption("server-hostname", numOptions, options);
    if (hostname != nullptr)
        papplSystemSetHostName(system, hostname);
    SetUpAuthorization(system, adminGroup);
    GuardHomePage(system);
    papplSystemAddListeners(system, hostname);
    papplSystemAddTimerCallback(system, 0, 0, RestrictSocketOnce, nullptr);

    papplSystemSetPrinterDrivers(system, 1, kRt50Drivers, Rt50AutoAdd, Rt50PrinterCreated, Rt50DriverCallback, nullptr);
    AddDocumentFilters(system);
    papplSystemSetEventCallback(system, NoteQueueEvent, nullptr);
    UseRibbonAndPaperWords(system);
    papplSystemSetMaxImageSize(system, static_cast<size_t>(kMaxJpegSide) * kMaxJpegSide * 3, kMaxJpegSide, kMaxJpegSide);
    papplSystemSetFooterHTML(system, "VANTORA RT-50 Printer Application");
    AddInfoPage(system);

    if (!RequeueInterruptedJobs(g_stateFile))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to queue the jobs of the last run again in \"%s\".",
                 g_stateFile.c_str());
    papplSystemLoadState(system, g_stateFile.c_str());
    papplSystemSetSaveCallback(system, SaveState, const_cast<char*>(g_stateFile.c_str()));
    // The jobs' records of printed sheets live beside the state file.
    AttachedPrinter::SetRecordsFolder(g_stateFile.substr(0, g_stateFile.rfind(".state")) + ".jobs");

    RegistrySettings settings;
    settings.printerShown = LabelPrinterPage;
    if (const char* poll = std::getenv("VANTORA_RT50_POLL_MS")) {
        const long ms = std::strtol(poll, nullptr, 10);
        if (ms >= 50 && ms <= 60000)
            settings.pollMs = static_cast<unsigned int>(ms);
    }
    if (const char* poll = std::getenv("VANTORA_RT50_SHEET_POLL_MS")) {
        const long ms = std::strtol(poll, nullptr, 10);
        SheetTiming timing = AttachedPrinter::Timing();
        if (ms >= 10 && ms <= 5000)
            timing.pollMs = static_cast<unsigned int>(ms);
        AttachedPrinter::SetTiming(timing);
    }
    if (!StartPrinterRegistry(system, settings))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "USB hot-plug is not available: printers are not added.");
    if (!StartStopWatcher(system, g_stateFile))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to watch for SIGTERM: stopping waits for PAPPL.");
    return system;
}

void EndAppSystem()
{
    EndStopWatcher();
    StopAllSheets();
    StopPrinterRegistry();
}
