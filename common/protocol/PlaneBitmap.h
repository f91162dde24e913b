// The plane bitmap file: the payload of the YPLANE, MPLANE and CPLANE packets.
//
// An 8-bit Windows bitmap file, all numbers little-endian: the 14-byte file
// header ("BM", file size, 0, pixel data offset 1088), the 40-byte info
// header (width, positive height: rows bottom-up, 1 plane, 8 bits, no
// compression, image size, pixels per metre across and down, 256 colours
// used and important), a grey palette of 256 entries (i, i, i, 0), 10 zero
// bytes, then the rows, each padded to a multiple of 4 bytes.
#pragma once

#include "ProtocolResult.h"

#include <cstddef>
#include <cstdint>

enum {
    kPlaneFileHeaderSize = 1088,  // everything before the first row
    kPlaneInfoHeaderSize = 40,
    kPlanePaletteOffset = 54,
    kPlanePaletteEntries = 256,
    kPlaneMaxWidth = 8192,        // dots; the RT-50's head has 1408
    kPlaneMaxHeight = 20000,      // rows; the longest media at 600 dpi has under 5000
    kPlaneMaxDpi = 25400,         // a million pixels per metre
};

// Bytes of one stored row of a plane `width` dots wide: padded to 4.
int64_t _PlaneRowBytes(int64_t width);

// Bytes of the whole file of a width x height plane: header and rows.
int64_t _PlaneFileSize(int64_t width, int64_t height);

// Writes the kPlaneFileHeaderSize header bytes of a width x height plane
// into `file`; pixels per metre are trunc(dpi * 1000 / 25.4), 11811 at 300
// dpi and 23622 at 600. The caller puts the rows after it. Returns 0, or 3
// (nothing written) for a size outside 1..kPlaneMaxWidth x 1..kPlaneMaxHeight
// or a resolution outside 1..kPlaneMaxDpi.
int _EncodePlaneHeader(unsigned char* file, int width, int height, int64_t xDpi, int64_t yDpi);

// A checked plane bitmap file; `rows` points into the file that was decoded.
struct PlaneBitmapView {
    int width = 0;
    int height = 0;
    int rowBytes = 0;           // width padded to 4
    int xPixelsPerMetre = 0;
    int yPixelsPerMetre = 0;
    const unsigned char* rows = nullptr;  // height rows of rowBytes, bottom row first
};

// Checks every field of the `size` bytes at `file` against the layout above
// and against `size` itself, reading nothing outside them, and fills `plane`.
// Returns 0, or 3 with a short reason in *reason (a static text; may be null)
// and `plane` left untouched.
int _DecodePlaneBitmap(const unsigned char* file, size_t size, PlaneBitmapView* plane, const char** reason);
