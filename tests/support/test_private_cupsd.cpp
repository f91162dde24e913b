// The private scheduler starts, takes queues of the package's model, lists
// them through libcups, carries a job to the test backend and goes away
// without leaving a process or touching the system's CUPS folders.
#include "private_cupsd.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vantora_test::PrivateCupsd;

// Names, sizes and modification times of everything below the system's CUPS
// folders.
std::map<std::string, std::string> Snapshot()
{
    std::map<std::string, std::string> entries;
    std::vector<std::string> pending = {"/etc/cups", "/run/cups", "/var/spool/cups", "/var/log/cups"};
    while (!pending.empty()) {
        const std::string dir = pending.back();
        pending.pop_back();
        DIR* d = opendir(dir.c_str());
        if (d == nullptr)
            continue;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + "/" + name;
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0)
                continue;
            std::ostringstream info;
            info << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
            entries[path] = info.str();
            if (S_ISDIR(st.st_mode))
                pending.push_back(path);
        }
        closedir(d);
    }
    return entries;
}

std::string DeviceUri(const char* queue)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    std::string uri;
    if (cups_dest_t* dest = cupsGetDest(queue, nullptr, count, dests)) {
        const char* value = cupsGetOption("device-uri", dest->num_options, dest->options);
        uri = value != nullptr ? value : "";
    }
    cupsFreeDests(count, dests);
    return uri;
}

TEST(PrivateCupsd, FirstQueueCommandRegistersAQueueReadBackThroughLibcups)
{
    const auto before = Snapshot();
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    const pid_t pid = cupsd.pid();
    const std::string root = cupsd.root();
    EXPECT_EQ(cupsd.socket(), std::getenv("CUPS_SERVER"));

    // The command the daemon runs for the first printer, through the shell.
    const int status = std::system(
        "lpadmin -p VANTORA-RT-50 -E -D \"VANTORA RT-50\" -m VANTORA_RT-50.ppd "
        "-v vantora-zpxbackend://VANTORA/RT-50?serial=ABC123 -o printer-is-shared=false");
    ASSERT_EQ(0, status) << cupsd.ErrorLog();

    EXPECT_EQ("vantora-zpxbackend://VANTORA/RT-50?serial=ABC123", DeviceUri("VANTORA-RT-50"));
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    ASSERT_EQ(1, count);
    EXPECT_STREQ("VANTORA RT-50", cupsGetOption("printer-info", dests[0].num_options, dests[0].options));
    EXPECT_STREQ("false", cupsGetOption("printer-is-shared", dests[0].num_options, dests[0].options));
    cupsFreeDests(count, dests);

    cupsd.Stop();
    EXPECT_FALSE(cupsd.running());
    EXPECT_EQ(-1, kill(pid, 0));
    EXPECT_EQ(ESRCH, errno) << "the scheduler must be gone";
    EXPECT_NE(0, access(root.c_str(), F_OK)) << "the root must be removed";
    EXPECT_EQ(before, Snapshot()) << "the system's CUPS folders must not change";
}

TEST(PrivateCupsd, NumberedQueuesAndOtherModelsAreListedInNameOrder)
{
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    ASSERT_TRUE(cupsd.AddQueue("VANTORA-RT-50-2", "vantora-zpxbackend://VANTORA/RT-50?serial=B2")) << cupsd.ErrorLog();
    ASSERT_TRUE(cupsd.AddQueue("Office", "file:///dev/null")) << cupsd.ErrorLog();
    ASSERT_TRUE(cupsd.AddQueue("VANTORA-RT-50", "vantora-zpxbackend://VANTORA/RT-50?serial=A1")) << cupsd.ErrorLog();

    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    ASSERT_EQ(3, count);
    EXPECT_STREQ("Office", dests[0].name);
    EXPECT_STREQ("VANTORA-RT-50", dests[1].name);
    EXPECT_STREQ("VANTORA-RT-50-2", dests[2].name);
    cupsFreeDests(count, dests);
    EXPECT_EQ("file:///dev/null", DeviceUri("Office"));
}

TEST(PrivateCupsd, JobReachesTheTestBackend)
{
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    const std::string uri = "vantora-zpxbackend://VANTORA/RT-50?serial=JOB1";
    ASSERT_TRUE(cupsd.AddQueue("VANTORA-RT-50", uri)) << cupsd.ErrorLog();

    const std::string payload = cupsd.root() + "/payload.bin";
    {
        std::ofstream out(payload, std::ios::binary);
        out << std::string("\x1bPCNTRL START                   ", 32);
    }
    ASSERT_EQ(0, cupsd.Run({"lp", "-s", "-d", "VANTORA-RT-50", "-o", "raw", payload}));

    std::string received;
    for (int i = 0; i < 200 && received.empty(); ++i) {
        usleep(50 * 1000);
        std::ifstream in(cupsd.jobDir() + "/1.uri");
        std::getline(in, received);
    }
    EXPECT_EQ(uri, received) << cupsd.ErrorLog();
    std::ifstream job(cupsd.jobDir() + "/1.prn", std::ios::binary);
    std::stringstream data;
    data << job.rdbuf();
    EXPECT_EQ(std::string("\x1bPCNTRL START                   ", 32), data.str());
}

TEST(PrivateCupsd, ClientsSeeAServiceErrorOnceItIsGone)
{
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    const std::string socket = cupsd.socket();
    cupsd.Stop();

    // Point libcups and lpadmin at the vanished socket.
    setenv("CUPS_SERVER", socket.c_str(), 1);
    cupsSetServer(socket.c_str());
    cups_dest_t* dests = nullptr;
    EXPECT_EQ(0, cupsGetDests(&dests));
    EXPECT_EQ(IPP_STATUS_ERROR_SERVICE_UNAVAILABLE, cupsLastError());
    cupsFreeDests(0, dests);
    EXPECT_EQ(1, cupsd.Run({"sh", "-c", "CUPS_SERVER=" + socket + " lpadmin -p X -E -v file:///dev/null 2>/dev/null"}));
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}

}  // namespace
