// Text field helpers of the printer command protocol: fixed-width fields of
// command and reply packets are not NUL-terminated, these turn them into C
// strings and numbers.
#pragma once

// Converts the first `count` characters of `text` (not NUL-terminated) as a
// base-10 number the way strtol does: leading blanks skipped, conversion stops
// at the first non-digit, no digits give 0. Returns -1 for a count outside
// 0..511 or a null text, without reading the text.
int _TextToInt(const char* text, int count);

// Copies exactly `count` bytes from `src` to `dst` and terminates them, so a
// fixed-width field becomes a C string; `dst` must hold count + 1 bytes.
// Always returns 0; nothing is written for a null pointer or negative count.
int _CutText(char* dst, const char* src, int count);
