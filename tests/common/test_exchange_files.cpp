// The files and names the programs share: the status file text byte for
// byte, the request, pause and job start file names, serial numbers that
// may name files, device URIs and queue names.
#include "ExchangeFiles.h"
#include "FailoverMarks.h"
#include "StatusFileStore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace vantora_exchange;

namespace {

std::string Render(const StatusFileValues& values)
{
    char text[kStatusTextSize];
    const int length = FormatStatusFile(values, text, sizeof text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
    return length < 0 ? std::string("(refused)") : std::string(text, static_cast<size_t>(length));
}

StatusFileValues Online(long status)
{
    StatusFileValues v = OfflineStatusValues();
    std::strcpy(v.model, "RT-50");
    v.status = status;
    std::strcpy(v.firmware, "1.07");
    std::strcpy(v.serial, "AB12");
    std::strcpy(v.media, "0x00150");       // 7 characters: the last 5 are shown
    std::strcpy(v.mediaClass, "1");
    std::strcpy(v.mediaInitial, "MQD:0300");
    std::strcpy(v.mediaRemain, "MQ:0299");  // 7 characters: the last 3
    v.totalCount = 12345;
    return v;
}

TEST(StatusFile, OnlineAndOfflineFormsByteForByte)
{
    EXPECT_EQ(Render(Online(1000)),
              "#PRINTER_INFORMATION\nMODEL=\"RT-50\"\nPRINTER_STATUS=\"01000\"\nPRINTER_MESSAGE=\"00100\"\n"
              "PRINTER_VERSION=\"1.07\"\nPRINTER_SERIAL_NO=\"AB12\"\n\n"
              "#MEDIA_INFORMATION\nMEDIA_SIZE=\"00150\"\nMEDIA_CLASS=\"1\"\nMEDIA_INITIAL=\"0300\"\nMEDIA_REMAIN=\"299\"\n\n"
              "#COUNTER_INFORMATION\nTOTAL_COUNT=\"12345\"\n\n");
    EXPECT_EQ(Render(OfflineStatusValues()),
              "#PRINTER_INFORMATION\nMODEL=\"\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"
              "PRINTER_VERSION=\"\"\nPRINTER_SERIAL_NO=\"\"\n\n"
              "#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\nMEDIA_CLASS=\"\"\nMEDIA_INITIAL=\"\"\nMEDIA_REMAIN=\"\"\n\n"
              "#COUNTER_INFORMATION\nTOTAL_COUNT=\"\"\n\n");

    // Status 1: 00001 and 00002. A printer that does not answer keeps its
    // model and stored count but shows no serial number.
    const std::string printing = Render(Online(1));
    EXPECT_NE(printing.find("PRINTER_STATUS=\"00001\"\nPRINTER_MESSAGE=\"00002\"\n"), std::string::npos);
    const std::string silent = Render(Online(kOfflineStatus));
    EXPECT_NE(silent.find("MODEL=\"RT-50\"\nPRINTER_STATUS=\"99999\"\nPRINTER_MESSAGE=\"00006\"\n"), std::string::npos);
    EXPECT_NE(silent.find("PRINTER_SERIAL_NO=\"\"\n"), std::string::npos);
    EXPECT_NE(silent.find("TOTAL_COUNT=\"12345\"\n"), std::string::npos);
}

TEST(StatusFile, ShortValuesUntrustedCharactersAndSmallBuffers)
{
    StatusFileValues v = Online(0);
    std::strcpy(v.media, "AB");        // no more than the 2 dropped characters
    std::strcpy(v.mediaRemain, "MQ:");
    std::strcpy(v.firmware, "1\"2\n3");  // would end the value and the line
    v.totalCount = 0;
    const std::string text = Render(v);
    EXPECT_NE(text.find("MEDIA_SIZE=\"\"\n"), std::string::npos);
    EXPECT_NE(text.find("MEDIA_REMAIN=\"\"\n"), std::string::npos);
    EXPECT_NE(text.find("PRINTER_VERSION=\"1?2?3\"\n"), std::string::npos);
    EXPECT_NE(text.find("TOTAL_COUNT=\"0\"\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kStatusFileLines);

    // Every field full and unterminated: bounded by the fields, and it fits.
    StatusFileValues full;
    std::memset(&full, 'x', sizeof full);
    full.status = -9223372036854775807L - 1;
    full.totalCount = -1;
    char big[kStatusTextSize];
    const int length = FormatStatusFile(full, big, sizeof big);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::count(big, big + length, '\n'), kStatusFileLines);
    EXPECT_NE(std::string(big).find("MEDIA_SIZE=\"" + std::string(62, 'x') + "\"\n"), std::string::npos);
    char small[100] = "unchanged";
    EXPECT_EQ(FormatStatusFile(Online(0), small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

TEST(ExchangeNames, WorkedExamplesAndPathsThatDoNotFit)
{
    char out[kPauseNameSize];
    const struct { ExchangeFile file; const char* path; } kExamples[] = {
        {kStatusFile, "/tmp/RT-50_AB12.log"},
        {kWatchFile, "/tmp/RT-50_AB12_UTIL"},
        {kRefreshFile, "/tmp/RT-50_AB12_TC_UTIL"},
        {kPauseFile, "/tmp/Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=AB12"},
    };
    for (const auto& example : kExamples) {
        ASSERT_TRUE(ExchangeFilePath(example.file, kExchangeDir, "AB12", out, sizeof out));
        EXPECT_STREQ(out, example.path);
        ASSERT_TRUE(ExchangeFileName(example.file, "AB12", out, sizeof out));
        EXPECT_STREQ(out, example.path + 5);
    }
    ASSERT_TRUE(JobStartFilePath(kExchangeDir, "42", out, sizeof out));
    EXPECT_STREQ(out, "/tmp/Print_42.log");
    EXPECT_FALSE(JobStartFilePath(kExchangeDir, "../42", out, sizeof out));

    // "<dir>/RT-50_S_UTIL": a folder making it 127 characters fits, one
    // more is refused, also with a larger buffer, and nothing is cut.
    const std::string dir(127 - std::strlen("/RT-50_S_UTIL"), 'd');
    EXPECT_TRUE(ExchangeFilePath(kWatchFile, dir.c_str(), "S", out, sizeof out));
    EXPECT_EQ(std::strlen(out), 127u);
    EXPECT_FALSE(ExchangeFilePath(kRefreshFile, dir.c_str(), "S", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(ExchangeFilePath(kWatchFile, (dir + "d").c_str(), "S", out, sizeof out));
    char tiny[20];
    EXPECT_FALSE(ExchangeFilePath(kStatusFile, kExchangeDir, "AB12", tiny, 19));
    EXPECT_TRUE(ExchangeFilePath(kStatusFile, kExchangeDir, "AB12", tiny, 20));
    EXPECT_FALSE(ExchangeFileName(kNoExchangeFile, "AB12", out, sizeof out));
    EXPECT_FALSE(ExchangeFilePath(kStatusFile, nullptr, "AB12", out, sizeof out));
}

TEST(ExchangeNames, OnlyPlainSerialsNameFiles)
{
    const std::string longest(kSerialMax, 'S');
    for (const char* good : {"A", "AB12", "a.b_c-d", "...", ".x", "-", longest.c_str()})
        EXPECT_TRUE(IsValidSerial(good)) << good;
    const std::string tooLong(kSerialMax + 1, 'S');
    for (const char* bad : {"", ".", "..", "A/B", "../x", "A B", "A\tB", "A?B", "A:B", "Ä", tooLong.c_str()})
        EXPECT_FALSE(IsValidSerial(bad)) << bad;
    EXPECT_FALSE(IsValidSerial(nullptr));

    // The daemon and the window refuse the same serials for every file.
    char out[kPathSize] = "unchanged";
    for (ExchangeFile file : {kStatusFile, kWatchFile, kRefreshFile, kPauseFile}) {
        EXPECT_FALSE(ExchangeFilePath(file, kExchangeDir, "A/B", out, sizeof out));
        EXPECT_FALSE(ExchangeFilePath(file, kExchangeDir, tooLong.c_str(), out, sizeof out));
        EXPECT_TRUE(ExchangeFilePath(file, kExchangeDir, longest.c_str(), out, sizeof out));
    }
    EXPECT_FALSE(DeviceUriForSerial("A/B", out, sizeof out));
}

TEST(ExchangeNames, BackendMarkersByTheirWholeName)
{
    for (const char* marker : {"Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=AB12", "Print_42.log",
                               "Print_a.log.log"})
        EXPECT_TRUE(IsBackendMarkerName(marker)) << marker;
    for (const char* other : {"Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=", "Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=A B",
                              "Pause_x", "Print_.log", "Print_42.log.old", "Print_4 2.log", "xPrint_42.log",
                              "RT-50_AB12_UTIL", "RT-50_AB12.log", "Print_..log"})
        EXPECT_FALSE(IsBackendMarkerName(other)) << other;
    EXPECT_FALSE(IsBackendMarkerName(nullptr));
}

TEST(DeviceUri, SerialIsTheTextAfterTheFirstSerialKey)
{
    EXPECT_STREQ(SerialInDeviceUri("vantora-zpxbackend://VANTORA/RT-50?serial=AB12"), "AB12");
    EXPECT_STREQ(SerialInDeviceUri("x://y?serial=A&serial=B"), "A&serial=B");
    EXPECT_EQ(SerialInDeviceUri("vantora-zpxbackend://VANTORA/RT-50?serial="), nullptr);
    EXPECT_EQ(SerialInDeviceUri("usb://VANTORA/RT-50"), nullptr);
    EXPECT_EQ(SerialInDeviceUri(nullptr), nullptr);

    EXPECT_TRUE(IsModelDeviceUri("vantora-zpxbackend://VANTORA/RT-50?serial=AB12"));
    EXPECT_FALSE(IsModelDeviceUri("usb://VANTORA/RT-50?serial=AB12"));
    char uri[kPathSize];
    ASSERT_TRUE(DeviceUriForSerial("AB12", uri, sizeof uri));
    EXPECT_STREQ(uri, "vantora-zpxbackend://VANTORA/RT-50?serial=AB12");
}

TEST(Queues, NamesDescriptionsAndNumbers)
{
    char name[64], description[64];
    ASSERT_TRUE(QueueName(1, name, sizeof name) && QueueDescription(0, description, sizeof description));
    EXPECT_STREQ(name, "VANTORA-RT-50");
    EXPECT_STREQ(description, "VANTORA RT-50");
    ASSERT_TRUE(QueueName(12, name, sizeof name) && QueueDescription(12, description, sizeof description));
    EXPECT_STREQ(name, "VANTORA-RT-50-12");
    EXPECT_STREQ(description, "VANTORA RT-50 12");
    EXPECT_FALSE(QueueName(-1, name, sizeof name));
    EXPECT_FALSE(QueueName(2, name, 15));

    EXPECT_EQ(getRNumber("VANTORA-RT-50-4"), 4);
    EXPECT_EQ(getRNumber("VANTORA-RT-50-12x"), 12);
    EXPECT_EQ(getRNumber("VANTORA-RT-50"), 0);
    EXPECT_EQ(getRNumber("VANTORA-RT-50-"), 0);
    EXPECT_EQ(getRNumber("VANTORA-RT-50-photo"), 0);
    EXPECT_EQ(getRNumber(("VANTORA-RT-50-" + std::string(64, '7')).c_str()), 0);
    EXPECT_EQ(getRNumber("VANTORA-RT-50-99999999999"), 0);
    EXPECT_EQ(getRNumber(nullptr), 0);

    EXPECT_EQ(GetMessage(1000), 100);
    EXPECT_EQ(GetMessage(1600), 107);
    EXPECT_EQ(GetMessage(2610), 207);
    EXPECT_EQ(GetMessage(3000), 210);
    EXPECT_EQ(GetMessage(99999), 6);
    EXPECT_EQ(GetMessage(-1), 210);
    EXPECT_EQ(GetMessage(static_cast<long>(kStatusFailed)), 210);
}

// One table of status codes: the state each program acts on, and the one
// rule of when a sheet may be started.
TEST(StatusCodes, StatesAndTheRuleOfStartingASheet)
{
    EXPECT_EQ(PrinterStateOf(0), PrinterState::kReady);
    EXPECT_EQ(PrinterStateOf(900), PrinterState::kReady);
    EXPECT_EQ(PrinterStateOf(1), PrinterState::kPrinting);
    EXPECT_EQ(PrinterStateOf(500), PrinterState::kBusy);
    EXPECT_EQ(PrinterStateOf(1500), PrinterState::kUserError);
    EXPECT_EQ(PrinterStateOf(1600), PrinterState::kSystemError);
    EXPECT_EQ(PrinterStateOf(4242), PrinterState::kSystemError);
    EXPECT_EQ(PrinterStateOf(kStatusFailed), PrinterState::kNoAnswer);
    EXPECT_EQ(PrinterStateOf(kOfflineStatus), PrinterState::kNoAnswer);
    EXPECT_STREQ(DescribeStatus(1300).text, "Paper jam");
    EXPECT_EQ(DescribeStatus(0).advice, nullptr);
    // A printing RT-50 takes the next sheet into its buffer.
    for (int64_t ready : std::vector<int64_t>{0, 1, 900})
        EXPECT_TRUE(SheetMayStart(ready)) << ready;
    for (int64_t waiting : std::vector<int64_t>{500, 1000, 1100, 1600, 2610, 4242, -1, kOfflineStatus, kStatusFailed})
        EXPECT_FALSE(SheetMayStart(waiting)) << waiting;
}

}  // namespace

// A mark makes root start a queue again: only a private folder keeps them,
// and a mark holds exactly one queue name and one line of reason.
TEST(FailoverMarks, KeptOnlyInAPrivateFolderAndReadBackWhole)
{
    char pattern[] = "/tmp/failover.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = std::string(pattern) + "/marks";

    EXPECT_TRUE(WriteFailoverMark(folder, {"AB12", "VANTORA-RT-50-2", "Ribbon end\nsecond line"}));
    EXPECT_FALSE(WriteFailoverMark(folder, {"../x", "Q", ""}));
    EXPECT_FALSE(WriteFailoverMark(folder, {"CD34", "", "no queue"}));
    EXPECT_FALSE(WriteFailoverMark(folder, {"CD34", "Q\nother", ""}));
    std::vector<FailoverMark> marks = ReadFailoverMarks(folder);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].serial, "AB12");
    EXPECT_EQ(marks[0].queue, "VANTORA-RT-50-2");
    EXPECT_EQ(marks[0].reason, "Ribbon end second line");

    // Others may enter the folder: its marks are not believed.
    chmod(folder.c_str(), 0755);
    EXPECT_TRUE(ReadFailoverMarks(folder).empty());
    chmod(folder.c_str(), 0700);

    EXPECT_TRUE(RemoveFailoverMark(folder, "AB12"));
    EXPECT_TRUE(RemoveFailoverMark(folder, "AB12"));
    EXPECT_TRUE(ReadFailoverMarks(folder).empty());
    rmdir(folder.c_str());
    rmdir(pattern);
}

// The daemon carries on the count the backend wrote during a job: only from
// a file one of the package's writers made, and only a plain count.
TEST(StatusFile, WrittenWholeAndItsCountReadBackOnlyFromOurOwnFiles)
{
    char pattern[] = "/tmp/statusstore.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string path = folder + "/RT-50_AB12.log";
    auto put = [&](const std::string& text) {
        unlink(path.c_str());
        std::ofstream(path) << text;
    };

    int count = -7;
    EXPECT_FALSE(ReadStatusFileCount(path.c_str(), &count));   // none yet
    const mode_t oldMask = umask(077);
    ASSERT_EQ(WriteStatusFile(path.c_str(), Online(1000), nullptr), 0);
    umask(oldMask);
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666u);
    EXPECT_TRUE(ReadStatusFileCount(path.c_str(), &count));
    EXPECT_EQ(count, 12345);

    // No count yet, or one that is not a plain number of at most nine digits.
    for (const char* text : {"TOTAL_COUNT=\"\"\n", "TOTAL_COUNT=\"-3\"\n", "TOTAL_COUNT=\"12a\"\n",
                             "TOTAL_COUNT=\"1234567890\"\n", "TOTAL_COUNT=\"12\n", "XTOTAL_COUNT=\"5\"\n"}) {
        put(std::string("#COUNTER_INFORMATION\n") + text);
        count = -7;
        EXPECT_FALSE(ReadStatusFileCount(path.c_str(), &count)) << text;
        EXPECT_EQ(count, -7);
    }
    // Another user's file, a link to ours, a second link, an oversized file.
    put("#COUNTER_INFORMATION\nTOTAL_COUNT=\"77\"\n");
    EXPECT_TRUE(ReadStatusFileCount(path.c_str(), &count));
    EXPECT_EQ(count, 77);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(ReadStatusFileCount(path.c_str(), &count));
    }
    put("#COUNTER_INFORMATION\nTOTAL_COUNT=\"77\"\n");
    const std::string link = folder + "/RT-50_CD34.log";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(ReadStatusFileCount(link.c_str(), &count));
    unlink(link.c_str());
    ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(ReadStatusFileCount(path.c_str(), &count));
    unlink(link.c_str());
    put(std::string(kStatusTextSize, '\n') + "TOTAL_COUNT=\"77\"\n");
    EXPECT_FALSE(ReadStatusFileCount(path.c_str(), &count));

    // A folder that cannot take it: the error, and nothing written.
    EXPECT_EQ(WriteStatusFile((folder + "/missing/RT-50_AB12.log").c_str(), Online(0), nullptr), ENOENT);
    unlink(path.c_str());
    rmdir(pattern);
}
