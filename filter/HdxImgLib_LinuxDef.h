// Windows-style memory calls used by the image library, implemented on the
// standard allocation and copy functions. A memory handle is the block
// pointer itself; locking returns it unchanged.
#pragma once

#include <cstddef>

typedef void* HGLOBAL;

// Allocation flags are accepted for compatibility and ignored.
constexpr unsigned int GMEM_FIXED = 0x0000;
constexpr unsigned int GMEM_MOVEABLE = 0x0002;
constexpr unsigned int GMEM_ZEROINIT = 0x0040;
constexpr unsigned int GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// malloc(size); null when memory is exhausted.
HGLOBAL GlobalAlloc(unsigned int flags, size_t size);
// The data pointer of a block: the handle itself.
void* GlobalLock(HGLOBAL handle);
// Nothing to undo; returns 0 like an unlock of a block no longer locked.
int GlobalUnlock(HGLOBAL handle);
// free(handle); returns null (success).
HGLOBAL GlobalFree(HGLOBAL handle);
void CopyMemory(void* destination, const void* source, size_t length);
void ZeroMemory(void* destination, size_t length);
// a * b / c with a 64-bit product, truncated; -1 when c is 0 or the quotient
// does not fit an int.
int MulDiv(int a, int b, int c);
