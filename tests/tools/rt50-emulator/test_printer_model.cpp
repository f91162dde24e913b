// The emulated printer's model on its own: command stream reassembly, reply
// shapes, faults and print jobs, with explicit clock values.
#include "ReplyPackets.h"
#include "PrinterModel.h"
#include "SheetRecorder.h"
#include "TextFields.h"
#include "UsbTestClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

using rt50emu::Clock;
using rt50emu::Fault;
using rt50emu::FaultKind;
using rt50emu::PrinterModel;
using rt50emu::ReadOutcome;
using rt50test::Packet;

const Clock::time_point t0 = Clock::now();

Clock::time_point At(int ms)
{
    return t0 + std::chrono::milliseconds(ms);
}

void Feed(PrinterModel& model, const std::vector<uint8_t>& bytes, int ms = 0, size_t chunk = 65536)
{
    for (size_t at = 0; at < bytes.size(); at += chunk)
        model.Write(bytes.data() + at, std::min(chunk, bytes.size() - at), At(ms));
}

// The whole reply now available, as one string (header and data).
std::string ReadAll(PrinterModel& model, int ms = 0)
{
    std::string reply;
    uint8_t buffer[64];
    size_t count = 0;
    while (model.Read(buffer, sizeof buffer, &count, At(ms)) == ReadOutcome::Data)
        reply.append(reinterpret_cast<char*>(buffer), count);
    return reply;
}

std::string Ask(PrinterModel& model, const char* command, const char* param, int ms = 0)
{
    Feed(model, Packet(command, param), ms);
    return ReadAll(model, ms);
}

// The value as the daemon stores it: after the header, up to the carriage
// return, without the first `cut` characters.
std::string Cut(const std::string& reply, size_t cut)
{
    EXPECT_GE(reply.size(), 9u);
    EXPECT_EQ(_TextToInt(reply.data(), 8), static_cast<int>(reply.size() - 8));
    EXPECT_EQ(reply.back(), '\r');
    const std::string value = reply.substr(8, reply.size() - 9);
    return value.size() > cut ? value.substr(cut) : std::string();
}

TEST(PrinterModel, ReplyShapesFitHowTheDaemonCutsThem)
{
    PrinterModel model;
    model.Update([](rt50emu::EmulatedState& s) {
        s.serial = "A1B2";
        s.mediaSize = 161;
        s.mediaClass = 3;
        s.mediaInitial = 300;
        s.mediaRemain = 120;
        s.counter = 456;
        s.firmware = "1.23";
        s.status = 1000;
    });
    EXPECT_EQ(Ask(model, "STATUS", nullptr), "000000051000\r");
    EXPECT_EQ(std::strtol(Cut(Ask(model, "STATUS", nullptr), 0).c_str(), nullptr, 10), 1000);
    EXPECT_EQ(Cut(Ask(model, "INFO", "SERIAL_NUMBER"), 0), "A1B2");
    EXPECT_EQ(Cut(Ask(model, "INFO", "MEDIA"), 2), "161");
    EXPECT_EQ(Cut(Ask(model, "INFO", "MEDIA_CLASS_RFID"), 0), "3");
    EXPECT_EQ(Cut(Ask(model, "INFO", "MQTY_DEFAULT"), 4), "300");
    EXPECT_EQ(Cut(Ask(model, "INFO", "MQTY"), 4), "120");
    EXPECT_EQ(Cut(Ask(model, "INFO", "RQTY"), 4), "240");
    EXPECT_EQ(Cut(Ask(model, "INFO", "FVER"), 0), "1.23");
    EXPECT_EQ(std::strtol(Cut(Ask(model, "MNT_RD", "COUNTER_LIFE"), 2).c_str(), nullptr, 10), 456);
    // A query the printer does not know gets an empty value, not silence.
    EXPECT_EQ(Ask(model, "INFO", "NO_SUCH_THING"), "00000001\r");
}

// Reads one reply the way the daemon does: 8 header bytes, then as many data
// bytes as they announce, into the buffer of a DeviceRecv; then judges it.
std::string DaemonRead(PrinterModel& model, const char* command, const char* param, int expected)
{
    Feed(model, Packet(command, param));
    DeviceRecv reply(expected, nullptr);
    EXPECT_EQ(reply.Alloc(), 0);
    size_t count = 0;
    EXPECT_EQ(model.Read(reply.GetBuffer(), 8, &count, At(0)), ReadOutcome::Data);
    const int length = _TextToInt(reinterpret_cast<char*>(reply.GetBuffer()), 8);
    EXPECT_GE(length, 1);
    EXPECT_LE(length, reply.GetBufferLength() - 8);
    EXPECT_EQ(model.Read(reply.GetBuffer() + 8, static_cast<size_t>(length), &count, At(0)), ReadOutcome::Data);
    EXPECT_EQ(reply.CheckData(), 0) << command << " " << (param ? param : "");
    char value[64];
    EXPECT_EQ(reply.GetEffectiveDataAsString(value, sizeof value), 0);
    return value;
}

TEST(PrinterModel, EveryReplyPassesTheDaemonsChecks)
{
    PrinterModel model;
    model.Update([](rt50emu::EmulatedState& s) { s.status = 2610; });
    EXPECT_EQ(DaemonRead(model, "STATUS", nullptr, 8), "2610");
    EXPECT_EQ(DaemonRead(model, "INFO", "SERIAL_NUMBER", -1), "RT50EMU0001");
    EXPECT_EQ(DaemonRead(model, "INFO", "MEDIA", -1), "00150");
    EXPECT_EQ(DaemonRead(model, "INFO", "MEDIA_CLASS_RFID", -1), "2");
    EXPECT_EQ(DaemonRead(model, "INFO", "MQTY_DEFAULT", -1), "0000300");
    EXPECT_EQ(DaemonRead(model, "INFO", "MQTY", -1), "0000300");
    EXPECT_EQ(DaemonRead(model, "INFO", "RQTY", -1), "0000600");
    EXPECT_EQ(DaemonRead(model, "INFO", "FVER", -1), "1.53");
    EXPECT_EQ(DaemonRead(model, "MNT_RD", "COUNTER_LIFE", -1), "00000000");
}

TEST(PrinterModel, ReassemblesPacketsSplitAnywhereAndReadsInPieces)
{
    PrinterModel model;
    Feed(model, Packet("INFO", "SERIAL_NUMBER"), 0, 1);
    uint8_t header[8];
    size_t count = 0;
    ASSERT_EQ(model.Read(header, 8, &count, At(0)), ReadOutcome::Data);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), count), "00000012");
    EXPECT_EQ(ReadAll(model), "RT50EMU0001\r");
    EXPECT_EQ(model.Read(header, 8, &count, At(0)), ReadOutcome::Pending);

    // An unread reply is dropped when the next command arrives.
    Feed(model, Packet("INFO", "FVER"));
    Feed(model, Packet("STATUS", nullptr));
    EXPECT_EQ(ReadAll(model), "000000050000\r");
}

TEST(PrinterModel, SkipsBrokenPacketsAndFindsTheNextOne)
{
    PrinterModel model;
    std::vector<uint8_t> junk(40, 'x');
    std::vector<uint8_t> badLength = Packet("INFO", "FVER");
    std::memcpy(badLength.data() + 24, "12ab5678", 8);
    std::vector<uint8_t> tooLong = Packet("INFO", "FVER");
    std::memcpy(tooLong.data() + 24, "99999999", 8);
    Feed(model, junk);
    Feed(model, badLength);
    Feed(model, tooLong);
    EXPECT_EQ(model.FramingErrors(), 3);
    EXPECT_EQ(Ask(model, "INFO", "FVER"), "000000051.53\r");
}

TEST(PrinterModel, FaultsShapeTheNextReplies)
{
    PrinterModel model;
    model.SetFault({FaultKind::NoAnswer, 0, 2});
    EXPECT_EQ(Ask(model, "STATUS", nullptr), "");
    EXPECT_EQ(Ask(model, "STATUS", nullptr), "");
    EXPECT_EQ(Ask(model, "STATUS", nullptr), "000000050000\r");

    model.SetFault({FaultKind::BadHeader, 0, 1});
    EXPECT_EQ(Ask(model, "STATUS", nullptr).substr(0, 8), "00 0X005");
    model.SetFault({FaultKind::BadLength, 4089, 0});   // until cleared
    EXPECT_EQ(Ask(model, "STATUS", nullptr).substr(0, 8), "00004089");
    EXPECT_EQ(Ask(model, "INFO", "FVER").substr(0, 8), "00004089");
    model.SetFault(Fault());
    EXPECT_EQ(Ask(model, "INFO", "FVER"), "000000051.53\r");

    model.SetFault({FaultKind::Slow, 300, 1});
    EXPECT_EQ(Ask(model, "STATUS", nullptr, 0), "");
    EXPECT_EQ(ReadAll(model, 299), "");
    EXPECT_EQ(ReadAll(model, 300), "000000050000\r");

    model.SetFault({FaultKind::StallIn, 0, 1});
    Feed(model, Packet("STATUS", nullptr));
    uint8_t buffer[16];
    size_t count = 0;
    EXPECT_EQ(model.Read(buffer, sizeof buffer, &count, At(0)), ReadOutcome::Stall);
    EXPECT_EQ(ReadAll(model), "000000050000\r");   // the reply waits behind the stall

    model.SetFault({FaultKind::StallOut, 0, 1});
    EXPECT_TRUE(model.TakeOutStall());
    EXPECT_FALSE(model.TakeOutStall());
}

TEST(PrinterModel, PrintsASheetForItsPrintingTime)
{
    PrinterModel model;
    model.Update([](rt50emu::EmulatedState& s) {
        s.printMs = 1000;
        s.mediaRemain = 2;
        s.counter = 7;
    });
    Feed(model, rt50test::SheetJob(64, 10), 0, 777);
    EXPECT_EQ(model.FramingErrors(), 0) << model.LastError();
    EXPECT_EQ(model.State(At(999)).status, 1);
    EXPECT_EQ(model.State(At(999)).mediaRemain, 2);
    const auto after = model.State(At(1000));
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.mediaRemain, 1);
    EXPECT_EQ(after.counter, 8);

    auto sheets = model.TakeSheets();
    ASSERT_EQ(sheets.size(), 1u);
    const rt50emu::Sheet& sheet = sheets[0];
    EXPECT_EQ(sheet.width, 64);
    EXPECT_EQ(sheet.height, 10);
    // Rows come back top first: the white rows are the top four.
    EXPECT_EQ(sheet.planes[0][0], 255);
    EXPECT_EQ(sheet.planes[0][static_cast<size_t>(5 * 64)], 0);        // left: red, no blue
    EXPECT_EQ(sheet.planes[2][static_cast<size_t>(5 * 64)], 255);      // cyan plane carries red
    ASSERT_GE(sheet.settings.size(), 7u);
    EXPECT_EQ(sheet.settings[0].first, "SET_SYS_TIME");
    EXPECT_EQ(sheet.settings[0].second, "20260102030405");
    EXPECT_EQ(sheet.settings[6].first, "MULTICUT");
    EXPECT_EQ(sheet.settings[6].second, "00000048");

    // Two sheets back to back print one after the other; a further one
    // finds no media left and stops the printer with "paper end".
    model.Update([](rt50emu::EmulatedState& s) { s.mediaRemain = 2; });
    Feed(model, rt50test::SheetJob(64, 10), 1000);
    Feed(model, rt50test::SheetJob(64, 10), 1000);
    EXPECT_EQ(model.State(At(2500)).status, 1);
    EXPECT_EQ(model.State(At(2500)).mediaRemain, 1);
    EXPECT_EQ(model.State(At(3000)).mediaRemain, 0);
    EXPECT_EQ(model.State(At(3000)).status, 0);
    EXPECT_EQ(model.State(At(3000)).counter, 10);
    Feed(model, rt50test::SheetJob(64, 10), 3000);
    EXPECT_EQ(model.State(At(3000)).status, 1100);
    EXPECT_EQ(model.TakeSheets().size(), 2u);
}

TEST(PrinterModel, RefusesSheetsWithBrokenPlanes)
{
    PrinterModel model;
    std::vector<uint8_t> plane = rt50test::PlaneBitmap(16, 4, [](int, int) { return 0; });
    std::vector<uint8_t> shortPlane(plane.begin(), plane.end() - 1);
    Feed(model, Packet("IMAGE", "YPLANE", plane));
    Feed(model, Packet("IMAGE", "MPLANE", shortPlane));
    Feed(model, Packet("IMAGE", "CPLANE", plane));
    Feed(model, Packet("CNTRL", "START"));
    EXPECT_NE(model.LastError().find("MPLANE"), std::string::npos) << model.LastError();
    EXPECT_TRUE(model.TakeSheets().empty());

    Feed(model, Packet("CNTRL", "START"));
    EXPECT_NE(model.LastError().find("START without YPLANE"), std::string::npos);

    // Setting names from the stream are kept printable for the sheet record.
    PrinterModel other;
    std::vector<uint8_t> odd = Packet("CNTRL", "AB", {'1'});
    odd[9] = '\n';
    Feed(other, odd);
    Feed(other, rt50test::SheetJob(16, 4));
    auto sheets = other.TakeSheets();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].settings[0].first, "A?");

    // A printer showing an error does not print, and the error shows even
    // while an earlier sheet is still printing.
    other.Update([](rt50emu::EmulatedState& s) { s.status = 1000; });
    Feed(other, rt50test::SheetJob(16, 4));
    EXPECT_TRUE(other.TakeSheets().empty());
    EXPECT_EQ(other.State(At(0)).status, 1000);
    other.Update([](rt50emu::EmulatedState& s) { s.status = 0; });
    EXPECT_EQ(other.State(At(0)).status, 1);
}

// One sheet without settings: three white planes and START.
std::vector<uint8_t> PlanesAndStart(int width, int height)
{
    std::vector<uint8_t> job;
    for (const char* name : {"YPLANE", "MPLANE", "CPLANE"}) {
        const std::vector<uint8_t> packet = Packet("IMAGE", name, rt50test::PlaneBitmap(width, height, [](int, int) {
            return uint8_t{255};
        }));
        job.insert(job.end(), packet.begin(), packet.end());
    }
    const std::vector<uint8_t> start = Packet("CNTRL", "START");
    job.insert(job.end(), start.begin(), start.end());
    return job;
}

TEST(PrinterModel, EachSheetRecordsOnlyTheSettingsSentForIt)
{
    PrinterModel model;
    Feed(model, rt50test::SheetJob(16, 4));
    // The next job sends one setting; the first job's others are not its.
    Feed(model, Packet("CNTRL", "OVERCOAT", {'0', '0', '0', '0', '0', '0', '2', '2'}));
    Feed(model, PlanesAndStart(16, 4));
    // A sheet the printer refuses takes its settings with it.
    Feed(model, Packet("CNTRL", "CUTTER", {'1'}));
    Feed(model, Packet("CNTRL", "START"));
    Feed(model, PlanesAndStart(16, 4));
    const auto sheets = model.TakeSheets();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].settings.size(), 7u);
    using Settings = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(sheets[1].settings, (Settings{{"OVERCOAT", "00000022"}}));
    EXPECT_EQ(sheets[2].settings, Settings());
}

TEST(PrinterModel, ResetStreamForgetsWhatAKilledJobLeftBehind)
{
    // A job killed inside its second plane: later commands are plane data.
    PrinterModel model;
    const std::vector<uint8_t> job = rt50test::SheetJob(64, 10);
    Feed(model, std::vector<uint8_t>(job.begin(), job.begin() + static_cast<long>(job.size() / 2)));
    EXPECT_EQ(model.StreamState(), "payload 718/1728");
    EXPECT_EQ(Ask(model, "STATUS", nullptr), "");
    model.ResetStream();
    EXPECT_EQ(model.StreamState(), "idle");
    // Its settings and its complete first plane are gone too.
    Feed(model, Packet("CNTRL", "START"));
    EXPECT_NE(model.LastError().find("START without YPLANE"), std::string::npos) << model.LastError();
    Feed(model, PlanesAndStart(64, 10));
    const auto sheets = model.TakeSheets();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_TRUE(sheets[0].settings.empty());
}

// Records a grey sheet with the settings given and returns the rows of its
// picture a cut line crosses (pure black and pure white on the grey sheet).
std::vector<int> RecordedCutRows(const std::string& cutter, const std::string& multicut, int height)
{
    char pattern[] = "/tmp/rt50-cutXXXXXX";
    const char* folder = mkdtemp(pattern);
    EXPECT_NE(folder, nullptr);
    if (folder == nullptr)
        return {};
    rt50emu::Sheet sheet;
    sheet.number = 1;
    sheet.serial = "CUT";
    sheet.width = 1408;
    sheet.height = height;
    sheet.settings = {{"CUTTER", cutter}, {"MULTICUT", multicut}};
    for (auto& plane : sheet.planes)
        plane.assign(static_cast<size_t>(sheet.width) * static_cast<size_t>(height), 128);
    EXPECT_EQ(rt50emu::RecordSheet(folder, sheet), "");
    int width = 0, rows = 0;
    std::vector<uint8_t> rgb;
    EXPECT_TRUE(rt50emu::ReadPng(std::string(folder) + "/CUT-sheet-0001.png", &width, &rows, &rgb));
    std::filesystem::remove_all(folder);
    std::vector<int> cut;
    for (int y = 0; y < rows; ++y) {
        bool black = false, white = false;
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            black = black || (pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0);
            white = white || (pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255);
        }
        if (black && white)
            cut.push_back(y);
    }
    return cut;
}

// The sheet's picture shows the 2-inch cut where the printer makes it, only
// when the sheet asks for it and its size takes it.
TEST(SheetPicture, ShowsTheTwoInchCutOnlyWhereThePrinterCuts)
{
    EXPECT_EQ(RecordedCutRows("00000120", "00000048", 1836), (std::vector<int>{617, 618, 619, 1217, 1218, 1219}));
    EXPECT_EQ(RecordedCutRows("00000120", "00000047", 2472), (std::vector<int>{1235, 1236, 1237}));
    EXPECT_TRUE(RecordedCutRows("00000000", "00000048", 1836).empty());
    EXPECT_TRUE(RecordedCutRows("00000120", "00000050", 1386).empty());
}

}  // namespace
