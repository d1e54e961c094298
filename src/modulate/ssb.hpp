// SsbPhasingMod: single-sideband modulator by the Weaver method.
//
// Per sample: the audio is mixed with the cosine and the sine of an audio-IF
// phasor, each product is low-passed by a pair of biquad sections, the two
// branches form I + j*sigma*Q (sigma = +1 for usb, -1 otherwise) and that is
// shifted by an RF phasor. With usb the audio band comes out reversed, at
// rf_hz + audio_if_hz - f. State: the four sections, both oscillators.
#pragma once

#include <cstddef>

#include "../dsp/biquad_lowpass.hpp"
#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct SsbPhasingMod {
    BiquadPair i_pair;            // I-branch low-pass, cut-off 0.9*audio_bw_hz; state 0
    BiquadPair q_pair;            // Q-branch low-pass, same coefficients; state 0
    PhasorOscillator audio_if;    // audio-IF oscillator at audio_if_hz; 1+0j, counter 0
    PhasorOscillator rf;          // output shift at rf_hz; 1+0j, counter 0
    bool usb;                     // sideband selector; constructor argument

    static SsbPhasingMod make(double fs, double audio_bw_hz, double audio_if_hz, double rf_hz, bool usb) {
        const float rate = static_cast<float>(fs);
        const float bw = static_cast<float>(audio_bw_hz);
        const float f_if = static_cast<float>(audio_if_hz);
        const float f_rf = static_cast<float>(rf_hz);
        const BiquadPair lp = BiquadPair::design(rate, bw);
        return {lp, lp, PhasorOscillator::design(f_if, rate), PhasorOscillator::design(f_rf, rate), usb};
    }

    // Operations in this order are part of the result; do not regroup.
    // The two oscillators do not depend on the input, and the mixing before
    // the filters and the RF product after them have no memory: those run
    // ahead of and behind the filter recurrence, eight samples at a time as
    // vectors (the oscillators one sample at a time, side by side in two
    // lanes). All four sections were designed alike, so one vector step runs
    // all four, one per lane: the first I and Q sections on sample s + 1 in
    // lanes 0 and 1, the second ones on sample s (fed the first ones' outputs
    // of the step before) in lanes 2 and 3. The skew costs one half step at
    // each end of the block, where the other half's state is put back.
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        const BiquadLowpass c = i_pair.first;  // the coefficients of all four sections
        // Lanes: I first, Q first, I second, Q second.
        f32x4 s1 = {i_pair.first.s1, q_pair.first.s1, i_pair.second.s1, q_pair.second.s1};
        f32x4 s2 = {i_pair.first.s2, q_pair.first.s2, i_pair.second.s2, q_pair.second.s2};
        f32x4 y{};  // the last step's outputs; lanes 0 and 1 feed the second sections
        PhasorLanes osc = PhasorLanes::join(audio_if, rf);  // both advance once per sample
        const float sigma = usb ? 1.0f : -1.0f;
        // Per sample, in pairs: (c1, c2) and (s1, s2) of the two phasors,
        // the mixed audio (c1*x, x*s1), the filtered (I, Q).
        alignas(32) float cosines[2 * kRing];
        alignas(32) float sines[2 * kRing];
        alignas(32) float mixed[2 * kRing];
        alignas(32) float filtered[2 * kRing];
        const Sink sink = Sink::for_output(out, n * sizeof(cf32));
        run_staged(
            n,
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                for (std::size_t t = 0; t < m; ++t) {
                    osc.advance();
                    store2(cosines + 2 * (r + t), osc.re);
                    store2(sines + 2 * (r + t), osc.im);
                }
                if (m == kGroup) {
                    const f32x8 cos_lo = load8(cosines + 2 * r), cos_hi = load8(cosines + 2 * r + 8);
                    const f32x8 sin_lo = load8(sines + 2 * r), sin_hi = load8(sines + 2 * r + 8);
                    const f32x8 x = part_order8(load8(in + i));
                    const f32x8 ii = evens8(cos_lo, cos_hi) * x;  // c1*x
                    const f32x8 qq = x * evens8(sin_lo, sin_hi);  // x*s1
                    store8(mixed + 2 * r, join_lo8(ii, qq));
                    store8(mixed + 2 * r + 8, join_hi8(ii, qq));
                } else {
                    for (std::size_t t = 0; t < m; ++t) {
                        const float x = in[i + t];
                        mixed[2 * (r + t)] = cosines[2 * (r + t)] * x;
                        mixed[2 * (r + t) + 1] = x * sines[2 * (r + t)];
                    }
                }
                if (i == 0) {
                    // The first sample's first sections alone.
                    const f32x4 s1_old = s1, s2_old = s2;
                    y = BiquadLowpass::step_x4(c, s1, s2, load2(mixed));
                    s1 = HALVO_SHUFFLE(s1, s1_old, 0, 1, 6, 7);
                    s2 = HALVO_SHUFFLE(s2, s2_old, 0, 1, 6, 7);
                }
            },
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                // Step for sample s = i + t: first sections on s + 1, second
                // sections on s; (I, Q) of s comes out in lanes 2 and 3.
                const auto step = [&](std::size_t t, f32x4 next) {
                    y = BiquadLowpass::step_x4(c, s1, s2, HALVO_SHUFFLE(next, y, 0, 1, 4, 5));
                    store2(filtered + 2 * (r + t), HALVO_SHUFFLE(y, y, 2, 3, 2, 3));
                };
                if (i + m < n) {  // every sample here has a next one
                    HALVO_UNROLL_GROUP
                    for (std::size_t t = 0; t < m; ++t) step(t, load2(mixed + 2 * ((r + t + 1) % kRing)));
                } else {
                    for (std::size_t t = 0; t + 1 < m; ++t) step(t, load2(mixed + 2 * (r + t + 1)));
                    // The last sample's second sections alone.
                    const f32x4 s1_old = s1, s2_old = s2;
                    step(m - 1, f32x4{});
                    s1 = HALVO_SHUFFLE(s1_old, s1, 0, 1, 6, 7);
                    s2 = HALVO_SHUFFLE(s2_old, s2, 0, 1, 6, 7);
                }
            },
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                float* const o = &out[i].re;
                if (m == kGroup) {
                    const f32x8 f_lo = load8(filtered + 2 * r), f_hi = load8(filtered + 2 * r + 8);
                    const f32x8 I = evens8(f_lo, f_hi), Q = odds8(f_lo, f_hi);
                    const f32x8 c2 = odds8(load8(cosines + 2 * r), load8(cosines + 2 * r + 8));
                    const f32x8 s2v = odds8(load8(sines + 2 * r), load8(sines + 2 * r + 8));
                    const f32x8 v = Q * splat8(sigma);  // a product, not a negation: NaN keeps its sign
                    const f32x8 re = fma32x8(I, c2, (-v) * s2v);  // fused, (-v)*s2 rounded first
                    const f32x8 im = fma32x8(v, c2, I * s2v);     // fused, I*s2 rounded first
                    sink.put8(o, join_lo8(re, im));
                    sink.put8(o + 8, join_hi8(re, im));
                    return;
                }
                for (std::size_t t = 0; t < m; ++t) {
                    const std::size_t k = 2 * (r + t);
                    const float I = filtered[k], Q = filtered[k + 1];
                    const float c2 = cosines[k + 1], s2v = sines[k + 1];
                    const float v = Q * sigma;
                    o[2 * t] = fma32(I, c2, (-v) * s2v);
                    o[2 * t + 1] = fma32(v, c2, I * s2v);
                }
            });
        sink.finish();
        i_pair.first.s1 = s1[0];
        i_pair.first.s2 = s2[0];
        q_pair.first.s1 = s1[1];
        q_pair.first.s2 = s2[1];
        i_pair.second.s1 = s1[2];
        i_pair.second.s2 = s2[2];
        q_pair.second.s1 = s1[3];
        q_pair.second.s2 = s2[3];
        osc.split(audio_if, rf);
    }
};

}  // namespace halvo
