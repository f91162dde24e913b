// Where the printer's cutter divides a sheet when CNTRL/CUTTER asks for the
// 2-inch cut (value 120), and the dashed line the previews draw there.
#pragma once

#include <cstdint>

// The CUTTER value that asks for 2-inch strips.
constexpr int kTwoInchCutValue = 120;

// Most cuts a sheet gets: the 8-inch pages are cut into four strips.
constexpr int kMostTwoInchCuts = 3;

// Whether a page size (MULTICUT code) takes the 2-inch cut: its length
// along the paper is a whole number of 2-inch strips (4, 6 and 8 inches;
// not the 4.5x4.5in page). Matches the filter's media table, which sends
// CUTTER 0 for the other sizes.
bool SizeTakesTwoInchCut(int multicut);

// The rows, counted from the sheet's first printed row, where the 2-inch
// cut falls on a sheet of MULTICUT code `multicut` whose picture is `rows`
// rows long (any resolution). Writes at most kMostTwoInchCuts rows to
// `cutRows` and returns how many: 0 when the size takes no 2-inch cut, the
// code is unknown or `rows` is not positive.
int TwoInchCutRows(int multicut, int rows, int cutRows[kMostTwoInchCuts]);

// Draws the cut line across an 8-bit RGB picture (rows top first, 3 bytes a
// pixel): dashes of black and white, three rows thick around `row`, so the
// line shows on light and dark photos alike. Rows outside the picture are
// left alone.
void DrawCutLine(uint8_t* rgb, int width, int height, int row);
