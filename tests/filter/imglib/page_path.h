// The filter's page path built from the image library, for tests and
// benchmarks: border resampling in strips, separation, palette tables,
// merge, sharpening, saturation and the final copy.
#pragma once

#include <cstring>

#include "HdxImgLib.h"

namespace imgtest {

struct PagePathSettings {
    bool border = true;
    float scale = 0.8957346f;  // 4x6 page at 300 dpi with its margins
    int sharpness = 750;
    bool colourAdjustment = true;
    int gamma[3] = {120, 100, 90};
    int brightness[3] = {50, 0, -30};
    int contrast[3] = {100, 0, 200};
    int chroma = 200;
};

// The pixel-heavy operations of the path, replaceable so that benchmarks can
// run the same path with the literal reference versions.
struct PageOperations {
    int (*sizeBitmap)(_tagBITMAPHANDLE*, int, int, int) = IL_SizeBitmap;
    int (*sharpen)(_tagBITMAPHANDLE*, int) = IL_SharpenBitmap;
    int (*saturation)(_tagBITMAPHANDLE*, int) = IL_ChangeBitmapSaturation;
};

// Runs a 24-bit page (byte order 1, caller-owned pixels) through the page
// path; `out` receives a newly allocated page image. Returns 1 on success.
inline int RunPagePath(_tagBITMAPHANDLE* page, const PagePathSettings& s, _tagBITMAPHANDLE* out,
                       const PageOperations& ops = PageOperations())
{
    _tagBITMAPHANDLE current = *page;
    _tagBITMAPHANDLE shrunk{};
    if (s.border) {
        const int w = current.width;
        const int h = current.height;
        const int w2 = static_cast<int>(w * s.scale);
        const int h2 = static_cast<int>(h * s.scale);
        const int64_t stride2 = ((w2 * 24 + 31) / 32) * 4;
        unsigned char* white = new unsigned char[stride2 * h2];
        std::memset(white, 255, stride2 * h2);
        IL_CreateBitmap(&shrunk, 440, 2, w2, h2, 24, 1, nullptr, 4, white, stride2 * h2);
        int filled = 0;
        for (int first = 0; first < h; first += 1000) {
            const int u = h - first < 1000 ? h - first : 1000;
            unsigned char* strip = new unsigned char[static_cast<size_t>(current.bytesPerRow) * u];
            std::memcpy(strip, current.pData + static_cast<int64_t>(first) * current.bytesPerRow,
                        static_cast<size_t>(current.bytesPerRow) * u);
            _tagBITMAPHANDLE part{};
            IL_CreateBitmap(&part, 440, 2, w, u, 24, 1, nullptr, 4, strip,
                            static_cast<int64_t>(current.bytesPerRow) * u);
            const int rows = static_cast<int>(u * s.scale);
            if (ops.sizeBitmap(&part, w2, rows, 4) == IL_SUCCESS) {
                for (int r = 0; r < rows && filled < h2; ++r, ++filled)
                    std::memcpy(white + filled * stride2, part.pData + r * part.bytesPerRow, 3 * w2);
            }
            IL_FreeBitmap(&part);
            delete[] strip;
        }
        current = shrunk;
    }

    _tagBITMAPHANDLE planes[3] = {};
    _tagBITMAPHANDLE* list[3] = {&planes[0], &planes[1], &planes[2]};
    _tagBITMAPHANDLE merged{};
    int result = IL_ColorSeparateBitmap(&current, list, 440, 0);
    if (s.border) {
        delete[] shrunk.pData;
        IL_FreeBitmap(&shrunk);
    }
    if (result != IL_SUCCESS)
        return result;
    for (int k = 0; k < 3; ++k)
        IL_GammaCorrectBitmap(list[k], s.colourAdjustment ? s.gamma[k] : 100);
    for (int k = 0; k < 3; ++k)
        IL_ChangeBitmapIntensity(list[k], s.colourAdjustment ? s.brightness[k] : 0);
    for (int k = 0; k < 3; ++k)
        IL_ChangeBitmapContrast(list[k], s.colourAdjustment ? s.contrast[k] : 0);
    result = IL_ColorMergeBitmap(&merged, list, 440, 0);
    for (auto& p : planes)
        IL_FreeBitmap(&p);
    if (result != IL_SUCCESS)
        return result;
    ops.sharpen(&merged, s.sharpness);
    ops.saturation(&merged, s.colourAdjustment ? s.chroma : 0);

    // The final copy: separate, release, merge into the new record.
    result = IL_ColorSeparateBitmap(&merged, list, 440, 0);
    IL_FreeBitmap(&merged);
    if (result != IL_SUCCESS)
        return result;
    *out = _tagBITMAPHANDLE{};
    result = IL_ColorMergeBitmap(out, list, 440, 0);
    for (auto& p : planes)
        IL_FreeBitmap(&p);
    return result;
}

}  // namespace imgtest
