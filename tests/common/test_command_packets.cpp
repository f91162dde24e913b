// Wire layout of command packets and the fixed-width text helpers.
#include "CommandPackets.h"
#include "TextFields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Packet(const DeviceCmd& cmd)
{
    return std::string(reinterpret_cast<const char*>(cmd.GetBuffer()),
                       static_cast<size_t>(cmd.GetLength()));
}

std::string Header(const std::string& name, const std::string& param, const std::string& length)
{
    std::string h = "\x1bP";
    h += name + std::string(6 - name.size(), ' ');
    h += param + std::string(16 - param.size(), ' ');
    h += length.empty() ? std::string(8, ' ') : length;
    return h;
}

TEST(CommandPacket, QueryWithoutParameterIsHeaderOnly)
{
    DeviceCmd cmd;
    ASSERT_EQ(0, cmd.MakeCmd("STATUS", nullptr, -1, nullptr));
    EXPECT_EQ(32, cmd.GetLength());
    EXPECT_EQ(Header("STATUS", "", ""), Packet(cmd));
    EXPECT_EQ(0, cmd.GetBuffer()[32]);
    EXPECT_EQ(0, cmd.GetBuffer()[33]);
}

TEST(CommandPacket, NamesArePaddedWithSpaces)
{
    DeviceCmd cmd;
    ASSERT_EQ(0, cmd.MakeCmd("INFO", "SERIAL_NUMBER", -1, nullptr));
    EXPECT_EQ(std::string("\x1bPINFO  SERIAL_NUMBER           ", 32), Packet(cmd));
}

TEST(CommandPacket, PayloadFollowsEightDigitLength)
{
    DeviceCmd cmd;
    const char payload[] = {'A', 'B', 'C', 'D', 'E'};
    ASSERT_EQ(0, cmd.MakeCmd("CNTRL", "CUTTER", 5, payload));
    EXPECT_EQ(37, cmd.GetLength());
    EXPECT_EQ(Header("CNTRL", "CUTTER", "00000005") + "ABCDE", Packet(cmd));
    EXPECT_EQ(0, cmd.GetBuffer()[37]);
    EXPECT_EQ(0, cmd.GetBuffer()[38]);
}

TEST(CommandPacket, BinaryPayloadIsCopiedWhole)
{
    std::vector<unsigned char> payload(70000);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<unsigned char>(i * 7);
    DeviceCmd cmd;
    ASSERT_EQ(0, cmd.MakeCmd("IMAGE", "YPLANE", static_cast<int>(payload.size()), payload.data()));
    ASSERT_EQ(32 + 70000, cmd.GetLength());
    EXPECT_EQ(std::string("00070000"), std::string(reinterpret_cast<const char*>(cmd.GetBuffer()) + 24, 8));
    EXPECT_EQ(0, memcmp(payload.data(), cmd.GetBuffer() + 32, payload.size()));
}

TEST(CommandPacket, FullWidthNamesFillTheirFields)
{
    DeviceCmd cmd;
    ASSERT_EQ(0, cmd.MakeCmd("ABCDEF", "0123456789ABCDEF", -1, nullptr));
    EXPECT_EQ(Header("ABCDEF", "0123456789ABCDEF", ""), Packet(cmd));
}

TEST(CommandPacket, OverlongNamesAreRefusedAndLeaveTheObjectEmpty)
{
    DeviceCmd cmd;
    EXPECT_EQ(3, cmd.MakeCmd("ABCDEFG", nullptr, -1, nullptr));
    EXPECT_EQ(nullptr, cmd.GetBuffer());
    EXPECT_EQ(0, cmd.GetLength());

    ASSERT_EQ(0, cmd.MakeCmd("STATUS", nullptr, -1, nullptr));
    EXPECT_EQ(3, cmd.MakeCmd("INFO", "0123456789ABCDEFG", -1, nullptr));
    EXPECT_EQ(nullptr, cmd.GetBuffer());
    EXPECT_EQ(0, cmd.GetLength());

    EXPECT_EQ(3, cmd.MakeCmd(nullptr, "X", -1, nullptr));
    EXPECT_EQ(0, cmd.GetLength());
}

TEST(CommandPacket, PayloadNeedsAParameterName)
{
    DeviceCmd cmd;
    EXPECT_EQ(3, cmd.MakeCmd("CNTRL", nullptr, 3, "abc"));
    EXPECT_EQ(nullptr, cmd.GetBuffer());
    EXPECT_EQ(0, cmd.GetLength());
}

TEST(CommandPacket, MissingOrEmptyPayloadLeavesLengthFieldBlank)
{
    DeviceCmd cmd;
    for (int length : {0, -1, -5}) {
        ASSERT_EQ(0, cmd.MakeCmd("CNTRL", "START", length, "x"));
        EXPECT_EQ(Header("CNTRL", "START", ""), Packet(cmd)) << length;
    }
    ASSERT_EQ(0, cmd.MakeCmd("CNTRL", "START", 4, nullptr));
    EXPECT_EQ(Header("CNTRL", "START", ""), Packet(cmd));
}

TEST(CommandPacket, PayloadTooLongForEightDigitsIsRefused)
{
    // 100,000,000 needs nine digits; the packet would lie about its length.
    // The refusal happens before any payload byte is read.
    DeviceCmd cmd;
    const char byte = 'x';
    EXPECT_EQ(3, cmd.MakeCmd("IMAGE", "YPLANE", 100000000, &byte));
    EXPECT_EQ(nullptr, cmd.GetBuffer());
    EXPECT_EQ(0, cmd.GetLength());
}

TEST(CommandPacket, RebuildingAndFreeingAreSafe)
{
    DeviceCmd cmd;
    ASSERT_EQ(0, cmd.MakeCmd("CNTRL", "CUTTER", 8, "00000120"));
    ASSERT_EQ(0, cmd.MakeCmd("STATUS", nullptr, -1, nullptr));
    EXPECT_EQ(32, cmd.GetLength());
    EXPECT_EQ(0, cmd.Free());
    EXPECT_EQ(0, cmd.Free());
    EXPECT_EQ(nullptr, cmd.GetBuffer());
    EXPECT_EQ(0, cmd.GetLength());
}

TEST(TextFields, TextToIntReadsFixedWidthDigits)
{
    EXPECT_EQ(123, _TextToInt("00000123", 8));
    EXPECT_EQ(0, _TextToInt("        ", 8));
    EXPECT_EQ(1, _TextToInt("0000001234", 7));    // only the first count characters
    EXPECT_EQ(42, _TextToInt("  42abc ", 8));
    EXPECT_EQ(-7, _TextToInt("-7", 2));
    EXPECT_EQ(0, _TextToInt("x", 0));
}

TEST(TextFields, TextToIntRefusesCountsOutsideItsScratchBuffer)
{
    EXPECT_EQ(-1, _TextToInt("1", 512));
    EXPECT_EQ(-1, _TextToInt("1", -1));
    EXPECT_EQ(-1, _TextToInt(nullptr, 1));
    std::string wide(511, ' ');
    wide[510] = '5';
    EXPECT_EQ(5, _TextToInt(wide.c_str(), 511));
}

TEST(TextFields, CutTextTerminatesAFixedField)
{
    char dst[8];
    memset(dst, 'x', sizeof dst);
    EXPECT_EQ(0, _CutText(dst, "STATUS  rest", 6));
    EXPECT_STREQ("STATUS", dst);
    EXPECT_EQ(0, _CutText(dst, "abc", 0));
    EXPECT_STREQ("", dst);
}

}  // namespace
