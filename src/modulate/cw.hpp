// CwKeyedMod: on-off keyed complex tone with exponential rise and fall.
//
// Per sample: the keying value, limited to [0, 1], drives a one-pole envelope
// e = (1 - a)*k + a*e whose pole a is the rise coefficient while k >= e and
// the fall coefficient otherwise; the output is gain*e times the tone phasor.
// State: the tone oscillator, the envelope, the two poles and the gain.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"
#include "complex_product.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct CwKeyedMod {
    PhasorOscillator tone;  // tone at tone_hz; phasor 1+0j, counter 0
    float envelope;         // tone amplitude before the gain; 0.0
    float rise;             // envelope pole while rising, exp(-1/L(rise_ms))
    float fall;             // envelope pole while falling, exp(-1/L(fall_ms))
    float gain;             // output factor, applied after the envelope; 1.0

    // exp(-1 / time constant in samples); time constants below 0.1 ms, and
    // NaN, are raised to 0.1 ms.
    static float pole(float t_ms, float fs) {
        static_assert(std::bit_cast<std::uint32_t>(0.1f) == 0x3DCCCCCDu);
        static_assert(std::bit_cast<std::uint32_t>(0.001f) == 0x3A83126Fu);
        const float t = (t_ms > 0.1f) ? t_ms : 0.1f;  // false for NaN: 0.1
        const float samples = (t * 0.001f) * fs;
        return std::exp(-1.0f / samples);
    }

    static CwKeyedMod make(double sample_rate, double tone_hz, double rise_ms, double fall_ms) {
        const float fs = static_cast<float>(sample_rate);
        const float f = static_cast<float>(tone_hz);
        const float rise_t = static_cast<float>(rise_ms);
        const float fall_t = static_cast<float>(fall_ms);
        return {PhasorOscillator::design(f, fs), 0.0f, pole(rise_t, fs), pole(fall_t, fs), 1.0f};
    }

    void set_gain(double g) { gain = static_cast<float>(g); }

    // Operations in this order are part of the result; do not regroup.
    // Only the envelope and the tone are recurrences. The limited keying
    // value and its two feed-forward products (1 - a)*k are computed ahead
    // from the input, and the output products after the recurrence, as
    // vectors; the recurrence keeps just the tone rotation and the envelope
    // step.
    //
    // With equal rise and fall poles (the usual keyer setting) both
    // candidate envelopes are the same expression on the same values, so
    // the pole choice cannot change a bit: that case runs a loop without it.
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        if (std::bit_cast<std::uint32_t>(rise) == std::bit_cast<std::uint32_t>(fall)) {
            run<true>(in, out, n);
        } else {
            run<false>(in, out, n);
        }
    }

private:
    template <bool kOnePole>
    HALVO_INLINE void run(const float* in, cf32* out, std::size_t n) {
        const float a_rise = rise, a_fall = fall;
        const float b_rise = 1.0f - rise, b_fall = 1.0f - fall;  // rounded once per call
        const float g = gain;
        PhasorOscillator osc = tone;
        f32x4 e = lanes1(envelope);  // lane 0; lanes 1-3 stay 0
        alignas(32) float keyed[kRing];  // k, the input limited to [0, 1]
        alignas(32) float up[kRing];     // (1 - a_rise)*k
        alignas(32) float down[kRing];   // (1 - a_fall)*k
        alignas(32) float env[kRing];    // the envelope after each sample
        alignas(32) float phasors[2 * kRing];  // the tone of each sample, (re, im)
        const Sink sink = Sink::for_output(out, n * sizeof(cf32));
        run_staged(
            n,
            [&](std::size_t i, std::size_t r, std::size_t c) HALVO_STAGE {
                if (c == kGroup) {
                    const f32x8 k = clamp8(load8(in + i), 0.0f, 1.0f);  // NaN passes
                    store8(up + r, splat8(b_rise) * k);
                    if constexpr (!kOnePole) {
                        store8(keyed + r, k);
                        store8(down + r, splat8(b_fall) * k);
                    }
                    return;
                }
                for (std::size_t t = 0; t < c; ++t) {
                    const float k = at_most(at_least(in[i + t], 0.0f), 1.0f);  // NaN passes both
                    keyed[r + t] = k;
                    up[r + t] = b_rise * k;
                    down[r + t] = b_fall * k;
                }
            },
            [&](std::size_t, std::size_t r, std::size_t c) HALVO_STAGE {
                const auto step = [&](std::size_t t) {
                    // Both candidates are computed and one kept, so the pole
                    // choice is a blend, not a jump. k >= e is false when k or
                    // e is NaN: fall. e stays in a vector register throughout.
                    const f32x4 e_up = lanes1(up[r + t]) + a_rise * e;
                    if constexpr (kOnePole) {
                        e = e_up;
                    } else {
                        const f32x4 e_down = lanes1(down[r + t]) + a_fall * e;
                        e = (lanes1(keyed[r + t]) >= e) ? e_up : e_down;
                    }
                    env[r + t] = e[0];
                    phasors[2 * (r + t)] = osc.re;
                    phasors[2 * (r + t) + 1] = osc.im;
                };
                if (c == kGroup && !osc.renormalises_within(kGroup)) {
                    HALVO_UNROLL_GROUP
                    for (std::size_t t = 0; t < kGroup; ++t) {
                        osc.advance_plain();
                        step(t);
                    }
                    return;
                }
                for (std::size_t t = 0; t < c; ++t) {
                    osc.advance();
                    step(t);
                }
            },
            [&](std::size_t i, std::size_t r, std::size_t c) HALVO_STAGE {
                float* const o = &out[i].re;
                const float* const p = phasors + 2 * r;
                if (c == kGroup) {
                    const f32x8 amp = splat8(g) * load8(env + r);
                    sink.put8(o, scale_complex4(dup_lo8(amp), load8(p)));
                    sink.put8(o + 8, scale_complex4(dup_hi8(amp), load8(p + 8)));
                    return;
                }
                for (std::size_t t = 0; t < c; ++t) {
                    // The complex product (amp + 0j) * phasor, every term
                    // rounded: not amp*re, amp*im for zeros, infinities, NaN.
                    // (opaque: see there; keeps this loop scalar)
                    const float amp = opaque(g * env[r + t]);
                    const float re = p[2 * t], im = p[2 * t + 1];
                    const float zero = 0.0f;
                    o[2 * t] = amp * re - zero * im;
                    o[2 * t + 1] = zero * re + amp * im;
                }
            });
        sink.finish();
        tone = osc;
        envelope = e[0];
    }
};

}  // namespace halvo
