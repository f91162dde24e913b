// vantora_stream_preview: shows what an RT-50 command stream would print.
//
//   vantora_stream_preview [-p PNG-PREFIX] [STREAM-FILE | -]
//
// Prints one line per packet (name, parameter, length, decoded setting) and,
// with -p, writes PREFIX-sheet-N.png for every sheet: the three planes put
// back together as the printer would print them. Exit status 0 for a
// well-formed stream, 1 for a malformed one or an I/O failure, 2 for usage.
#include "CommandStream.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool ReadAll(FILE* file, std::vector<uint8_t>& data)
{
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    return std::ferror(file) == 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: vantora_stream_preview [-p PNG-PREFIX] [STREAM-FILE | -]\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::string prefix;
    const char* input = "-";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc)
            prefix = argv[++i];
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return Usage();
        else
            input = argv[i];
    }

    std::vector<uint8_t> stream;
    FILE* file = std::strcmp(input, "-") == 0 ? stdin : std::fopen(input, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "vantora_stream_preview: cannot open %s\n", input);
        return 1;
    }
    const bool read = ReadAll(file, stream);
    if (file != stdin)
        std::fclose(file);
    if (!read) {
        std::fprintf(stderr, "vantora_stream_preview: cannot read %s\n", input);
        return 1;
    }

    std::vector<StreamPacket> packets;
    std::string error;
    const bool parsed = ParseCommandStream(stream, packets, &error);
    std::printf("%zu bytes, %zu packets\n", stream.size(), packets.size());
    for (const StreamPacket& packet : packets)
        std::printf("%08zx  %s\n", packet.offset, DescribePacket(packet).c_str());
    if (!parsed) {
        std::fprintf(stderr, "vantora_stream_preview: %s\n", error.c_str());
        return 1;
    }

    std::vector<StreamSheet> sheets;
    if (!CollectSheets(packets, sheets, &error)) {
        std::fprintf(stderr, "vantora_stream_preview: %s\n", error.c_str());
        return 1;
    }
    int status = 0;
    for (size_t i = 0; i < sheets.size(); ++i) {
        const StreamSheet& sheet = sheets[i];
        const std::string media = MediaNameForMulticut(sheet.multicut);
        std::printf("sheet %zu: %s, %s\n", i + 1, media.empty() ? "unknown media" : media.c_str(),
                    sheet.complete ? "three planes and START" : "INCOMPLETE");
        if (prefix.empty() || !sheet.complete)
            continue;
        const std::string path = prefix + "-sheet-" + std::to_string(i + 1) + ".png";
        if (WriteSheetPng(sheet, path, &error)) {
            std::printf("sheet %zu: preview %s\n", i + 1, path.c_str());
        } else {
            std::fprintf(stderr, "vantora_stream_preview: %s\n", error.c_str());
            status = 1;
        }
    }
    return status;
}
