// Chooses the banks' table for this process once, from the CPU.
#include "bank_table.hpp"

#include <cstdint>

#if (defined(__x86_64__) || defined(_M_X64)) && !(defined(_MSC_VER) && !defined(__clang__))
#include <cpuid.h>
#endif

namespace halvo::kernels {

namespace {

// Leaf 7's EBX and XCR0, read here with internal linkage (the port's inline
// readers, emitted out of line by some compilers, would be a weak symbol
// shared with dispatch.cpp's object).
[[maybe_unused]] bool avx512_state() {
#if (defined(__x86_64__) || defined(_M_X64)) && !(defined(_MSC_VER) && !defined(__clang__))
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(0, 0, a, b, c, d);
    if (a < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    const auto bit = [](unsigned r, int n) { return ((r >> n) & 1u) != 0; };
    const bool avx512 = bit(b, 16) && bit(b, 17) && bit(b, 28) && bit(b, 30) && bit(b, 31);  // F, DQ, CD, BW, VL
    if (!avx512) return false;
    std::uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 0xE6u) == 0xE6u;  // XMM, YMM, opmask and ZMM state enabled
#else
    return false;
#endif
}

}  // namespace

bool has_x86_64_v4() {
#if defined(__x86_64__)
    return &active() == &x86_64_v3 && avx512_state();  // on top of x86-64-v3
#else
    return false;
#endif
}

template <>
const BankKernelTable& active<BankKernelTable>() {
#if defined(__x86_64__)
    static const BankKernelTable& chosen =
        has_x86_64_v4() ? bank_x86_64_v4 : (&active() == &x86_64_v3 ? bank_x86_64_v3 : bank_baseline);
    return chosen;
#else
    return bank_baseline;
#endif
}

}  // namespace halvo::kernels
