// The RT-50's six media sizes as IPP media names and as the filter's page
// size names.
#pragma once

#include <pappl/pappl.h>

struct MediaSize {
    const char* pwgName;   // IPP "media" keyword
    const char* pageSize;  // the filter's "PageSize" (PPD) name
    int width;             // hundredths of millimetres
    int length;
};

constexpr int kMediaSizeCount = 6;
extern const MediaSize kMediaSizes[kMediaSizeCount];

// Index of the size with this IPP name or this PPD page size name; -1 when
// none has it.
int MediaIndexForName(const char* name);
int MediaIndexForPageSize(const char* pageSize);

// Index of the size within 2 mm of `width` x `length` (hundredths of mm, in
// either orientation); -1 when none is.
int MediaIndexForDimensions(int width, int length);

// Index of the default size (4x6).
constexpr int kDefaultMediaIndex = 1;

// Margins of the white border, 66 x 54 dots at 300 dpi, in hundredths of mm.
constexpr int kBorderLeftRight = 559;
constexpr int kBorderBottomTop = 457;

// The margins the printer advertises besides none: a hairline, 0.01 mm,
// that no dot shows. CUPS 2.4 makes a driverless queue's default page size
// the size's one with margins (without margins it is only a ".Borderless"
// twin), and renders documents into its printable area: with a hairline
// they print borderless by default. A white border is the photo-border
// setting, or margins of at least kBorderMarginFloor.
constexpr int kHairlineMargin = 1;
constexpr int kBorderMarginFloor = 100;

// The media collection of a size on the printer's glossy roll: without
// margins when borderless, else with the white border's.
pappl_media_col_t MediaCol(int index, bool borderless);
