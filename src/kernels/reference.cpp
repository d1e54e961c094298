// The reference level: every class's per-sample step (demodulate/steps.hpp,
// modulate/steps.hpp) run one sample at a time over the block, the NaN rule
// applied to what it writes. The plain reading of each algorithm, against
// which every other level is held bit for bit; never chosen for speed.
#include <cstdint>
#include <type_traits>

#include "../modulate/steps.hpp"
#include "../simd/canonical_nan.hpp"
#include "table.hpp"

namespace {

struct Isa {};

template <class T, class In, class Out>
void run(T& state, const In* in, Out* out, std::size_t n) {
    std::uint32_t counter = 0;
    auto s = halvo::steps::Step<T, float>::load(state, counter);
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (std::is_same_v<In, halvo::cf32>) {
            out[i] = s.step({in[i].re, in[i].im}, counter);
        } else {
            const halvo::simd::Complex<float> y = s.step(in[i], counter);
            out[i] = {y.re, y.im};
        }
    }
    s.store(state, counter);
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
