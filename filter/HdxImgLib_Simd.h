// Portable vector types for the image library's inner loops. Each lane does
// exactly the double-precision operations a scalar loop would, in the same
// order, so results are identical to scalar code; the compiler maps them to
// SSE2 or, in the AVX2 clones, to 256-bit registers (never to fused
// multiply-add: contraction is off for this library).
#pragma once

#include <cstdlib>
#include <cstring>

namespace hdx {

typedef double v4d __attribute__((vector_size(32)));
typedef int v4si __attribute__((vector_size(16)));

// Hot functions are compiled twice (AVX2 and baseline) and picked at load
// time by CPU; both give the same bytes. Sanitizer builds keep the baseline
// version only, so that the tests also cover it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define HDX_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define HDX_CLONES
#endif

inline v4d LoadU(const double* p)
{
    v4d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline v4d Splat(double x)
{
    return v4d{x, x, x, x};
}

// Scratch memory aligned for v4d, released with std::free; null when memory
// is exhausted or the size cannot be expressed.
inline double* AllocDoubles(size_t count)
{
    if (count > (static_cast<size_t>(-1) >> 4))
        return nullptr;
    const size_t bytes = ((count * sizeof(double) + 31) / 32) * 32;
    return static_cast<double*>(std::aligned_alloc(32, bytes == 0 ? 32 : bytes));
}

}  // namespace hdx
