// Helpers shared by the image library's source files (not part of its
// interface).
#pragma once

#include <cstddef>
#include <cstdint>

#include "HdxImgLib.h"

namespace hdx {

// Bytes per row of a bitmap `width` pixels wide at `bits` bits per pixel,
// rows padded to 4 bytes; -1 when the width is not positive or the stride does
// not fit the record's 32-bit field.
int64_t RowStride(int64_t width, int64_t bits);

// Whether a record describes a usable pixel block: pixels present, positive
// width and height, the row stride of its width and depth, and a data size
// that covers every row.
bool HasSoundLayout(const _tagBITMAPHANDLE* bitmap);

// a * b as a block size; false when the product does not fit a size_t.
bool MulSize(size_t a, size_t b, size_t* product);

// Allocates an owned block and returns its data pointer (null when memory is
// exhausted); *handle receives the handle to store in the record.
unsigned char* AllocBlock(size_t size, void** handle);

// Releases a block the record owns, if any (the pointers are left alone).
void FreeOwnedBlock(_tagBITMAPHANDLE* bitmap);

}  // namespace hdx
