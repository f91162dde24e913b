// Buffer sizing, acceptance and value extraction of reply packets.
#include "ReplyPackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Puts a reply into a freshly allocated buffer the way the reader does: the
// bytes as received, the rest of the buffer zero.
void Receive(DeviceRecv& recv, const std::string& bytes)
{
    ASSERT_EQ(0, recv.Alloc());
    ASSERT_LE(bytes.size(), static_cast<size_t>(recv.GetBufferLength()));
    memcpy(recv.GetBuffer(), bytes.data(), bytes.size());
}

std::string Value(const DeviceRecv& recv, size_t size = 64)
{
    std::string dst(size, 'x');
    EXPECT_EQ(0, recv.GetEffectiveDataAsString(&dst[0], size));
    return dst.c_str();
}

TEST(ReplySizing, BufferFollowsTheExpectedLength)
{
    DeviceRecv none(0, nullptr), variable(-1, nullptr), fixed(8, nullptr);
    EXPECT_EQ(0, none.GetBufferLength());
    EXPECT_EQ(4096, variable.GetBufferLength());
    EXPECT_EQ(16, fixed.GetBufferLength());

    EXPECT_EQ(0, none.Alloc());
    EXPECT_EQ(nullptr, none.GetBuffer());

    ASSERT_EQ(0, variable.Alloc());
    ASSERT_NE(nullptr, variable.GetBuffer());
    // The two bytes beyond the reported length are zero.
    EXPECT_EQ(0, variable.GetBuffer()[4096]);
    EXPECT_EQ(0, variable.GetBuffer()[4097]);
    EXPECT_EQ(0, variable.Free());
    EXPECT_EQ(0, variable.Free());
    EXPECT_EQ(nullptr, variable.GetBuffer());
}

TEST(ReplyAcceptance, VariableLengthNeedsATerminatorInItsArea)
{
    DeviceRecv recv(-1, nullptr);
    Receive(recv, "00000007ABC123\r");
    EXPECT_EQ(0, recv.CheckData());

    Receive(recv, std::string(4096, '7'));
    EXPECT_EQ(3, recv.CheckData());
}

TEST(ReplyAcceptance, FixedLengthRules)
{
    DeviceRecv recv(8, nullptr);
    Receive(recv, "0000000812345678");
    EXPECT_EQ(3, recv.CheckData()) << "full data without terminator";

    Receive(recv, "000000081000\r   ");
    EXPECT_EQ(0, recv.CheckData());

    Receive(recv, "0000000512345");
    EXPECT_EQ(0, recv.CheckData()) << "shorter reply, zero fill ends it";
    EXPECT_EQ("12345", Value(recv));

    Receive(recv, "0000000412345678");
    EXPECT_EQ(3, recv.CheckData()) << "length differs and no zero byte";
}

TEST(ReplyAcceptance, PrefixMustStartTheData)
{
    DeviceRecv recv(-1, "MEDIA:");
    Receive(recv, "00000010MEDIA:150\r");
    EXPECT_EQ(0, recv.CheckData());
    EXPECT_EQ("150", Value(recv));

    Receive(recv, "00000010MEDIUM150\r");
    EXPECT_EQ(3, recv.CheckData());
}

TEST(ReplyAcceptance, MissingBufferIsRejected)
{
    DeviceRecv recv(-1, nullptr);
    EXPECT_EQ(3, recv.CheckData());
    DeviceRecv none(0, nullptr);
    EXPECT_EQ(3, none.CheckData());
}

TEST(ReplyValue, EndsAtCarriageReturnOrZeroFill)
{
    DeviceRecv recv(-1, nullptr);
    Receive(recv, "00000007SN0042\rtrailing");
    EXPECT_EQ("SN0042", Value(recv));

    Receive(recv, "00000005ABCDE");
    EXPECT_EQ("ABCDE", Value(recv));

    Receive(recv, "00000003\rAB");
    EXPECT_EQ("", Value(recv));
}

TEST(ReplyValue, WholeAreaWithoutTerminatorIsTakenAndCut)
{
    DeviceRecv recv(-1, nullptr);
    std::string data(4088, 'v');
    Receive(recv, "00004088" + data);
    EXPECT_EQ(std::string(63, 'v'), Value(recv, 64));
    EXPECT_EQ(data, Value(recv, 5000));
}

TEST(ReplyValue, LongValueIsCutToTheDestination)
{
    DeviceRecv recv(-1, nullptr);
    Receive(recv, "00000011ABCDEFGHIJ\r");
    EXPECT_EQ("ABCD", Value(recv, 5));
    EXPECT_EQ("", Value(recv, 1));
    EXPECT_EQ("ABCDEFGHIJ", Value(recv, 11));
}

TEST(ReplyValue, NulInsideTheValueIsShownNotCutAt)
{
    // A printer answering "AB<NUL>xyz" must not pass for one answering "AB".
    DeviceRecv recv(-1, nullptr);
    Receive(recv, std::string("00000007AB\0xyz\r", 15));
    EXPECT_EQ("AB?xyz", Value(recv));
    EXPECT_EQ("AB?", Value(recv, 4));
}

TEST(ReplyValue, DestinationChecks)
{
    DeviceRecv recv(-1, nullptr);
    Receive(recv, "00000002A\r");
    char dst[4] = "zz";
    EXPECT_EQ(3, recv.GetEffectiveDataAsString(nullptr, 4));
    EXPECT_EQ(3, recv.GetEffectiveDataAsString(dst, 0));

    DeviceRecv none(0, nullptr);
    EXPECT_EQ(0, none.GetEffectiveDataAsString(dst, sizeof dst));
    EXPECT_STREQ("", dst);
}

TEST(ReplyHeader, DataLengthMustBeDigitsThatFitTheBuffer)
{
    auto length = [](const char* header, int buffer) {
        return _ReplyDataLength(reinterpret_cast<const unsigned char*>(header), buffer);
    };
    EXPECT_EQ(7, length("00000007", 4096));
    EXPECT_EQ(4088, length("00004088", 4096));
    EXPECT_EQ(-1, length("00004089", 4096));
    EXPECT_EQ(8, length("00000008", 16));
    EXPECT_EQ(-1, length("00000009", 16));
    EXPECT_EQ(-1, length("00000000", 4096));
    for (const char* bad : {"0000 007", "+0000007", "00 0X005", "       7"})
        EXPECT_EQ(-1, length(bad, 4096)) << bad;
    EXPECT_EQ(-1, _ReplyDataLength(nullptr, 4096));
}

}  // namespace
