// The daemon's decisions that need no printer: the queue a new printer
// gets, the request files and the backends' pause files, how a status file is written (never through
// a planted link, never truncating another user's file, never half), the
// SELinux relabelling, and how helper programs are run.
#include "ProgramRunner.h"
#include "QueueRegistration.h"
#include "RequestFiles.h"
#include "StatusFileWriter.h"
#include "usbmon_test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace vantora_usbmon;
using usbmon_test::kOfflineText;
using usbmon_test::ReadAll;
using usbmon_test::StandIns;
using usbmon_test::TempFolder;
using usbmon_test::WriteAll;

constexpr char kUri[] = "vantora-zpxbackend://VANTORA/RT-50?serial=";

std::set<std::string> Entries(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.' || (std::string(entry->d_name) != "." && std::string(entry->d_name) != ".."))
                names.insert(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

// Settings pointing the daemon at `folder`, reports into `reports`.
void UseFolder(const std::string& folder, FILE* reports = stderr)
{
    MonitorSettings settings;
    settings.exchangeDir = folder;
    settings.reports = reports;
    SetMonitorSettings(settings);
}

TEST(QueueChoice, EveryRuleOfTheNumberAndNoPrinterTakesAnothersQueue)
{
    const std::string a12 = std::string(kUri) + "A12";
    const std::string other = std::string(kUri) + "OTHER";
    const std::string own = "usb://VANTORA/RT-50?serial=A1";
    struct Case {
        const char* what;
        std::vector<QueueEntry> queues;
        QueuePlan::Kind kind;
        int number;
    } cases[] = {
        {"no queues at all", {}, QueuePlan::kFirstQueue, 0},
        {"only other printers' queues", {{"Office", "ipp://office/ipp/print"}}, QueuePlan::kFirstQueue, 0},
        {"the first queue is taken", {{"VANTORA-RT-50", other}}, QueuePlan::kNumberedQueue, 2},
        {"the next number", {{"VANTORA-RT-50", other}, {"VANTORA-RT-50-2", other}, {"VANTORA-RT-50-3", other}},
         QueuePlan::kNumberedQueue, 4},
        {"a gap", {{"VANTORA-RT-50-2", other}, {"VANTORA-RT-50-4", other}}, QueuePlan::kNumberedQueue, 3},
        {"the highest gap wins",
         {{"VANTORA-RT-50-2", other}, {"VANTORA-RT-50-4", other}, {"VANTORA-RT-50-6", other}},
         QueuePlan::kNumberedQueue, 5},
        {"2 free at the bottom", {{"VANTORA-RT-50", other}, {"VANTORA-RT-50-3", other}}, QueuePlan::kNumberedQueue, 2},
        {"its own queue of another scheme comes first", {{"VANTORA-RT-50", own}, {"VANTORA-RT-50-2", other}},
         QueuePlan::kFirstQueue, 0},
        {"its own queue of another scheme after others", {{"VANTORA-RT-50", other}, {"VANTORA-RT-50-2", own}},
         QueuePlan::kNothing, 0},
        // Mended: a serial that is only part of another's is not this printer's ...
        {"A12's queue is not A1's", {{"VANTORA-RT-50", a12}}, QueuePlan::kNumberedQueue, 2},
        // ... a name without a number does not make 2 the choice when -2 exists ...
        {"2 exists beside a name without number",
         {{"VANTORA-RT-50", other}, {"VANTORA-RT-50-2", other}, {"VANTORA-RT-50-X", other}},
         QueuePlan::kNumberedQueue, 3},
        {"the choice exists", {{"VANTORA-RT-50-2", other}, {"VANTORA-RT-50-3", other}, {"my-VANTORA-RT-50-4", other},
                               {"vantora-rt-50-4", other}}, QueuePlan::kNumberedQueue, 5},
        // ... and the first queue is never re-pointed from another printer.
        {"first queue belongs to another", {{"A-VANTORA-RT-50", own}, {"VANTORA-RT-50", other}},
         QueuePlan::kNothing, 0},
    };
    for (const Case& c : cases) {
        const QueuePlan plan = PlanQueue(c.queues, "A1");
        EXPECT_EQ(plan.kind, c.kind) << c.what;
        EXPECT_EQ(plan.number, c.number) << c.what;
    }
}

// A process that has ended: what a killed backend's files name.
pid_t EndedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(RequestFiles, ExactNamesAndOnlyLiveBackendsPause)
{
    TempFolder folder;
    UseFolder(folder.path());
    thdata record;
    std::strcpy(record.serial, "S1");
    const std::string watch = folder / "RT-50_S1_UTIL", refresh = folder / "RT-50_S1_TC_UTIL";
    const std::string pause = folder / "Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=S1";
    const std::string live = std::to_string(getpid()) + "\n", dead = std::to_string(EndedProcess()) + "\n";
    auto check = [&](int result, bool utilSeen, bool resumed, const char* what) {
        EXPECT_EQ(fileCheck(&record), result) << what;
        EXPECT_EQ(record.bUtilSeen, utilSeen) << what;
        EXPECT_EQ(record.bResumed, resumed) << what;
    };

    // Other printers' files and longer names are not this printer's.
    for (const char* name : {"RT-50_S2_UTIL", "RT-50_S1.log", "RT-50_S1_UTIL.old", "RT-50_S_UTIL"})
        WriteAll(folder / name, "");
    WriteAll(folder / "Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=S12", live);
    check(0, false, false, "no file of its own");
    // Its refresh file alone is the watch file of the printer S1_TC: left alone.
    WriteAll(refresh, "");
    check(0, false, false, "the watch file of S1_TC");
    EXPECT_EQ(access(refresh.c_str(), F_OK), 0);
    // Watched: the refresh file is its own and consumed.
    WriteAll(watch, "");
    check(3, true, false, "watched, refresh asked");
    EXPECT_EQ(access(refresh.c_str(), F_OK), -1);
    record.bCountRead = true;
    check(1, true, false, "watched");

    // Only a live backend's pause file (root's or this user's, holding a
    // running process) pauses; a refresh asked meanwhile waits for its end.
    WriteAll(pause, live);
    WriteAll(refresh, "");
    check(0, true, false, "paused");
    EXPECT_TRUE(record.bCountRead);
    unlink(pause.c_str());
    check(3, true, true, "the pause is over");
    for (const std::string& foreign : {std::string("hello\n"), std::string()}) {
        WriteAll(pause, foreign);
        check(1, true, false, "a pause file that is no backend's");
    }
    ASSERT_EQ(chown(pause.c_str(), 65534, 65534), 0);
    WriteAll(pause, live);
    check(1, true, false, "another user's pause file");
    EXPECT_EQ(access(pause.c_str(), F_OK), 0);
    unlink(pause.c_str());
    ASSERT_EQ(symlink((folder / "elsewhere").c_str(), pause.c_str()), 0);
    WriteAll(folder / "elsewhere", live);
    check(1, true, false, "a link");
    unlink(pause.c_str());

    // A killed backend's pause file is removed with the job start files
    // killed backends left, and nothing else.
    WriteAll(pause, dead);
    WriteAll(folder / "Print_7.log", dead);
    WriteAll(folder / "Print_8.log", live);
    WriteAll(folder / "Print_9.log", dead);
    ASSERT_EQ(chown((folder / "Print_9.log").c_str(), 65534, 65534), 0);
    WriteAll(folder / "Print_x.log.old", dead);
    check(1, true, false, "a killed backend's pause file");
    for (const char* gone : {"Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=S1", "Print_7.log"})
        EXPECT_EQ(access((folder / gone).c_str(), F_OK), -1) << gone;
    for (const char* kept : {"Print_8.log", "Print_9.log", "Print_x.log.old"})
        EXPECT_EQ(access((folder / kept).c_str(), F_OK), 0) << kept;

    unlink(watch.c_str());
    check(0, false, false, "the watch period ends");
    EXPECT_FALSE(record.bCountRead);
}

TEST(StatusFile, WrittenWholeByRenameNeverThroughALinkOrIntoAnothersFile)
{
    TempFolder folder;
    FILE* reports = tmpfile();
    UseFolder(folder.path(), reports);
    const std::string status = folder / "RT-50_S1.log";
    const mode_t oldMask = umask(077);

    // A link planted at the status file's name: the file it points to stays.
    WriteAll(folder / "victim", "precious");
    ASSERT_EQ(symlink((folder / "victim").c_str(), status.c_str()), 0);
    WriteFile("S1");
    EXPECT_EQ(ReadAll(folder / "victim"), "precious");
    struct stat info {};
    ASSERT_EQ(lstat(status.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0666u);
    EXPECT_EQ(ReadAll(status), kOfflineText);

    // Another user's file is replaced, not truncated: whoever holds it open
    // still reads it whole.
    unlink(status.c_str());
    WriteAll(status, "someone else's");
    ASSERT_EQ(chown(status.c_str(), 65534, 65534), 0);
    const int held = open(status.c_str(), O_RDONLY);
    WriteFile("S1");
    char old[32] = {};
    EXPECT_EQ(pread(held, old, sizeof old - 1, 0), 14);
    EXPECT_STREQ(old, "someone else's");
    close(held);
    ASSERT_EQ(stat(status.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(ReadAll(status), kOfflineText);
    umask(oldMask);

    // Serials that cannot name a file write nothing, and no temporary file
    // is ever left behind.
    for (const char* bad : {"", ".", "..", "a/b", "x;rm -rf /", "../RT-50_S1"})
        WriteFile(bad);
    WriteFile(static_cast<const char*>(nullptr));
    EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"RT-50_S1.log", "victim"}));

    // A folder that cannot take the file: reported once, not per write.
    UseFolder(folder / "missing", reports);
    WriteFile("S1");
    WriteFile("S1");
    fflush(reports);
    rewind(reports);
    int lines = 0;
    for (char line[512]; fgets(line, sizeof line, reports) != nullptr; ++lines)
        EXPECT_NE(std::strstr(line, "cannot write the status file"), nullptr) << line;
    EXPECT_EQ(lines, 1);
    fclose(reports);
    UseFolder(folder.path());
}

TEST(StatusFile, SELinuxRelabelsTheTemporaryFileBeforeTheRename)
{
    TempFolder folder;
    UseFolder(folder.path());
    StandIns standIns(folder / "bin");
    const std::string log = folder / "chcon.log";
    standIns.Add("chcon", "echo \"$*\" >> " + log);

    // No getenforce: not enforcing, and nothing is relabelled.
    const char* path = std::getenv("PATH");
    const std::string saved = path;
    setenv("PATH", (folder / "bin").c_str(), 1);
    EXPECT_FALSE(isSELinuxEnabled());
    setenv("PATH", saved.c_str(), 1);
    standIns.Add("getenforce", "echo Permissive");
    EXPECT_FALSE(isSELinuxEnabled());
    bSELinuxEnabled = false;
    WriteFile("S1");
    EXPECT_EQ(ReadAll(log), "");

    standIns.Add("getenforce", "echo Enforcing");
    bSELinuxEnabled = isSELinuxEnabled();
    EXPECT_TRUE(bSELinuxEnabled);
    WriteFile("S1");
    bSELinuxEnabled = false;
    // Two relabellings of one temporary file beside the status file.
    const std::string calls = ReadAll(log);
    const std::string prefix = folder.path() + "/.RT-50_S1.log.";
    const size_t second = calls.find('\n') + 1;
    ASSERT_EQ(calls.rfind("-t tmp_t -- " + prefix, 0), 0u) << calls;
    const std::string temporary = calls.substr(12, second - 13);
    EXPECT_EQ(calls.substr(second), "-t cupsd_tmp_t -- " + temporary + "\n");
    EXPECT_EQ(access(temporary.c_str(), F_OK), -1);
    EXPECT_EQ(ReadAll(folder / "RT-50_S1.log"), kOfflineText);
}

TEST(ProgramRunner, ArgumentsReachTheProgramAsTheyAreWithoutAShell)
{
    TempFolder folder;
    const std::string pwned = folder / "pwned";
    const std::string text = "x;touch " + pwned + " $(touch " + pwned + ")`touch " + pwned + "`";
    const char* const echo[] = {"printf", "%s|%s", text.c_str(), "two words", nullptr};
    char out[512];
    EXPECT_EQ(RunProgramOutput(echo, out, sizeof out), 0);
    EXPECT_EQ(std::string(out), text + "|two words");
    EXPECT_EQ(access(pwned.c_str(), F_OK), -1);

    const char* const fails[] = {"sh", "-c", "exit 7", nullptr};
    EXPECT_EQ(RunProgram(fails), 7);
    const char* const missing[] = {"vantora-no-such-program", nullptr};
    EXPECT_EQ(RunProgram(missing), -1);
}

}  // namespace
