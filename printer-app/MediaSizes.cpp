#include "MediaSizes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const MediaSize kMediaSizes[kMediaSizeCount] = {
    {"oe_photo-4x4_4x4in", "102x102mm", 10160, 10160},
    {"na_index-4x6_4x6in", "102x153mm", 10160, 15240},
    {"oe_photo-4x8_4x8in", "102x204mm", 10160, 20320},
    {"oe_photo-115x115mm_4.5x4.5in", "115x115mm", 11430, 11430},
    {"oe_photo-115x153mm_4.5x6in", "115x153mm", 11430, 15240},
    {"oe_photo-115x204mm_4.5x8in", "115x204mm", 11430, 20320},
};

int MediaIndexForName(const char* name)
{
    if (name == nullptr)
        return -1;
    for (int i = 0; i < kMediaSizeCount; ++i) {
        if (std::strcmp(kMediaSizes[i].pwgName, name) == 0)
            return i;
    }
    return -1;
}

int MediaIndexForPageSize(const char* pageSize)
{
    if (pageSize == nullptr)
        return -1;
    for (int i = 0; i < kMediaSizeCount; ++i) {
        if (std::strcmp(kMediaSizes[i].pageSize, pageSize) == 0)
            return i;
    }
    return -1;
}

int MediaIndexForDimensions(int width, int length)
{
    const int tolerance = 200;
    for (int i = 0; i < kMediaSizeCount; ++i) {
        const MediaSize& size = kMediaSizes[i];
        if ((std::abs(size.width - width) <= tolerance && std::abs(size.length - length) <= tolerance) ||
            (std::abs(size.width - length) <= tolerance && std::abs(size.length - width) <= tolerance))
            return i;
    }
    return -1;
}

pappl_media_col_t MediaCol(int index, bool borderless)
{
    pappl_media_col_t col;
    std::memset(&col, 0, sizeof col);
    const MediaSize& size = kMediaSizes[index];
    std::snprintf(col.size_name, sizeof col.size_name, "%s", size.pwgName);
    col.size_width = size.width;
    col.size_length = size.length;
    if (!borderless) {
        col.left_margin = col.right_margin = kBorderLeftRight;
        col.top_margin = col.bottom_margin = kBorderBottomTop;
    }
    std::snprintf(col.source, sizeof col.source, "main");
    std::snprintf(col.type, sizeof col.type, "photographic-glossy");
    return col;
}
