// Reading an RT-50 command stream back: the packets, their decoded settings,
// the 8-bit plane bitmaps and the sheets they make up. Used by the stream
// preview tool and by the filter's tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One command packet as found in the stream.
struct StreamPacket {
    std::string name;       // command name without padding, e.g. "CNTRL"
    std::string param;      // parameter name without padding, e.g. "CUTTER"
    bool hasPayload = false;
    size_t offset = 0;      // of the packet in the stream
    size_t headerLength = 0;  // 32
    std::vector<uint8_t> payload;
    std::string rawLengthField;  // the 8 characters of the length field

    // The payload as text (plane payloads are not text).
    std::string PayloadText() const { return std::string(payload.begin(), payload.end()); }
};

// Splits a stream into packets. False with a reason in *error when the
// stream is not a sequence of well-formed packets; the packets read until
// then are kept.
bool ParseCommandStream(const std::vector<uint8_t>& stream, std::vector<StreamPacket>& packets, std::string* error);

// An 8-bit plane from the bitmap file of a YPLANE/MPLANE/CPLANE packet.
struct PlaneBitmap {
    int width = 0;
    int height = 0;
    int rowBytes = 0;             // padded to 4 bytes
    int xPixelsPerMetre = 0;
    int yPixelsPerMetre = 0;
    int dataOffset = 0;           // 1088
    std::vector<uint8_t> rows;    // stored order: bottom row first

    // Dot value at column x of row y counted from the top of the picture.
    uint8_t At(int x, int yFromTop) const
    {
        return rows[static_cast<size_t>(height - 1 - yFromTop) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x)];
    }
};

// Checks and decodes the bitmap file of a plane packet. False with a reason
// for anything that is not an 8-bit grey bitmap file of the expected layout.
bool DecodePlaneBitmap(const std::vector<uint8_t>& payload, PlaneBitmap& plane, std::string* error);

// One printed sheet: the packets from the first settings packet after the
// previous START to this sheet's START.
struct StreamSheet {
    std::vector<size_t> packetIndexes;
    int multicut = -1;
    PlaneBitmap yellow, magenta, cyan;
    bool complete = false;  // three planes and START seen
};

// Groups the packets into sheets (each ended by CNTRL/START). False with a
// reason when a plane cannot be decoded or planes differ in size.
bool CollectSheets(const std::vector<StreamPacket>& packets, std::vector<StreamSheet>& sheets, std::string* error);

// A readable line for a packet: name, parameter, length and decoded value,
// e.g. "CNTRL/DECURL len 12: 020000000000 (decurl automatic)".
std::string DescribePacket(const StreamPacket& packet);

// The page size name of a MULTICUT code, or "" when unknown.
std::string MediaNameForMulticut(int code);

// Printable width in dots of the media of a MULTICUT code, or 0.
int MediaWidthForMulticut(int code);

// Writes the sheet as the printer would print it, cut to the media's width: red, green and blue from
// the cyan, magenta and yellow planes; a 600-dpi-high sheet is brought back
// to square dots by averaging pairs of rows. False with a reason on failure.
bool WriteSheetPng(const StreamSheet& sheet, const std::string& path, std::string* error);
