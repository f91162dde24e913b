// Pages rasterised at another size than the printer's printable page: a
// Letter page a client rasterised itself arrives as 2550 x 3300 dots for
// 4x6 media, a document CUPS rasterised for the queue's 4x6 in paper as
// 1200 x 1800. They are brought to the printable page (which is larger than
// the paper, so that a photo reaches every edge) with the image library's
// resampler before the page pipeline sees them.
#pragma once

// A bottom-up 24-bit page, rows padded to 4 bytes, from malloc.
struct PageBuffer {
    unsigned char* pixels = nullptr;
    long width = 0;
    long height = 0;
};

// Brings `page` to the printable page of pageWidth x pageHeight dots:
// unchanged when it is within 2 % of that size in both directions;
// otherwise scaled keeping its aspect ratio, either to fill the page
// (`fill`; what sticks out is cut off evenly on both sides) or to fit
// inside it (the page pipeline centres it). The old pixels are released.
// False when memory ran out (the page is then released too).
bool FitPageToMedia(PageBuffer* page, long pageWidth, long pageHeight, bool fill);

// Row stride of a 24-bit page `width` dots wide.
unsigned long PageStride(long width);
