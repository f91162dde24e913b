// The printers' icons, drawn from the package's printer artwork at build
// time (printer-icons: 48, 128 and 512 pixels, PNG).
#pragma once

#include <cstddef>

extern const unsigned char kPrinterIconSmall[];
extern const size_t kPrinterIconSmallSize;
extern const unsigned char kPrinterIconMedium[];
extern const size_t kPrinterIconMediumSize;
extern const unsigned char kPrinterIconLarge[];
extern const size_t kPrinterIconLargeSize;
