// The command packet reader and the plane bitmap decoder over arbitrary
// bytes. The first input byte picks the payload limit and seeds the splits;
// the rest is the stream. Fed whole and fed in random pieces, the reader must
// report the same packets and framing errors; every packet must be the bytes
// the packet writer makes of it; every plane the decoder accepts must lie
// inside its payload.
#include "CommandPackets.h"
#include "PlaneBitmap.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One thing the reader reported, as comparable text.
std::string Event(CommandPacketReader& reader, CommandPacketReader::Step step)
{
    if (step == CommandPacketReader::kFramingError)
        return "error " + reader.ErrorText() + " @" + std::to_string(reader.ErrorOffset());
    const CommandPacket& p = reader.Packet();
    return "packet " + p.name + "/" + p.param + "/" + p.rawLengthField + " @" + std::to_string(p.offset) + " " +
           std::string(p.payload.begin(), p.payload.end());
}

std::vector<std::string> Read(const uint8_t* data, size_t size, size_t limit, uint32_t seed, const uint8_t* stream)
{
    CommandPacketReader reader(limit);
    std::vector<std::string> events;
    size_t used = 0;
    for (size_t at = 0; at < size; at += used) {
        size_t piece = size - at;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            piece = 1 + (seed >> 16) % (piece < 80 ? piece : 80);
        }
        const CommandPacketReader::Step step = reader.Feed(data + at, piece, &used);
        if (used > piece || (step == CommandPacketReader::kNeedMore && used != piece))
            __builtin_trap();
        if (step == CommandPacketReader::kNeedMore)
            continue;
        events.push_back(Event(reader, step));
        if (step != CommandPacketReader::kPacket || stream == nullptr)
            continue;

        const CommandPacket& packet = reader.Packet();
        if (packet.payload.size() > limit)
            __builtin_trap();
        // Written again, the packet is the bytes it was read from.
        if (packet.name.find('\0') == std::string::npos && packet.param.find('\0') == std::string::npos) {
            unsigned char header[kCmdHeaderSize];
            const int length = packet.hasPayload ? static_cast<int>(packet.payload.size()) : -1;
            if (_FormatCmdHeader(header, packet.name.c_str(), packet.param.c_str(), length) != kProtoOk ||
                std::memcmp(header, stream + packet.offset, kCmdHeaderSize) != 0)
                __builtin_trap();
        }
        PlaneBitmapView plane;
        const uint8_t* file = packet.payload.data();
        if (_DecodePlaneBitmap(file, packet.payload.size(), &plane, nullptr) == kProtoOk) {
            const size_t area = static_cast<size_t>(plane.rowBytes) * static_cast<size_t>(plane.height);
            if (plane.rows < file || plane.rows + area != file + packet.payload.size() || plane.width > plane.rowBytes)
                __builtin_trap();
        }
        (void)reader.Describe();
    }
    return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const size_t kLimits[] = {kCmdMaxPayload, 0, 40, 2000, 70000};
    const size_t limit = kLimits[data[0] % 5];
    const uint32_t seed = 1u + data[0];
    ++data;
    --size;
    const std::vector<std::string> whole = Read(data, size, limit, 0, data);
    if (Read(data, size, limit, seed, nullptr) != whole)
        __builtin_trap();
    return 0;
}
