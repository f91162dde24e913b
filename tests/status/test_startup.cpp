// Start-up: the single-instance count over a ps listing, the real ps scan,
// and the translation chosen by locale.
#include "startup.h"

#include <QFile>
#include <QMap>
#include <QStringList>
#include <QString>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern "C" const char* __lsan_default_suppressions();

namespace {

// Counts a listing given as text, collecting the echo.
int Count(const std::string &listing, std::string *echoed = nullptr)
{
    FILE *in = fmemopen(const_cast<char *>(listing.data()), listing.size(), "r");
    char *out = nullptr;
    size_t outSize = 0;
    FILE *echo = open_memstream(&out, &outSize);
    const int count = CountInstancePieces(in, echo);
    fclose(in);
    fclose(echo);
    if (echoed != nullptr)
        *echoed = std::string(out, outSize);
    free(out);
    return count;
}

const std::string kPath = kStatusInstalledPath;

TEST(SingleInstance, CountsLinesWithoutGrepAndEchoesThem)
{
    const std::string self = "user 100 0.0 0.1 1 1 ? S 10:00 0:00 " + kPath + "\n";
    const std::string shell = "user 101 0.0 0.0 1 1 ? S 10:00 0:00 sh -c ps auxww | grep " + kPath + "\n";
    const std::string grep = "user 103 0.0 0.0 1 1 ? S 10:00 0:00 grep " + kPath + "\n";
    std::string echoed;
    EXPECT_EQ(Count(self + shell + grep, &echoed), 1);
    EXPECT_EQ(echoed, self + shell + grep);
    // This instance and one more: start-up goes on (the check wants three).
    EXPECT_EQ(Count(self + self + shell + grep), 2);
    EXPECT_EQ(Count(self + self + self + grep), 3);
    EXPECT_EQ(Count(""), 0);
    // A viewer naming the path counts; a grep over it does not.
    EXPECT_EQ(Count("user 1 less " + kPath + "\nuser 2 grep -c x " + kPath + "\n"), 1);
}

TEST(SingleInstance, LongLinesAreCountedPerPiece)
{
    const std::string longLine = std::string(300, 'a') + " " + kPath + "\n";  // 254 + 254 > 300 + 62
    std::string echoed;
    EXPECT_EQ(Count(longLine, &echoed), 2);
    EXPECT_EQ(echoed, longLine);
    EXPECT_EQ(Count(std::string(254 * 2, 'b') + "\n"), 3);  // two full pieces and the line break
}

// Starts a process whose command line names the installed path, and waits
// until it carries that name (after its exec).
pid_t StartNamedProcess()
{
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sleep", kStatusInstalledPath, "30", static_cast<char *>(nullptr));
        _exit(127);
    }
    const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int tries = 0; tries < 500; ++tries) {
        char name[256] = {};
        FILE *file = fopen(cmdline.c_str(), "r");
        if (file != nullptr) {
            size_t got = fread(name, 1, sizeof(name) - 1, file);
            fclose(file);
            if (got > 0 && kPath == name)
                break;
        }
        usleep(10000);
    }
    return pid;
}

TEST(SingleInstance, PsScanFindsRunningInstances)
{
    // The test program itself does not carry the path.
    EXPECT_FALSE(checkDoubleStartApp());
    std::vector<pid_t> others;
    others.push_back(StartNamedProcess());
    others.push_back(StartNamedProcess());
    EXPECT_FALSE(checkDoubleStartApp());  // two counted pieces
    others.push_back(StartNamedProcess());
    EXPECT_TRUE(checkDoubleStartApp());   // three
    for (pid_t pid : others) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

// Runs `command` through the shell; its standard output and error, and its
// wait status in *status.
std::string RunQuietly(const std::string &command, int *status)
{
    FILE *program = popen((command + " 2>&1").c_str(), "r");
    if (program == nullptr)
        return "popen failed";
    std::string output;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), program)) > 0)
        output.append(chunk, got);
    *status = pclose(program);
    return output;
}

TEST(SingleInstance, ProgramRefusesToStartBesideRunningInstancesWithoutAWord)
{
    std::vector<pid_t> others;
    for (int i = 0; i < 3; ++i)
        others.push_back(StartNamedProcess());
    int status = 0;
    const std::string printed = RunQuietly(VANTORA_STATUS_PROGRAM, &status);
    for (pid_t pid : others) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    // The process listing it scanned is not shown on the terminal.
    EXPECT_EQ(printed, "");
}

TEST(SingleInstance, WindowStartsWithoutPrintingTheProcessListing)
{
    // No scheduler to list queues from: the window shows no printer and
    // touches no file; it is ended by SIGTERM like a closed window.
    // A desktop session has its runtime folder (without one Qt says so).
    char runtime[] = "/tmp/xdgrt.XXXXXX";
    ASSERT_NE(mkdtemp(runtime), nullptr);
    // The sanitizer build's program is told which objects Qt's platform
    // keeps until the end (as this test program is).
    const std::string suppressions = std::string(runtime) + "/lsan.supp";
    FILE* file = std::fopen(suppressions.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(__lsan_default_suppressions(), file);
    std::fclose(file);
    int status = 0;
    const std::string printed =
        RunQuietly(std::string("XDG_RUNTIME_DIR=") + runtime + " LSAN_OPTIONS=print_suppressions=0:suppressions=" + suppressions +
                       " CUPS_SERVER=/nonexistent/cups.sock QT_QPA_PLATFORM=offscreen"
                       " timeout --preserve-status -s TERM 4 " VANTORA_STATUS_PROGRAM,
                   &status);
    unlink(suppressions.c_str());
    rmdir(runtime);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << printed;
    EXPECT_EQ(printed.find("ps auxww"), std::string::npos) << printed;
    EXPECT_EQ(printed, "");
}

TEST(DesktopEntry, StartsTheInstalledProgramWithItsIcon)
{
    QFile file(QStringLiteral(VANTORA_STATUS_SOURCE_DIR "/vantora_rt50_status.desktop"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    ASSERT_EQ(lines.value(0), "[Desktop Entry]");
    QMap<QString, QString> keys;
    for (const QString &line : lines) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
    EXPECT_EQ(keys.value("Type"), "Application");
    EXPECT_EQ(keys.value("Exec"), QString::fromLatin1(kStatusInstalledPath));
    EXPECT_EQ(keys.value("Icon"), "vantora_rt50_status");
    EXPECT_EQ(keys.value("Name"), "RT-50 Information");
    EXPECT_TRUE(keys.value("Categories").split(';').contains("Printing"));
}

TEST(TranslationChoice, PrefixOfTheLocaleNameSelectsTheCatalogue)
{
    EXPECT_EQ(TranslationForLocale("zh-TW"), ":/translations/localize_zh");
    EXPECT_EQ(TranslationForLocale("ZH-Hans-CN"), ":/translations/localize_zh");
    EXPECT_EQ(TranslationForLocale("de-CH"), ":/translations/localize_de");
    EXPECT_EQ(TranslationForLocale("fr"), ":/translations/localize_fr");
    EXPECT_EQ(TranslationForLocale("ja-JP"), ":/translations/localize_ja");
    EXPECT_EQ(TranslationForLocale("es-419"), ":/translations/localize_es");
    EXPECT_EQ(TranslationForLocale("en-GB"), ":/translations/localize_en");
    EXPECT_EQ(TranslationForLocale("pt-BR"), ":/translations/localize_en");
    EXPECT_EQ(TranslationForLocale("it"), ":/translations/localize_en");
    EXPECT_EQ(TranslationForLocale("ko"), ":/translations/localize_en");
    EXPECT_EQ(TranslationForLocale(""), ":/translations/localize_en");
}

}  // namespace
