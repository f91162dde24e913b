// The filter's image library: 24-bit and 8-bit bitmaps described by
// _tagBITMAPHANDLE records, bicubic resampling, separation into three 8-bit
// planes with palettes and merging back, palette colour tables (gamma,
// intensity, contrast), saturation and sharpening.
//
// Every IL_* operation returns 1 on success or one of the negative codes
// below; none prints anything. Pixel rows are stored bottom-up, each padded to
// a multiple of 4 bytes.
#pragma once

#include <cstdint>

// Result codes.
enum {
    IL_SUCCESS = 1,
    IL_ERR_MEMORY = -1,
    IL_ERR_MISSING = -2,          // missing bitmap or plane (merge, sharpen, copy)
    IL_ERR_ARGUMENT = -13,        // bad argument or unsuitable bitmap
    IL_ERR_DEPTH = -27,           // unsupported bit depth
    IL_ERR_STRUCT_SIZE = -789,    // structure size is not sizeof(_tagBITMAPHANDLE)
    IL_ERR_DEPTH_48_64 = -804,    // 48- or 64-bit depth
    IL_ERR_NULL_RECORD = -814,    // null record (intensity, gamma, contrast, saturation)
};

// Bitmap handle record. Zero-fill it before first use.
struct _tagBITMAPHANDLE {
    void* hMemory;            // block from GlobalAlloc owned by the record, or null
    unsigned char* pData;     // first byte of the stored bottom row
    int32_t width;            // pixels per row
    int32_t height;           // rows
    int32_t bitsPerPixel;     // 8 or 24
    int32_t bytesPerRow;      // ((width * bits + 31) / 32) * 4
    int32_t paletteCount;     // 256 for 8-bit bitmaps, 0 for 24-bit
    unsigned char* pPalette;  // paletteCount entries of 4 bytes (bytes 0..2 used)
    int32_t alignment;        // 4
    int32_t byteOrder;        // 24-bit: 1 = bytes read as B, G, R; 0 = R, G, B
    int64_t dataSize;         // bytesPerRow * height
    unsigned char reserved[376];
};
static_assert(sizeof(_tagBITMAPHANDLE) == 440, "the record is 440 bytes");

constexpr unsigned int kBitmapStructSize = sizeof(_tagBITMAPHANDLE);
constexpr int kBitmapKind = 2;

int IL_CreateBitmap(_tagBITMAPHANDLE* bitmap, unsigned int structSize, int kind,
                    int width, int height, int bitsPerPixel, int byteOrder,
                    unsigned char* palette, int alignment, unsigned char* data,
                    int64_t dataSize);
int IL_FreeBitmap(_tagBITMAPHANDLE* bitmap);
int IL_SizeBitmap(_tagBITMAPHANDLE* bitmap, int newWidth, int newHeight, int alignment);
int IL_ColorSeparateBitmap(_tagBITMAPHANDLE* source, _tagBITMAPHANDLE* planes[3],
                           unsigned int structSize, unsigned int flags);
int IL_ColorMergeBitmap(_tagBITMAPHANDLE* target, _tagBITMAPHANDLE* planes[3],
                        unsigned int structSize, unsigned int flags);
int IL_GammaCorrectBitmap(_tagBITMAPHANDLE* plane, unsigned int gamma);
int IL_ChangeBitmapIntensity(_tagBITMAPHANDLE* plane, int level);
int IL_ChangeBitmapContrast(_tagBITMAPHANDLE* plane, int level);
int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE* bitmap, int level);
int IL_SharpenBitmap(_tagBITMAPHANDLE* bitmap, int level);
int IL_CopyBitmapData(_tagBITMAPHANDLE* target, const _tagBITMAPHANDLE* source);

// Replaces bytes 0..2 of every palette entry v of an 8-bit bitmap by table[v].
int ConvertLUT8(_tagBITMAPHANDLE* plane, const unsigned char table[256]);

void RGBtoHSL(int r, int g, int b, double* hue, double* chroma, double* lightness);
void HSLtoRGB(double hue, double chroma, double lightness,
              unsigned char* r, unsigned char* g, unsigned char* b);

// Sharpening strength table: each row maps a sharpening level to a strength k;
// levels between two rows are interpolated linearly.
struct KTableRow {
    int level;
    double strength;
};
constexpr int kKTableRows = 21;
extern const KTableRow KTable[kKTableRows];

// Strength k of a sharpening level -1000..1000, interpolated from KTable
// (levels outside the table take the nearest end row).
double KTableStrength(int level);
