// Reading an RT-50 command stream back: the packets, their decoded settings,
// the 8-bit plane bitmaps and the sheets they make up. Used by the stream
// preview tool and by the filter's tests.
#pragma once

#include "CommandPackets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One command packet as found in the stream.
using StreamPacket = CommandPacket;

// Splits a stream into packets with the protocol's packet reader. False with
// a reason in *error when the stream is not a sequence of well-formed
// packets; the packets read until then are kept.
bool ParseCommandStream(const std::vector<uint8_t>& stream, std::vector<StreamPacket>& packets, std::string* error);

// An 8-bit plane from the bitmap file of a YPLANE/MPLANE/CPLANE packet, with
// its rows copied out of the packet.
struct PlaneBitmap {
    int width = 0;
    int height = 0;
    int rowBytes = 0;             // padded to 4 bytes
    int xPixelsPerMetre = 0;
    int yPixelsPerMetre = 0;
    std::vector<uint8_t> rows;    // stored order: bottom row first

    // Dot value at column x of row y counted from the top of the picture.
    uint8_t At(int x, int yFromTop) const
    {
        return rows[static_cast<size_t>(height - 1 - yFromTop) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x)];
    }
};

// Checks the bitmap file of a plane packet with the protocol's plane decoder
// and keeps a copy of its rows. False with the decoder's reason otherwise.
bool DecodePlaneBitmap(const std::vector<uint8_t>& payload, PlaneBitmap& plane, std::string* error);

// One printed sheet: the packets from the first settings packet after the
// previous START to this sheet's START.
struct StreamSheet {
    std::vector<size_t> packetIndexes;
    int multicut = -1;
    int cutter = 0;         // CNTRL/CUTTER value; 120 asks for 2-inch strips
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
// to square dots by averaging pairs of rows. Where the sheet asks for the
// 2-inch cut, a dashed line shows each cut. False with a reason on failure.
bool WriteSheetPng(const StreamSheet& sheet, const std::string& path, std::string* error);
