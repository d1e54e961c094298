// The reference level: every class's per-sample step (demodulate/steps.hpp,
// modulate/steps.hpp) run one sample at a time over the block, the NaN rule
// applied to what it writes. The plain reading of each algorithm, against
// which every other level is held bit for bit; never chosen for speed.
#include "guard.hpp"
#include "../simd/canonical_nan.hpp"
#include "table.hpp"

namespace {

struct Isa {};

template <class T, class In, class Out>
void run(T& state, const In* in, Out* out, std::size_t n) {
    halvo::kernels::run_steps<float>(state, in, out, n);
    halvo::simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), n * (sizeof(Out) / sizeof(float)));
}

}  // namespace

namespace halvo::kernels {

const KernelTable reference = {
    "reference",
#define HALVO_KERNEL_ENTRY(Class, In, Out) &run<halvo::Class, In, Out>,
    HALVO_CLASSES(HALVO_KERNEL_ENTRY)
#undef HALVO_KERNEL_ENTRY
};

}  // namespace halvo::kernels
