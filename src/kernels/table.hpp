// The per-class sample loops, one table per instruction-set level.
//
// Every level runs the same operations in the same order and gives the same
// bits; a level only changes how fast they run. The table for this process
// is chosen once from the CPU (active()); tests call each level by name.
#pragma once

#include <cstddef>

#include "../demodulate/am.hpp"
#include "../demodulate/cw.hpp"
#include "../demodulate/fm.hpp"
#include "../demodulate/pm.hpp"
#include "../demodulate/ssb.hpp"
#include "../modulate/am.hpp"
#include "../modulate/cw.hpp"
#include "../modulate/fm.hpp"
#include "../modulate/pm.hpp"
#include "../modulate/ssb.hpp"

// X(Class, input sample type, output sample type), in registration order.
#define HALVO_CLASSES(X)                       \
    X(CwEnvelopeDemod, cf32, float)            \
    X(AmEnvelopeDemod, cf32, float)            \
    X(SsbProductDemod, cf32, float)            \
    X(FmQuadratureDemod, cf32, float)          \
    X(PmQuadratureDemod, cf32, float)          \
    X(AmDsbMod, float, cf32)                   \
    X(CwKeyedMod, float, cf32)                 \
    X(FmPhaseAccumMod, float, cf32)            \
    X(PmDirectPhaseMod, float, cf32)           \
    X(SsbPhasingMod, float, cf32)

namespace halvo::kernels {

struct KernelTable {
    const char* level;  // "x86-64", "x86-64-v3", or "generic"
#define HALVO_KERNEL_SLOT(Class, In, Out) void (*Class)(halvo::Class&, const In*, Out*, std::size_t);
    HALVO_CLASSES(HALVO_KERNEL_SLOT)
#undef HALVO_KERNEL_SLOT
};

// The scalar reference, always built.
extern const KernelTable baseline;

#if defined(__x86_64__)
// The same loops for x86-64-v3 (AVX2 + FMA); used when the CPU has it.
extern const KernelTable x86_64_v3;
#endif

// The fastest level this CPU runs; chosen on first use.
const KernelTable& active();

}  // namespace halvo::kernels
