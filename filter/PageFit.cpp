#include "PageFit.h"

#include "HdxImgLib.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

unsigned long PageStride(long width)
{
    return ((static_cast<unsigned long>(width) * 24 + 31) / 32) * 4;
}

namespace {

bool Near(long value, long target)
{
    return std::labs(value - target) * 50 <= target;
}

void Release(PageBuffer* page)
{
    std::free(page->pixels);
    page->pixels = nullptr;
    page->width = page->height = 0;
}

}  // namespace

bool FitPageToMedia(PageBuffer* page, long pageWidth, long pageHeight, bool fill)
{
    if (page->pixels == nullptr || page->width <= 0 || page->height <= 0 || pageWidth <= 0 || pageHeight <= 0)
        return true;
    if (Near(page->width, pageWidth) && Near(page->height, pageHeight))
        return true;

    const double sx = static_cast<double>(pageWidth) / static_cast<double>(page->width);
    const double sy = static_cast<double>(pageHeight) / static_cast<double>(page->height);
    const double scale = fill ? std::fmax(sx, sy) : std::fmin(sx, sy);
    long width = std::lround(static_cast<double>(page->width) * scale);
    long height = std::lround(static_cast<double>(page->height) * scale);
    if (width < 1)
        width = 1;
    if (height < 1)
        height = 1;

    _tagBITMAPHANDLE bitmap{};
    const int64_t size = static_cast<int64_t>(PageStride(page->width)) * page->height;
    if (IL_CreateBitmap(&bitmap, kBitmapStructSize, kBitmapKind, static_cast<int>(page->width),
                        static_cast<int>(page->height), 24, 1, nullptr, 4, page->pixels, size) != IL_SUCCESS ||
        IL_SizeBitmap(&bitmap, static_cast<int>(width), static_cast<int>(height), 4) != IL_SUCCESS) {
        IL_FreeBitmap(&bitmap);
        Release(page);
        return false;
    }

    // The page keeps at most the printable page, centred.
    const long outWidth = width < pageWidth ? width : pageWidth;
    const long outHeight = height < pageHeight ? height : pageHeight;
    const long left = (width - outWidth) / 2;
    const long bottom = (height - outHeight) / 2;
    const unsigned long outStride = PageStride(outWidth);
    unsigned char* out = static_cast<unsigned char*>(std::calloc(outStride * static_cast<unsigned long>(outHeight) + 1, 1));
    if (out == nullptr) {
        IL_FreeBitmap(&bitmap);
        Release(page);
        return false;
    }
    for (long row = 0; row < outHeight; ++row) {
        const unsigned char* from = bitmap.pData + static_cast<long>(bitmap.bytesPerRow) * (row + bottom) + left * 3;
        std::memcpy(out + outStride * static_cast<unsigned long>(row), from, static_cast<size_t>(outWidth) * 3);
    }
    IL_FreeBitmap(&bitmap);
    Release(page);
    page->pixels = out;
    page->width = outWidth;
    page->height = outHeight;
    return true;
}
