// Windows-style memory calls on malloc, free, memcpy and memset.
#include "HdxImgLib_LinuxDef.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

HGLOBAL GlobalAlloc(unsigned int /*flags*/, size_t size)
{
    return std::malloc(size);
}

void* GlobalLock(HGLOBAL handle)
{
    return handle;
}

int GlobalUnlock(HGLOBAL /*handle*/)
{
    return 0;
}

HGLOBAL GlobalFree(HGLOBAL handle)
{
    std::free(handle);
    return nullptr;
}

void CopyMemory(void* destination, const void* source, size_t length)
{
    if (length > 0)
        std::memcpy(destination, source, length);
}

void ZeroMemory(void* destination, size_t length)
{
    if (length > 0)
        std::memset(destination, 0, length);
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const int64_t quotient = static_cast<int64_t>(a) * b / c;
    if (quotient < INT_MIN || quotient > INT_MAX)
        return -1;
    return static_cast<int>(quotient);
}
