#include "SheetCuts.h"

#include <cstddef>
#include <cstring>

namespace {

struct SizeLength {
    int multicut;
    int hundredthsOfInch;   // the page's length along the paper
};

constexpr SizeLength kLengths[] = {
    {47, 400}, {48, 600}, {49, 800}, {50, 450}, {51, 600}, {52, 800},
};

// A page's picture is 0.12 in longer than its nominal length (1836 rows for
// a 6-inch page at 300 dpi), the bleed the printer trims half at each end.
constexpr int kBleedHundredths = 12;
constexpr int kStripHundredths = 200;
constexpr int kDashDots = 12;

int LengthOf(int multicut)
{
    for (const SizeLength& size : kLengths) {
        if (size.multicut == multicut)
            return size.hundredthsOfInch;
    }
    return 0;
}

}  // namespace

bool SizeTakesTwoInchCut(int multicut)
{
    const int length = LengthOf(multicut);
    return length > 0 && length % kStripHundredths == 0;
}

int TwoInchCutRows(int multicut, int rows, int cutRows[kMostTwoInchCuts])
{
    if (!SizeTakesTwoInchCut(multicut) || rows <= 0)
        return 0;
    // The cutter cuts across the paper every 2 inches of the page, measured
    // from the page's edge after the leading half of the bleed: a 6-inch
    // page at 300 dpi (1836 rows) is cut at rows 618 and 1218 into three
    // 4x2in (or 4.5x2in) strips; a 4-inch page once, at its middle.
    const int length = LengthOf(multicut);
    const int64_t span = length + kBleedHundredths;
    int count = 0;
    for (int at = kStripHundredths; at < length && count < kMostTwoInchCuts; at += kStripHundredths) {
        const int64_t from = kBleedHundredths / 2 + at;
        cutRows[count++] = static_cast<int>((static_cast<int64_t>(rows) * from + span / 2) / span);
    }
    return count;
}

void DrawCutLine(uint8_t* rgb, int width, int height, int row)
{
    for (int y = row - 1; y <= row + 1; ++y) {
        if (y < 0 || y >= height)
            continue;
        uint8_t* line = rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
        for (int x = 0; x < width; ++x)
            std::memset(line + static_cast<size_t>(x) * 3, (x / kDashDots) % 2 == 0 ? 0 : 255, 3);
    }
}
