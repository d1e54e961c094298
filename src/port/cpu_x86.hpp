// Which x86-64 instruction-set level this CPU and the operating system
// support, read from CPUID and XGETBV directly. (__builtin_cpu_supports
// spells the levels differently per compiler and version, and pulls in the
// compiler's runtime library, whose math functions then replace the C
// library's; MSVC has no such builtin at all.)
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace halvo::port {

struct CpuidRegs {
    std::uint32_t a, b, c, d;
};

inline CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
#if defined(_MSC_VER) && !defined(__clang__)
    int r[4];
    __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
    return {static_cast<std::uint32_t>(r[0]), static_cast<std::uint32_t>(r[1]), static_cast<std::uint32_t>(r[2]),
            static_cast<std::uint32_t>(r[3])};
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    return {a, b, c, d};
#endif
}

// The register state the operating system saves on a context switch (XCR0).
inline std::uint64_t xgetbv0() {
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    std::uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<std::uint64_t>(hi) << 32) | lo;
#endif
}

// x86-64-v3: AVX, AVX2, BMI1, BMI2, F16C, FMA, LZCNT, MOVBE, and the OS
// saving the YMM registers; v2 (SSE3 ... SSE4.2, POPCNT, CX16, LAHF) below it.
inline bool has_x86_64_v3() {
    const auto bit = [](std::uint32_t r, int n) { return ((r >> n) & 1u) != 0; };
    if (cpuid(0, 0).a < 7) return false;
    const CpuidRegs l1 = cpuid(1, 0);
    const bool v2 = bit(l1.c, 0) && bit(l1.c, 9) && bit(l1.c, 13) && bit(l1.c, 19) && bit(l1.c, 20) &&
                    bit(l1.c, 23);  // SSE3, SSSE3, CX16, SSE4.1, SSE4.2, POPCNT
    const bool osxsave = bit(l1.c, 27), avx = bit(l1.c, 28);
    const bool fma = bit(l1.c, 12), movbe = bit(l1.c, 22), f16c = bit(l1.c, 29);
    if (!(v2 && osxsave && avx && fma && movbe && f16c)) return false;
    if ((xgetbv0() & 0x6) != 0x6) return false;  // XMM and YMM state enabled
    const CpuidRegs l7 = cpuid(7, 0);
    const bool bmi1 = bit(l7.b, 3), avx2 = bit(l7.b, 5), bmi2 = bit(l7.b, 8);
    if (cpuid(0x80000000u, 0).a < 0x80000001u) return false;
    const CpuidRegs e1 = cpuid(0x80000001u, 0);
    const bool lahf = bit(e1.c, 0), lzcnt = bit(e1.c, 5);
    return bmi1 && avx2 && bmi2 && lahf && lzcnt;
}

}  // namespace halvo::port
