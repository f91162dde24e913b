#include "CommandStream.h"

#include "MediaSets.h"
#include "SheetCuts.h"

#include "PlaneBitmap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>

namespace {

void SetError(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
}

}  // namespace

bool ParseCommandStream(const std::vector<uint8_t>& stream, std::vector<StreamPacket>& packets, std::string* error)
{
    CommandPacketReader reader;
    size_t used = 0;
    for (size_t at = 0; at < stream.size(); at += used) {
        switch (reader.Feed(stream.data() + at, stream.size() - at, &used)) {
        case CommandPacketReader::kPacket:
            packets.push_back(std::move(reader.Packet()));
            break;
        case CommandPacketReader::kFramingError:
            SetError(error, reader.ErrorText() + " at byte " + std::to_string(reader.ErrorOffset()));
            return false;
        case CommandPacketReader::kNeedMore:
            break;
        }
    }
    switch (reader.GetPhase()) {
    case CommandPacketReader::Phase::Header:
        SetError(error, "stream ends inside a packet header at byte " +
                            std::to_string(reader.BytesFed() - reader.HeaderBytes()));
        return false;
    case CommandPacketReader::Phase::Payload:
        SetError(error, "stream ends inside the payload of " + reader.Packet().name + "/" + reader.Packet().param);
        return false;
    default:
        return true;
    }
}

bool DecodePlaneBitmap(const std::vector<uint8_t>& payload, PlaneBitmap& plane, std::string* error)
{
    PlaneBitmapView view;
    const char* why = nullptr;
    if (_DecodePlaneBitmap(payload.data(), payload.size(), &view, &why) != kProtoOk) {
        SetError(error, why);
        return false;
    }
    plane.width = view.width;
    plane.height = view.height;
    plane.rowBytes = view.rowBytes;
    plane.xPixelsPerMetre = view.xPixelsPerMetre;
    plane.yPixelsPerMetre = view.yPixelsPerMetre;
    plane.rows.assign(view.rows, view.rows + static_cast<size_t>(view.rowBytes) * static_cast<size_t>(view.height));
    return true;
}

bool CollectSheets(const std::vector<StreamPacket>& packets, std::vector<StreamSheet>& sheets, std::string* error)
{
    StreamSheet current;
    bool seenAny = false;
    for (size_t i = 0; i < packets.size(); ++i) {
        const StreamPacket& packet = packets[i];
        if (packet.name == "CNTRL" && packet.param == "SET_SYS_TIME")
            continue;
        current.packetIndexes.push_back(i);
        seenAny = true;
        if (packet.name == "CNTRL" && packet.param == "CUTTER") {
            current.cutter = std::atoi(packet.PayloadText().c_str());
        } else if (packet.name == "IMAGE" && packet.param == "MULTICUT") {
            current.multicut = std::atoi(packet.PayloadText().c_str());
        } else if (packet.name == "IMAGE" &&
                   (packet.param == "YPLANE" || packet.param == "MPLANE" || packet.param == "CPLANE")) {
            PlaneBitmap& plane =
                packet.param == "YPLANE" ? current.yellow : (packet.param == "MPLANE" ? current.magenta : current.cyan);
            std::string why;
            if (!DecodePlaneBitmap(packet.payload, plane, &why)) {
                SetError(error, packet.param + " of sheet " + std::to_string(sheets.size() + 1) + ": " + why);
                return false;
            }
        } else if (packet.name == "CNTRL" && packet.param == "START") {
            const PlaneBitmap* planes[3] = {&current.yellow, &current.magenta, &current.cyan};
            current.complete = true;
            for (const PlaneBitmap* plane : planes) {
                if (plane->width != current.yellow.width || plane->height != current.yellow.height ||
                    plane->width == 0)
                    current.complete = false;
            }
            sheets.push_back(std::move(current));
            current = StreamSheet();
            seenAny = false;
        }
    }
    if (seenAny) {
        sheets.push_back(std::move(current));  // an unfinished sheet
    }
    return true;
}

std::string MediaNameForMulticut(int code)
{
    const PageSize* size = FindPageSize(code);
    return size != nullptr ? size->name : "";
}

int MediaWidthForMulticut(int code)
{
    if (code >= 47 && code <= 49)
        return 1266;
    if (code >= 50 && code <= 52)
        return 1408;
    return 0;
}

std::string DescribePacket(const StreamPacket& packet)
{
    std::string line = packet.name + "/" + packet.param;
    line += packet.hasPayload ? " len " + std::to_string(packet.payload.size()) : " (no payload)";
    const std::string text = packet.PayloadText();
    const int value = std::atoi(text.c_str());
    std::string meaning;
    if (packet.param == "SET_SYS_TIME" && text.size() >= 14) {
        meaning = "printer clock " + text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2) + " " +
                  text.substr(8, 2) + ":" + text.substr(10, 2) + ":" + text.substr(12, 2);
    } else if (packet.param == "CUTTER") {
        meaning = value == 120 ? "cut into 2-inch strips" : (value == 0 ? "normal cut" : "cut value " + text);
    } else if (packet.param == "OVERCOAT") {
        meaning = value == 0 ? "glossy" : value == 1 ? "matte" : value == 21 ? "fine matte" : value == 22 ? "luster"
                                                                                              : "overcoat code " + text;
        meaning = "finish " + meaning;
    } else if (packet.param == "BUFFCNTRL") {
        meaning = value == 0 ? "retry after error off" : "retry after error on";
    } else if (packet.param == "PRINTSPEED") {
        meaning = value == 20 ? "fast printing" : "normal speed";
    } else if (packet.param == "DECURL") {
        const int decurl = std::atoi(text.substr(0, 2).c_str());
        meaning = decurl == 1 ? "decurl on" : decurl == 0 ? "decurl off" : "decurl automatic";
    } else if (packet.param == "MULTICUT") {
        const std::string media = MediaNameForMulticut(value);
        meaning = "media " + (media.empty() ? "unknown" : media);
    } else if (packet.param == "YPLANE" || packet.param == "MPLANE" || packet.param == "CPLANE") {
        PlaneBitmapView plane;
        const char* why = nullptr;
        if (_DecodePlaneBitmap(packet.payload.data(), packet.payload.size(), &plane, &why) == kProtoOk) {
            const int xdpi = static_cast<int>(plane.xPixelsPerMetre * 0.0254 + 0.5);
            const int ydpi = static_cast<int>(plane.yPixelsPerMetre * 0.0254 + 0.5);
            meaning = std::to_string(plane.width) + " x " + std::to_string(plane.height) + " dots, 8-bit, " +
                      std::to_string(xdpi) + " x " + std::to_string(ydpi) + " dpi";
        } else {
            meaning = std::string("bad bitmap: ") + why;
        }
        return line + ": " + meaning;
    } else if (packet.param == "START") {
        meaning = "print the sheet";
    }
    if (packet.hasPayload && packet.param != "SET_SYS_TIME")
        line += ": " + text;
    if (!meaning.empty())
        line += " (" + meaning + ")";
    return line;
}

namespace {

// Writes the RGB rows of `sheet` with libpng; the libpng error jump lands here.
bool WritePngRows(png_structp png, png_infop info, FILE* file, const StreamSheet& sheet, int left, int width,
                  int height, bool halveRows, png_byte* row)
{
    int cuts[kMostTwoInchCuts];
    const int cutCount = sheet.cutter == kTwoInchCutValue ? TwoInchCutRows(sheet.multicut, height, cuts) : 0;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, static_cast<png_uint_32>(sheet.yellow.xPixelsPerMetre),
                 static_cast<png_uint_32>(sheet.yellow.xPixelsPerMetre), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const PlaneBitmap* planes[3] = {&sheet.cyan, &sheet.magenta, &sheet.yellow};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int px = left + x;
                row[x * 3 + c] = halveRows ? static_cast<png_byte>(
                                                 (planes[c]->At(px, 2 * y) + planes[c]->At(px, 2 * y + 1) + 1) / 2)
                                           : planes[c]->At(px, y);
            }
        }
        for (int i = 0; i < cutCount; ++i)
            DrawCutLine(row, width, 1, cuts[i] - y);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

bool WriteSheetPng(const StreamSheet& sheet, const std::string& path, std::string* error)
{
    if (!sheet.complete) {
        SetError(error, "the sheet has no complete set of planes");
        return false;
    }
    // Only the media's own width of the head is printed on: 102-mm media
    // takes the middle 1266 of the 1408 dots.
    const int mediaWidth = MediaWidthForMulticut(sheet.multicut);
    const int width = mediaWidth > 0 && mediaWidth < sheet.yellow.width ? mediaWidth : sheet.yellow.width;
    const int left = (sheet.yellow.width - width) / 2;
    // Rows at 600 dpi are brought back to square dots.
    const bool halveRows = sheet.yellow.yPixelsPerMetre > sheet.yellow.xPixelsPerMetre * 3 / 2;
    const int height = halveRows ? sheet.yellow.height / 2 : sheet.yellow.height;
    if (height <= 0) {
        SetError(error, "the sheet is empty");
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        SetError(error, "cannot create " + path);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    const bool written = png != nullptr && info != nullptr &&
                         WritePngRows(png, info, file, sheet, left, width, height, halveRows, row.data());
    png_destroy_write_struct(&png, &info);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        SetError(error, "cannot write " + path);
        return false;
    }
    return true;
}
