// A private CUPS scheduler for tests.
//
// Starts a real cupsd in the foreground inside a fresh temporary root and
// points this process (and every program it starts) at it through
// CUPS_SERVER; the system's /etc/cups, /run/cups, /var/spool/cups and
// /var/log/cups are never touched. Stop() ends it with SIGTERM, waits for it
// and removes the root.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vantora_test {

struct CupsdOptions {
    // The longest a command given to Run may take.
    int runLimitSeconds = 120;
    // PPD installed as DataDir/model/VANTORA_RT-50.ppd; empty: a small test model.
    std::string ppd;
    // Programs linked into ServerBin/filter and ServerBin/backend under their
    // own file names. A program named vantora-zpxbackend replaces the test
    // backend that is otherwise installed for that scheme.
    std::vector<std::string> filters;
    std::vector<std::string> backends;
    // Lines added at the end of cupsd.conf and cups-files.conf, e.g.
    // "PreserveJobHistory Yes" or "SetEnv UMOCKDEV_DIR /tmp/umockdev.XXXXXX"
    // (CUPS 2.4 takes SetEnv and PassEnv in cups-files.conf only).
    std::vector<std::string> cupsdConf;
    std::vector<std::string> filesConf;
};

class PrivateCupsd {
public:
    explicit PrivateCupsd(CupsdOptions options = {});
    ~PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    // Builds the root, starts cupsd and waits until it answers IPP requests
    // (at most 30 s). Sets CUPS_SERVER and libcups' server for this process.
    // Returns false, with a reason in error(), when the scheduler did not come up.
    bool Start();

    // Sends SIGTERM, waits for the scheduler and removes the root. Harmless
    // when not running.
    void Stop();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& root() const { return root_; }
    const std::string& socket() const { return socket_; }
    // Folder where the test backend stores each job's data as <job-id>.prn.
    std::string jobDir() const { return root_ + "/jobs"; }
    const std::string& error() const { return error_; }

    // Runs a program (looked up in PATH) with CUPS_SERVER set and waits for
    // it, at most runLimitSeconds of the options (then it is killed and
    // says so on standard error). Returns its exit status, or -1 when it could not run
    // or was killed.
    int Run(const std::vector<std::string>& argv) const;

    // Creates an enabled queue of the package's model for a device URI.
    bool AddQueue(const std::string& name, const std::string& uri) const;

    // Waits (at most `seconds`) until `queue` has no unfinished job.
    bool WaitForJobsDone(const std::string& queue, int seconds) const;

    // The scheduler's error log, for test failure messages.
    std::string ErrorLog() const;

private:
    bool BuildRoot();
    bool WaitUntilAnswering();

    CupsdOptions options_;
    std::string root_;
    std::string socket_;
    std::string error_;
    std::string previousServer_;
    bool hadPreviousServer_ = false;
    pid_t pid_ = -1;
};

}  // namespace vantora_test
