// The command packet reader against the packet writer: streams cut anywhere,
// framing errors and resynchronisation, reset, and hostile lengths.
#include "CommandPackets.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Written(const char* name, const char* param, const std::vector<uint8_t>& payload = {})
{
    DeviceCmd cmd;
    EXPECT_EQ(cmd.MakeCmd(name, param, static_cast<int>(payload.size()), payload.empty() ? nullptr : payload.data()),
              0);
    return std::vector<uint8_t>(cmd.GetBuffer(), cmd.GetBuffer() + cmd.GetLength());
}

// Everything the reader reports for `stream` fed in pieces of 1..maxPiece
// bytes (the whole stream when maxPiece is 0): packets as
// "name/param/length-field/payload@offset", errors as "! reason @offset".
std::vector<std::string> Read(CommandPacketReader& reader, const std::vector<uint8_t>& stream, size_t maxPiece,
                              unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::vector<std::string> events;
    size_t at = 0;
    while (at < stream.size()) {
        const size_t left = stream.size() - at;
        const size_t end = at + (maxPiece == 0 ? left : std::min<size_t>(left, 1 + random() % maxPiece));
        while (at < end) {
            size_t used = 0;
            const CommandPacketReader::Step step = reader.Feed(stream.data() + at, end - at, &used);
            at += used;
            if (step == CommandPacketReader::kPacket) {
                const CommandPacket& p = reader.Packet();
                events.push_back(p.name + "/" + p.param + "/" + p.rawLengthField + "/" + p.PayloadText() + "@" +
                                 std::to_string(p.offset));
            } else if (step == CommandPacketReader::kFramingError) {
                events.push_back("! " + reader.ErrorText() + " @" + std::to_string(reader.ErrorOffset()));
            } else {
                EXPECT_EQ(at, end);
            }
        }
    }
    return events;
}

TEST(PacketReader, ReadsWhatTheWriterWroteInAnySplit)
{
    std::vector<uint8_t> binary(3000);
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<uint8_t>(i * 31 + 0x1B * (i % 5 == 0));  // ESC and 'P' bytes inside a payload
    std::vector<uint8_t> stream;
    std::vector<std::string> expected;
    auto add = [&](std::vector<uint8_t> packet, const std::string& event) {
        expected.push_back(event + "@" + std::to_string(stream.size()));
        stream.insert(stream.end(), packet.begin(), packet.end());
    };
    add(Written("STATUS", nullptr), "STATUS//        /");
    add(Written("CNTRL", "CUTTER", Bytes("00000120")), "CNTRL/CUTTER/00000008/00000120");
    add(Written("ABCDEF", "0123456789ABCDEF"), "ABCDEF/0123456789ABCDEF/        /");
    add(Written("IMAGE", "YPLANE", binary), "IMAGE/YPLANE/00003000/" + std::string(binary.begin(), binary.end()));
    add(Bytes("\x1bPCNTRL ZERO            00000000"), "CNTRL/ZERO/00000000/");  // digits, no bytes
    add(Written("CNTRL", "START"), "CNTRL/START/        /");

    for (size_t piece : {0, 1, 2, 7, 33, 500}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            CommandPacketReader reader;
            EXPECT_EQ(Read(reader, stream, piece, seed), expected) << "pieces up to " << piece;
            EXPECT_EQ(reader.Describe(), "idle");
            EXPECT_EQ(reader.BytesFed(), stream.size());
        }
    }
}

TEST(PacketReader, ReportsFramingErrorsAndResynchronisesAtTheNextEsc)
{
    const std::vector<uint8_t> status = Written("STATUS", nullptr);
    std::vector<uint8_t> stream(40, 'x');                                     // no ESC at all
    auto add = [&](const std::vector<uint8_t>& bytes) { stream.insert(stream.end(), bytes.begin(), bytes.end()); };
    add(status);                                                              // @40
    add(Bytes("\x1bPINFO  FVER            12ab5678"));                        // @72
    add(Bytes("\x1bPINFO  FVER            1234    "));                        // @104
    add(Bytes("\x1bPINFO  FVER                1234"));                        // @136
    add(Bytes("\x1bPCNTRL X               00000041"));                        // @168, over the limit of 40
    add(status);                                                              // @200
    add(Bytes("junk!"));                                                      // @232: the next packet starts
    add(status);                                                              // inside the broken header, @237
    add(Written("CNTRL", "X", std::vector<uint8_t>(40, 'y')));                // exactly the limit, @269

    const std::vector<std::string> expected = {
        "! no packet start (ESC P) @0",
        "STATUS//        /@40",
        "! bad length field \"12ab5678\" @72",
        "! bad length field \"1234    \" @104",
        "! bad length field \"    1234\" @136",
        "! payload of 41 bytes is above the limit of 40 @168",
        "STATUS//        /@200",
        "! no packet start (ESC P) @232",
        "STATUS//        /@237",
        "CNTRL/X/00000040/" + std::string(40, 'y') + "@269",
    };
    for (size_t piece : {0, 1, 5}) {
        CommandPacketReader reader(40);
        EXPECT_EQ(Read(reader, stream, piece), expected) << "pieces up to " << piece;
    }

}

TEST(PacketReader, ResetForgetsAHalfPacketAndPayloadsAreNotAllocatedAhead)
{
    CommandPacketReader reader;
    const std::vector<uint8_t> liar = Bytes("\x1bPIMAGE YPLANE          99999999abc");
    size_t used = 0;
    EXPECT_EQ(reader.Feed(liar.data(), liar.size(), &used), CommandPacketReader::kNeedMore);
    EXPECT_EQ(reader.Describe(), "payload 3/99999999");
    EXPECT_LT(reader.Packet().payload.capacity(), 4096u);
    // Without the reset, STATUS would be payload.
    reader.Reset();
    EXPECT_EQ(reader.Describe(), "idle");
    EXPECT_EQ(Read(reader, Written("STATUS", nullptr), 0), std::vector<std::string>{"STATUS//        /@0"});
}

}  // namespace
