// Field helpers of the printer command protocol: fixed-width text fields of
// command and reply packets are not NUL-terminated, and the plane bitmap
// files carry little-endian numbers.
#pragma once

#include <cstdint>

// Converts the first `count` characters of `text` (not NUL-terminated) as a
// base-10 number the way strtol does: leading blanks skipped, conversion stops
// at the first non-digit, no digits give 0. Returns -1 for a count outside
// 0..511 or a null text, without reading the text.
int _TextToInt(const char* text, int count);

// Copies exactly `count` bytes from `src` to `dst` and terminates them, so a
// fixed-width field becomes a C string; `dst` must hold count + 1 bytes.
// Always returns 0; nothing is written for a null pointer or negative count.
int _CutText(char* dst, const char* src, int count);

// Store the low 16 or 32 bits of value at p, least significant byte first.
void _StoreLE2(unsigned char* p, int value);
void _StoreLE4(unsigned char* p, int value);

// The 16- or 32-bit unsigned number stored at p, least significant byte first.
uint16_t _LoadLE2(const unsigned char* p);
uint32_t _LoadLE4(const unsigned char* p);
