// Reading a command stream back: packets, plane bitmaps, sheets and their
// descriptions over arbitrary bytes.
#include "CommandStream.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> stream(data, data + size);
    std::vector<StreamPacket> packets;
    std::string error;
    ParseCommandStream(stream, packets, &error);
    for (const StreamPacket& packet : packets) {
        (void)DescribePacket(packet);
        PlaneBitmap plane;
        if (DecodePlaneBitmap(packet.payload, plane, &error) && plane.width > 0 && plane.height > 0)
            (void)plane.At(plane.width - 1, 0);
    }
    std::vector<StreamSheet> sheets;
    CollectSheets(packets, sheets, &error);
    return 0;
}
