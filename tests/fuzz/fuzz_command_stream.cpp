// Fuzzes the command stream reader of the stream preview: any bytes must be
// split into packets, grouped into sheets and described without reading
// outside the input.
#include "CommandStream.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const std::vector<uint8_t> stream(data, data + size);
    std::vector<StreamPacket> packets;
    std::string error;
    ParseCommandStream(stream, packets, &error);
    for (const StreamPacket& packet : packets)
        (void)DescribePacket(packet);
    std::vector<StreamSheet> sheets;
    if (CollectSheets(packets, sheets, &error)) {
        for (const StreamSheet& sheet : sheets) {
            if (sheet.complete)
                (void)sheet.cyan.At(sheet.cyan.width - 1, 0);
        }
    }
    return 0;
}
