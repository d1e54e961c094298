// Chooses the banks' table for this process once, from the CPU.
#include "bank_table.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include "../port/cpu_x86.hpp"
#endif

namespace halvo::kernels {

bool has_x86_64_v4() {
#if defined(__x86_64__) || defined(_M_X64)
    if (!port::has_x86_64_v3()) return false;
    const auto bit = [](std::uint32_t r, int n) { return ((r >> n) & 1u) != 0; };
    const port::CpuidRegs l7 = port::cpuid(7, 0);
    const bool avx512 = bit(l7.b, 16) && bit(l7.b, 17) && bit(l7.b, 28) && bit(l7.b, 30) &&
                        bit(l7.b, 31);  // F, DQ, CD, BW, VL
    return avx512 && (port::xgetbv0() & 0xE6) == 0xE6;  // XMM, YMM, opmask and ZMM state enabled
#else
    return false;
#endif
}

template <>
const BankKernelTable& active<BankKernelTable>() {
#if defined(__x86_64__)
    static const BankKernelTable& chosen =
        has_x86_64_v4() ? bank_x86_64_v4 : (port::has_x86_64_v3() ? bank_x86_64_v3 : bank_baseline);
    return chosen;
#else
    return bank_baseline;
#endif
}

}  // namespace halvo::kernels
