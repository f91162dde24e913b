// The backend's files in the shared exchange folder and its CUPS messages:
// exclusive creation that no link or foreign file can redirect, removal only
// of its own file, left-overs of a killed backend, reasons and markers.
#include "CupsMessages.h"
#include "JobFiles.h"
#include "OwnedFile.h"
#include "CupsReasons.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vantora_backend;

class BackendFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/bkf.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir = folder;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    bool Exists(const std::string& name) const
    {
        struct stat info {};
        return lstat((dir + "/" + name).c_str(), &info) == 0;
    }

    std::string dir;
};

constexpr char kPauseName[] = "Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=A1";

TEST_F(BackendFiles, CreatesBothFilesAndRemovesOnlyItsOwn)
{
    {
        JobFiles files(dir);
        ASSERT_TRUE(files.StartJob("42"));
        ASSERT_TRUE(files.HoldPause("A1"));
        EXPECT_TRUE(Exists("Print_42.log"));
        EXPECT_EQ(Read(dir + "/" + kPauseName), std::to_string(getpid()) + "\n");
        EXPECT_FALSE(files.StartJob("../1"));
        EXPECT_FALSE(files.HoldPause("a/b"));
        // Someone replaces the job start file: the replacement is not ours.
        std::filesystem::remove(dir + "/Print_42.log");
        Write(dir + "/Print_42.log", "theirs");
    }   // destroyed: removes what is still its own
    EXPECT_FALSE(Exists(kPauseName));
    EXPECT_EQ(Read(dir + "/Print_42.log"), "theirs");
}

TEST_F(BackendFiles, NeverFollowsLinksOrTakesForeignFiles)
{
    const std::string target = dir + "/target";
    Write(target, "keep");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/Print_7.log").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/nowhere").c_str(), (dir + "/" + kPauseName).c_str()), 0);
    JobFiles files(dir);
    EXPECT_TRUE(files.StartJob("7"));       // the filter sees a file there either way
    EXPECT_FALSE(files.startFileOwned());
    EXPECT_FALSE(files.HoldPause("A1"));
    files.RemoveAll();
    EXPECT_EQ(Read(target), "keep");
    EXPECT_FALSE(Exists("nowhere"));
    EXPECT_TRUE(Exists("Print_7.log"));
    EXPECT_TRUE(Exists(kPauseName));

    // A live backend's pause file (another queue of the printer) is left to
    // it; a killed backend's is taken over; one holding anything else is not.
    std::filesystem::remove(dir + "/" + kPauseName);
    Write(dir + "/" + kPauseName, std::to_string(getppid()) + "\n");
    EXPECT_FALSE(files.HoldPause("A1"));
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    Write(dir + "/" + kPauseName, std::to_string(child) + "\n");
    EXPECT_TRUE(files.HoldPause("A1"));
    EXPECT_EQ(Read(dir + "/" + kPauseName), std::to_string(getpid()) + "\n");
    files.RemoveAll();
    Write(dir + "/" + kPauseName, "hello\n");
    EXPECT_FALSE(files.HoldPause("A1"));
    EXPECT_EQ(Read(dir + "/" + kPauseName), "hello\n");

    // A killed backend not yet reaped (the scheduler killed it as it
    // stopped) has ended: its job start file is taken over by the job run again.
    const pid_t zombie = fork();
    if (zombie == 0)
        _exit(0);
    siginfo_t ended {};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &ended, WEXITED | WNOWAIT), 0);
    Write(dir + "/Print_8.log", std::to_string(zombie) + "\n");
    JobFiles again(dir);
    EXPECT_TRUE(again.StartJob("8"));
    EXPECT_TRUE(again.startFileOwned());
    again.RemoveAll();
    EXPECT_FALSE(Exists("Print_8.log"));
    waitpid(zombie, nullptr, 0);
}

TEST_F(BackendFiles, ReportsReasonChangesAndMediaLevels)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        CupsMessages messages(out);
        messages.SetReasons({"media-empty-error"});
        messages.SetReasons({"media-empty-error"});
        messages.SetReasons({"door-open-error"});
        messages.SetReasons({});
        messages.Info("two\nlines");
        messages.Info("two\nlines");
        messages.Markers(120, 300);
        messages.Markers(120, 300);
        messages.Markers(0, 300);
        messages.Markers(5, 0);
    }
    std::fclose(out);
    EXPECT_EQ(std::string(text, size),
              "STATE: +media-empty-error\n"
              "STATE: -media-empty-error\nSTATE: +door-open-error\n"
              "STATE: -door-open-error\n"
              "INFO: two lines\n"
              "ATTR: marker-names='\"Ribbon and paper\"'\nATTR: marker-types=inkCartridge\n"
              "ATTR: marker-colors=#00A0E0\nATTR: marker-low-levels=10\nATTR: marker-high-levels=100\n"
              "ATTR: marker-levels=40\nATTR: marker-levels=0\nATTR: marker-levels=-1\n");
    std::free(text);

    // The reasons and texts CUPS shows.
    EXPECT_EQ(CupsReasonOfStatus(0), nullptr);
    EXPECT_EQ(CupsReasonOfStatus(1), nullptr);
    EXPECT_EQ(CupsReasonOfStatus(500), nullptr);
    EXPECT_STREQ(CupsReasonOfStatus(1000), "door-open-error");
    EXPECT_STREQ(CupsReasonOfStatus(1010), "output-tray-missing-error");
    EXPECT_STREQ(CupsReasonOfStatus(1100), "media-empty-error");
    EXPECT_STREQ(CupsReasonOfStatus(1200), "marker-print-ribbon-empty-error");
    EXPECT_STREQ(CupsReasonOfStatus(1300), "media-jam-error");
    EXPECT_STREQ(CupsReasonOfStatus(2800), "other-error");
    EXPECT_STREQ(CupsReasonOfStatus(4242), "other-error");
    EXPECT_STREQ(CupsReasonOfStatus(0x80000000LL), "offline-report");
    EXPECT_EQ(StatusInfoText(1100), "Paper end: load paper and ribbon (printer status 1100)");
    EXPECT_EQ(StatusInfoText(1), "Printing");
}

}  // namespace
