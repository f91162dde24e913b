// Literal, unoptimised versions of the image library's hot operations,
// written straight from their definitions. The reference tests check the
// library against them byte for byte.
#pragma once

#include <vector>

#include "HdxImgLib.h"

namespace reference {

// Resamples a 24-bit bitmap to newWidth x newHeight; returns the new pixel
// block (rows padded to 4 bytes, padding zero).
std::vector<unsigned char> SizeBitmap(const _tagBITMAPHANDLE& bitmap, int newWidth, int newHeight);

// Sharpens a 24-bit bitmap in place.
void SharpenBitmap(_tagBITMAPHANDLE& bitmap, int level);

// Changes the saturation of a 24-bit bitmap in place.
void ChangeBitmapSaturation(_tagBITMAPHANDLE& bitmap, int level);

void RGBtoHSL(int r, int g, int b, double* hue, double* chroma, double* lightness);
void HSLtoRGB(double hue, double chroma, double lightness, unsigned char* r, unsigned char* g,
              unsigned char* b);

}  // namespace reference
