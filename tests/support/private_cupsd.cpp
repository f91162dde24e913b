#include "private_cupsd.h"

#include <cups/cups.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantora_test {
namespace {

// System locations of the CUPS helpers; the private ServerBin links to them.
const char* const kSystemServerBin = "/usr/lib/cups";
const char* const kSystemDataDir = "/usr/share/cups";
const char* const kSystemServerRoot = "/etc/cups";

// Stands in for the printer's real backend: lists one device, stores each
// job's data under the job folder. Runs as root (mode 0700).
const char* const kTestBackend = R"SH(#!/bin/sh
# Test backend of the scheme vantora-zpxbackend.
if [ $# -eq 0 ]; then
  echo 'direct vantora-zpxbackend "VANTORA RT-50" "VANTORA RT-50 (test backend)"'
  exit 0
fi
out="$VANTORA_TEST_JOB_DIR/$1.prn"
if [ $# -ge 6 ]; then cat "$6" > "$out"; else cat > "$out"; fi
printf '%s\n' "$DEVICE_URI" > "$VANTORA_TEST_JOB_DIR/$1.uri"
exit 0
)SH";

const char* const kTestModel = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VRT50T.PPD"
*Manufacturer: "VANTORA"
*Product: "(RT-50)"
*ModelName: "VANTORA RT-50"
*ShortNickName: "VANTORA RT-50 (test model)"
*NickName: "VANTORA RT-50 (test model)"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsManualCopies: False
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: 102x153mm
*PageSize 102x153mm/4x6: "<</PageSize[303.84 440.64]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageSize
*DefaultImageableArea: 102x153mm
*ImageableArea 102x153mm: "0 0 303.84 440.64"
*DefaultPaperDimension: 102x153mm
*PaperDimension 102x153mm: "303.84 440.64"
)PPD";

bool WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return (fchmod(fd, mode) == 0) & (close(fd) == 0) & ok;
}

bool CopyFile(const std::string& from, const std::string& to, mode_t mode)
{
    FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr)
        return false;
    std::string text;
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        text.append(chunk, n);
    std::fclose(in);
    return WriteFile(to, text, mode);
}

// Links every entry of `from` into `to`, except the names in `skip`.
bool LinkEntries(const std::string& from, const std::string& to,
                 const std::vector<std::string>& skip = {})
{
    DIR* dir = opendir(from.c_str());
    if (dir == nullptr)
        return errno == ENOENT;
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool skipped = false;
        for (const std::string& s : skip)
            skipped = skipped || s == name;
        if (!skipped && symlink((from + "/" + name).c_str(), (to + "/" + name).c_str()) != 0)
            ok = false;
    }
    closedir(dir);
    return ok;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*)
{
    remove(path);
    return 0;
}

}  // namespace

PrivateCupsd::PrivateCupsd(CupsdOptions options)
    : options_(std::move(options))
{
}

PrivateCupsd::~PrivateCupsd()
{
    Stop();
}

bool PrivateCupsd::BuildRoot()
{
    // Short root: the socket path must fit a sockaddr_un (108 bytes).
    char pattern[] = "/tmp/vcupsd.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "cannot create a temporary root";
        return false;
    }
    root_ = pattern;
    socket_ = root_ + "/cups.sock";
    // cupsd refuses programs in group- or world-writable folders, and filters
    // run as lp, which must be able to reach them.
    chmod(root_.c_str(), 0755);

    const char* const dirs[] = {
        "etc", "run", "cache", "log", "spool", "spool/tmp", "jobs",
        "serverbin", "serverbin/filter", "serverbin/backend", "data", "data/model",
    };
    for (const char* dir : dirs) {
        if (mkdir((root_ + "/" + dir).c_str(), 0755) != 0) {
            error_ = std::string("cannot create ") + dir;
            return false;
        }
    }
    chmod((root_ + "/spool/tmp").c_str(), 01777);
    chmod((root_ + "/jobs").c_str(), 0777);

    // ServerBin: per-file links to the system's helpers plus our own programs.
    bool ok = true;
    for (const char* dir : {"filter", "daemon", "driver", "cgi-bin", "monitor", "notifier"}) {
        const std::string own = root_ + "/serverbin/" + dir;
        ok = ok && (mkdir(own.c_str(), 0755) == 0 || errno == EEXIST) &&
             LinkEntries(std::string(kSystemServerBin) + "/" + dir, own);
    }

    std::vector<std::string> ownBackends;
    for (const std::string& backend : options_.backends)
        ownBackends.push_back(BaseName(backend));
    ownBackends.push_back("vantora-zpxbackend");
    ok = ok && LinkEntries(std::string(kSystemServerBin) + "/backend", root_ + "/serverbin/backend", ownBackends);

    for (const std::string& filter : options_.filters) {
        const std::string link = root_ + "/serverbin/filter/" + BaseName(filter);
        unlink(link.c_str());
        ok = ok && symlink(filter.c_str(), link.c_str()) == 0;
    }
    bool ownZpx = false;
    for (const std::string& backend : options_.backends) {
        ownZpx = ownZpx || BaseName(backend) == "vantora-zpxbackend";
        ok = ok && symlink(backend.c_str(), (root_ + "/serverbin/backend/" + BaseName(backend)).c_str()) == 0;
    }
    if (!ownZpx)
        ok = ok && WriteFile(root_ + "/serverbin/backend/vantora-zpxbackend", kTestBackend, 0700);

    // DataDir: the system's data plus a model folder of our own.
    ok = ok && LinkEntries(kSystemDataDir, root_ + "/data", {"model"});
    const std::string model = root_ + "/data/model/VANTORA_RT-50.ppd";
    ok = ok && (options_.ppd.empty() ? WriteFile(model, kTestModel, 0644)
                                     : CopyFile(options_.ppd, model, 0644));

    // ServerRoot: the system's MIME rules, the package's (as installed into
    // CUPS's MIME folder), our own configuration.
    for (const char* name : {"raw.types", "raw.convs"}) {
        const std::string from = std::string(kSystemServerRoot) + "/" + name;
        if (access(from.c_str(), R_OK) == 0)
            ok = ok && symlink(from.c_str(), (root_ + "/etc/" + name).c_str()) == 0;
    }
    for (const char* name : {"vantora-rt50.types", "vantora-rt50.convs"}) {
        const std::string from = std::string(VANTORA_PACKAGING_DIR) + "/" + name;
        ok = ok && symlink(from.c_str(), (root_ + "/etc/" + name).c_str()) == 0;
    }

    const std::string cupsdConf =
        "LogLevel info\n"
        "Listen " + socket_ + "\n"
        "Browsing No\n"
        "WebInterface No\n"
        "DefaultShared No\n"
        "MaxJobs 100\n"
        "PreserveJobHistory No\n"
        "<Location />\n  Order allow,deny\n  Allow localhost\n</Location>\n"
        "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    const std::string filesConf =
        "ServerRoot " + root_ + "/etc\n"
        "StateDir " + root_ + "/run\n"
        "CacheDir " + root_ + "/cache\n"
        "RequestRoot " + root_ + "/spool\n"
        "TempDir " + root_ + "/spool/tmp\n"
        "ServerBin " + root_ + "/serverbin\n"
        "DataDir " + root_ + "/data\n"
        "DocumentRoot " + kSystemDataDir + "/doc-root\n"
        "AccessLog " + root_ + "/log/access_log\n"
        "ErrorLog " + root_ + "/log/error_log\n"
        "PageLog " + root_ + "/log/page_log\n"
        "Printcap " + root_ + "/etc/printcap\n"
        "FileDevice Yes\n"
        "SystemGroup root\n"
        "SetEnv VANTORA_TEST_JOB_DIR " + root_ + "/jobs\n";
    std::string cupsdExtra;
    for (const std::string& line : options_.cupsdConf)
        cupsdExtra += line + "\n";
    std::string filesExtra;
    for (const std::string& line : options_.filesConf)
        filesExtra += line + "\n";
    ok = ok && WriteFile(root_ + "/etc/cupsd.conf", cupsdConf + cupsdExtra, 0644) &&
         WriteFile(root_ + "/etc/cups-files.conf", filesConf + filesExtra, 0644);
    if (!ok)
        error_ = "cannot populate the scheduler's root " + root_;
    return ok;
}

bool PrivateCupsd::Start()
{
    if (running())
        return true;
    error_.clear();
    if (!BuildRoot()) {
        Stop();
        return false;
    }

    const char* previous = std::getenv("CUPS_SERVER");
    hadPreviousServer_ = previous != nullptr;
    previousServer_ = previous != nullptr ? previous : "";
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());

    const std::string conf = root_ + "/etc/cupsd.conf";
    const std::string files = root_ + "/etc/cups-files.conf";
    const std::string output = root_ + "/log/cupsd.out";
    // The scheduler runs without the test's preloaded libraries (umockdev's
    // testbed, a sanitizer runtime): under them it does not end on SIGTERM.
    std::vector<char*> env;
    for (char** var = environ; *var != nullptr; ++var) {
        if (std::strncmp(*var, "LD_PRELOAD=", 11) != 0)
            env.push_back(*var);
    }
    env.push_back(nullptr);
    const char* const args[] = {"cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr};
    pid_ = fork();
    if (pid_ < 0) {
        error_ = "fork failed";
        Stop();
        return false;
    }
    if (pid_ == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        execvpe("cupsd", const_cast<char* const*>(args), env.data());
        execve("/usr/sbin/cupsd", const_cast<char* const*>(args), env.data());
        _exit(127);
    }
    if (!WaitUntilAnswering()) {
        if (error_.empty())
            error_ = "scheduler did not answer: " + ErrorLog();
        Stop();
        return false;
    }
    return true;
}

bool PrivateCupsd::WaitUntilAnswering()
{
    for (int attempt = 0; attempt < 600; ++attempt) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "scheduler exited at start-up: " + ErrorLog();
            return false;
        }
        http_t* http = httpConnect2(socket_.c_str(), ippPort(), nullptr, AF_UNSPEC,
                                    HTTP_ENCRYPTION_NEVER, 1, 200, nullptr);
        if (http != nullptr) {
            ipp_t* response = cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_PRINTERS), "/");
            const bool answered = response != nullptr;
            ippDelete(response);
            httpClose(http);
            if (answered)
                return true;
        }
        usleep(50 * 1000);
    }
    return false;
}

void PrivateCupsd::Stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int waited = 0; waited < 1000; ++waited) {
            done = waitpid(pid_, &status, WNOHANG);
            if (done != 0)
                break;
            usleep(10 * 1000);
        }
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (!root_.empty()) {
        if (hadPreviousServer_)
            setenv("CUPS_SERVER", previousServer_.c_str(), 1);
        else
            unsetenv("CUPS_SERVER");
        cupsSetServer(hadPreviousServer_ ? previousServer_.c_str() : nullptr);
        if (std::getenv("VANTORA_KEEP_CUPSD_ROOT") == nullptr)
            nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        root_.clear();
        socket_.clear();
    }
}

int PrivateCupsd::Run(const std::vector<std::string>& argv) const
{
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (!socket_.empty())
            setenv("CUPS_SERVER", socket_.c_str(), 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    // A command that hangs is killed: the test fails on its result
    // instead of waiting for ever.
    int status = 0;
    for (int waited = 0; waited < options_.runLimitSeconds * 100; ++waited) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        usleep(10 * 1000);
    }
    std::fprintf(stderr, "%s did not finish within %d s; killed\n", args[0], options_.runLimitSeconds);
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& uri) const
{
    return Run({"lpadmin", "-p", name, "-E", "-v", uri, "-m", "VANTORA_RT-50.ppd"}) == 0;
}

bool PrivateCupsd::WaitForJobsDone(const std::string& queue, int seconds) const
{
    for (int i = 0; i < seconds * 10; ++i) {
        cups_job_t* jobs = nullptr;
        const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(active, jobs);
        if (active == 0)
            return true;
        usleep(100 * 1000);
    }
    return false;
}

std::string PrivateCupsd::ErrorLog() const
{
    std::string text;
    for (const char* name : {"/log/error_log", "/log/cupsd.out"}) {
        FILE* file = std::fopen((root_ + name).c_str(), "r");
        if (file == nullptr)
            continue;
        char line[512];
        while (std::fgets(line, sizeof line, file) != nullptr)
            text += line;
        std::fclose(file);
    }
    return text;
}

}  // namespace vantora_test
