// Chooses the kernel table for this process once, from the CPU.
#include "table.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include "../port/cpu_x86.hpp"
#endif

namespace halvo::kernels {

const KernelTable& active() {
#if defined(__x86_64__) || defined(_M_X64)
    // Decided once; a static local is initialised thread-safely.
    static const KernelTable& chosen = port::has_x86_64_v3() ? x86_64_v3 : baseline;
    return chosen;
#else
    return baseline;
#endif
}

template <>
const KernelTable& active<KernelTable>() {
    return active();
}

template <>
const RadioKernelTable& active<RadioKernelTable>() {
#if defined(__x86_64__) || defined(_M_X64)
    static const RadioKernelTable& chosen = &active() == &x86_64_v3 ? radio_x86_64_v3 : radio_baseline;
    return chosen;
#else
    return radio_baseline;
#endif
}

}  // namespace halvo::kernels
