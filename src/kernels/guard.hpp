// The per-sample step loop, and the subnormal guard every level's loop runs
// through.
//
// run_steps<V>(obj, in, out, n) runs class T's per-sample step over a block
// with lane type V: float is the reference level; simd::Guarded is the same
// arithmetic with no subnormal operand ever reaching the floating-point unit
// (see simd/guarded.hpp).
//
// process_guarded<Isa>(obj, in, out, n) cuts a block into chunks of
// kGuardChunk samples. A chunk whose starting state holds a subnormal value
// runs the guarded step loop; every other chunk runs the class's own loop
// for the level. Both give the same bits and
// any split of a stream gives the same bits, so the output is that of one
// call of the class's loop; only the time differs. A state that turns
// subnormal mid-chunk costs at most the rest of that chunk's slow
// operations; a state held in a subnormal limit cycle (silence after a
// signal, a steady carrier) then runs guarded. The test is subnormal, not
// merely small: a tiny normal state (a DC blocker's slow decay) costs the
// class's own loop nothing extra, and the guarded loop is several times
// slower than that loop on normal numbers.
//
// Everything here is forced inline or instantiated on the level's own tag:
// each level's loop gets its own copy, never an out-of-line one shared
// between levels.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "../modulate/steps.hpp"
#include "../simd/guarded.hpp"

namespace halvo::kernels {

inline constexpr std::size_t kGuardChunk = 1024;

template <class V, class T, class In, class Out>
[[gnu::always_inline]] inline void run_steps(T& state, const In* in, Out* out, std::size_t n) {
    std::uint32_t counter = 0;
    auto s = steps::Step<T, V>::load(state, counter);
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (std::is_same_v<In, cf32>) {
            out[i] = static_cast<float>(s.step({in[i].re, in[i].im}, counter));
        } else {
            const simd::Complex<V> y = s.step(in[i], counter);
            out[i] = {static_cast<float>(y.re), static_cast<float>(y.im)};
        }
    }
    s.store(state, counter);
}

// The guarded loop out of line, kept apart from the class's own loop (the
// rare path should not shape the hot one's registers). Isa is the level's
// tag, of internal linkage, so each level has its own copy.
template <class Isa, class T, class In, class Out>
[[gnu::noinline]] void run_guarded_steps(T& state, const In* in, Out* out, std::size_t n) {
    run_steps<simd::Guarded>(state, in, out, n);
}

// Whether any value of the object's step state (coefficients included: a
// step state is floats only) is subnormal.
template <class T>
[[gnu::always_inline]] inline bool near_subnormal(const T& state) {
    using S = steps::Step<T, float>;
    static_assert(std::is_trivially_copyable_v<S> && sizeof(S) % sizeof(float) == 0);
    std::uint32_t counter = 0;
    const S s = S::load(state, counter);
    float v[sizeof(S) / sizeof(float)];
    std::memcpy(v, &s, sizeof s);
    bool near = false;
    for (const float x : v) near |= (x != 0.0f) & (abs32(x) < 0x1p-126f);
    return near;
}

template <class Isa, class T, class In, class Out>
[[gnu::always_inline]] inline void process_guarded(T& state, const In* in, Out* out, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        const std::size_t c = std::min(kGuardChunk, n - i);
        if (near_subnormal(state)) {
            run_guarded_steps<Isa>(state, in + i, out + i, c);
        } else {
            state.template process<Isa>(in + i, out + i, c);
        }
        i += c;
    }
}

}  // namespace halvo::kernels
