#include "base/VectorState.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TRAZBIT_VZEROUPPER 1
#elif defined(_M_X64)
#include <immintrin.h>
#include <intrin.h>
#define TRAZBIT_VZEROUPPER 2
#endif

namespace {

#if TRAZBIT_VZEROUPPER == 1
bool HasWideVectors() noexcept
{
    // (The instruction exists only where the processor has the wide registers.)
    static const bool has = __builtin_cpu_supports("avx");
    return has;
}

[[gnu::target("avx")]] void ZeroUpper() noexcept
{
    __asm__ volatile("vzeroupper" ::: "memory");
}
#elif TRAZBIT_VZEROUPPER == 2
bool HasWideVectors() noexcept
{
    static const bool has = [] {
        int info[4] = {};
        __cpuid(info, 1);
        // AVX, and the system saving the registers' upper halves (OSXSAVE, XCR0 bits 1 and 2).
        return (info[2] & (1 << 28)) && (info[2] & (1 << 27)) && (_xgetbv(0) & 6) == 6;
    }();
    return has;
}

void ZeroUpper() noexcept
{
    _mm256_zeroupper();
}
#endif

} // namespace

void ClearUpperVectorHalves() noexcept
{
#ifdef TRAZBIT_VZEROUPPER
    if (HasWideVectors())
        ZeroUpper();
#endif
}
