// Chooses the kernel table for this process once, from the CPU.
#include "table.hpp"

namespace halvo::kernels {

const KernelTable& active() {
#if defined(__x86_64__)
    // Decided once; a static local is initialised thread-safely.
    static const KernelTable& chosen = __builtin_cpu_supports("x86-64-v3") ? x86_64_v3 : baseline;
    return chosen;
#else
    return baseline;
#endif
}

}  // namespace halvo::kernels
