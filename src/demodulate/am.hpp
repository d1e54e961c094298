// AmEnvelopeDemod: audio from the envelope of an amplitude-modulated carrier.
//
// Per sample, one of two estimators chosen at construction:
//   exact:  power re^2 + im^2 -> low-pass pair -> square root -> DC blocker;
//   approx: 0.9482*|re| + 0.392*|im| -> low-pass pair -> DC blocker.
// State: the low-pass pair and the DC blocker; the estimator choice and the
// two weights are fixed for the object's life.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "../dsp/biquad_lowpass.hpp"
#include "../dsp/dc_blocker.hpp"
#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"

namespace halvo {

inline constexpr float kAmInPhaseWeight = 0.9482f;    // 0.94819999
inline constexpr float kAmQuadratureWeight = 0.392f;  // 0.39199999
static_assert(std::bit_cast<std::uint32_t>(kAmInPhaseWeight) == 0x3F72BD3Cu);
static_assert(std::bit_cast<std::uint32_t>(kAmQuadratureWeight) == 0x3EC8B439u);

struct AmEnvelopeDemod {
    bool abs_approx;    // estimator: false = exact (power, filter, root), true = weighted magnitudes; constructor argument
    float w_in;         // in-phase weight of the approximation; 0.9482
    float w_quad;       // quadrature weight of the approximation; 0.392
    BiquadPair lowpass; // audio low-pass pair, cut-off 0.9 * audio_bw_hz; zero state
    DcBlocker dc;       // removes the carrier level; zero state

    static AmEnvelopeDemod make(double fs, double audio_bw_hz, bool abs_approx) {
        const float f = static_cast<float>(fs);
        const float bw = static_cast<float>(audio_bw_hz);
        return {abs_approx, kAmInPhaseWeight, kAmQuadratureWeight, BiquadPair::design(f, bw),
                DcBlocker::design(f)};
    }

    // The estimator is chosen once per call; each has its own loop. In both,
    // the per-sample estimate depends on the input only: a chunk of them goes
    // into the output buffer first (this loop vectorises), then the filters
    // run over it in place.
    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        if (n == 0) return;
        // The low-pass pair runs its two sections side by side, so its
        // output for a sample comes out one step later (BiquadPairLanes):
        // each step finishes the sample before the one it takes in.
        BiquadPairLanes lp = BiquadPairLanes::load(lowpass);
        DcBlocker dcb = dc;
        const float wi = w_in;
        const float wq = w_quad;
        // The pair overshoots after an abrupt fall in power and can dip below
        // zero; its root would be NaN and stick in the DC blocker for good. A
        // NaN y is not < 0, so a NaN input still propagates.
        const auto exact = [&dcb](float y) { return dcb.step((y < 0.0f) ? 0.0f : sqrt32(y)); };
        const auto approx = [&dcb](float y) { return dcb.step(y); };
        // Operations in this order are part of the result; do not regroup.
        for_each_chunk(n, [&](std::size_t i0, std::size_t m) {
            const cf32* x = in + i0;
            float* o = out + i0;
            // Eight samples at a time as vectors (their lanes in the order
            // evens8 and odds8 give, put back by part_order8), then the rest.
            std::size_t k = 0;
            if (!abs_approx) {
                for (; k + 8 <= m; k += 8) {
                    const f32x8 lo = load8(&x[k].re), hi = load8(&x[k + 4].re);
                    const f32x8 re = evens8(lo, hi), im = odds8(lo, hi);
                    store8(o + k, part_order8(fma32x8(re, re, im * im)));  // fused: im*im rounded first
                }
                for (; k < m; ++k) o[k] = fma32(x[k].re, x[k].re, x[k].im * x[k].im);
            } else {
                for (; k + 8 <= m; k += 8) {
                    const f32x8 lo = load8(&x[k].re), hi = load8(&x[k + 4].re);
                    const f32x8 re = abs8(evens8(lo, hi)), im = abs8(odds8(lo, hi));
                    store8(o + k, part_order8(fma32x8(splat8(wi), re, splat8(wq) * im)));  // fused: wq*|im| rounded first
                }
                for (; k < m; ++k) o[k] = fma32(wi, abs32(x[k].re), wq * abs32(x[k].im));
            }
            // Each step finishes sample i - 1 (for the chunk's first, the
            // previous chunk's last).
            std::size_t i = i0;
            if (i == 0) lp.first(out[i++]);
            if (!abs_approx) {
                for (; i < i0 + m; ++i) out[i - 1] = exact(lp.next(out[i]));
            } else {
                for (; i < i0 + m; ++i) out[i - 1] = approx(lp.next(out[i]));
            }
        });
        out[n - 1] = abs_approx ? approx(lp.last()) : exact(lp.last());
        lp.store(lowpass);
        dc = dcb;
    }
};

}  // namespace halvo
