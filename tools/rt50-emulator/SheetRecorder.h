// Writes each printed sheet to the output folder: "<serial>-sheet-NNNN.png"
// (the three planes put back together as an RGB picture) and
// "<serial>-sheet-NNNN.txt" (the settings it was printed with).
#pragma once

#include "PrinterModel.h"

#include <string>

namespace rt50emu {

// Records one sheet in `folder`. Returns an empty string, or what failed.
std::string RecordSheet(const std::string& folder, const Sheet& sheet);

// Writes an 8-bit RGB picture (rows top first, 3 bytes a pixel) as PNG.
// Returns true when the file was written completely.
bool WritePng(const std::string& path, int width, int height, const uint8_t* rgb);

// Reads an 8-bit RGB PNG written by WritePng (for tests and tools).
bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb);

}  // namespace rt50emu
