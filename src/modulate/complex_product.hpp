// The complex products the modulators share: a message times its carrier,
// eight samples at a time in vectors, every product and sum rounded as in
// the scalar (a*c - b*d, b*c + a*d).
#pragma once

#include <cstddef>

#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"

namespace halvo {

// Four complex samples (re, im interleaved) times four real amplitudes, as
// the complex product (a + 0j) * (re + j im) with every term rounded:
// (a*re - 0*im, 0*re + a*im). a holds each amplitude twice, in the lanes of
// its sample's re and im (dup_lo8, dup_hi8).
HALVO_INLINE f32x8 scale_complex4(f32x8 a, f32x8 z) {
    const f32x8 prod = a * z;                        // a*re, a*im
    const f32x8 cross = splat8(0.0f) * swap_pairs8(z);  // 0*im, 0*re
    const f32x8 diff = prod - cross;                 // real parts: a*re - 0*im
    const f32x8 sum = cross + prod;                  // imaginary parts: 0*re + a*im
    return even_odd8(diff, sum);
}

// o = x*y for m <= kGroup complex samples given as (re, im) pairs, each
// product (a*c - b*d, b*c + a*d) with every product and sum rounded; x is
// first scaled by g (both parts, rounded) when Scaled. A whole group goes
// as vectors.
template <bool Scaled>
HALVO_INLINE void put_complex_products(const Sink& sink, float* o, const float* x, const float* y, std::size_t m,
                                       float g) {
    if (m == kGroup) {
        const f32x8 x_lo = load8(x), x_hi = load8(x + 8);
        const f32x8 y_lo = load8(y), y_hi = load8(y + 8);
        f32x8 a = evens8(x_lo, x_hi), b = odds8(x_lo, x_hi);
        if constexpr (Scaled) {
            a = splat8(g) * a;
            b = splat8(g) * b;
        }
        const f32x8 c = evens8(y_lo, y_hi), d = odds8(y_lo, y_hi);
        const f32x8 re = a * c - b * d;
        const f32x8 im = b * c + a * d;
        sink.put8(o, join_lo8(re, im));
        sink.put8(o + 8, join_hi8(re, im));
        return;
    }
    for (std::size_t t = 0; t < m; ++t) {
        // (opaque: a loop of these would otherwise be vectorised with fused
        // multiply-adds)
        float a = x[2 * t], b = x[2 * t + 1];
        if constexpr (Scaled) {
            a = g * a;
            b = g * b;
        }
        a = opaque(a);
        const float c = y[2 * t], d = y[2 * t + 1];
        o[2 * t] = a * c - b * d;
        o[2 * t + 1] = b * c + a * d;
    }
}

}  // namespace halvo
