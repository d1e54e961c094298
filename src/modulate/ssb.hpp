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
#include "../dsp/fp.hpp"
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

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        // All four sections were designed alike: the loop keeps one
        // coefficient set, and runs the I and the Q branch side by side in
        // the two lanes of a vector (same operations on each lane).
        Weaver w{i_pair.first,
                 lanes2(i_pair.first.s1, q_pair.first.s1),
                 lanes2(i_pair.first.s2, q_pair.first.s2),
                 lanes2(i_pair.second.s1, q_pair.second.s1),
                 lanes2(i_pair.second.s2, q_pair.second.s2),
                 PhasorLanes::join(audio_if, rf),  // both advance once per sample
                 usb ? 1.0f : -1.0f};
        std::size_t i = 0;
        // Four samples per iteration, each with the whole step in sample
        // order: every stage is a recurrence, so samples are never reordered.
        for (; i + 4 <= n; i += 4) {
            out[i] = w.step(in[i]);
            out[i + 1] = w.step(in[i + 1]);
            out[i + 2] = w.step(in[i + 2]);
            out[i + 3] = w.step(in[i + 3]);
        }
        for (; i < n; ++i) out[i] = w.step(in[i]);
        i_pair.first.s1 = w.s1_first[0];
        i_pair.first.s2 = w.s2_first[0];
        i_pair.second.s1 = w.s1_second[0];
        i_pair.second.s2 = w.s2_second[0];
        q_pair.first.s1 = w.s1_first[1];
        q_pair.first.s2 = w.s2_first[1];
        q_pair.second.s1 = w.s1_second[1];
        q_pair.second.s2 = w.s2_second[1];
        w.osc.split(audio_if, rf);
    }

private:
    // The loop's working copy of the state, kept in registers.
    struct Weaver {
        BiquadLowpass c;         // the coefficients of all four sections
        f32x4 s1_first;          // first sections' s1: I in lane 0, Q in lane 1
        f32x4 s2_first;          // first sections' s2
        f32x4 s1_second;         // second sections' s1
        f32x4 s2_second;         // second sections' s2
        PhasorLanes osc;         // audio IF in lane 0, RF in lane 1
        float sigma;             // +1 (usb) or -1

        // Operations in this order are part of the result; do not regroup.
        HALVO_INLINE cf32 step(float x) {
            osc.advance();
            const float c1 = osc.re[0], s1 = osc.im[0];  // audio IF phasor
            const float c2 = osc.re[1], s2 = osc.im[1];  // RF phasor
            const f32x4 mixed = lanes2(c1 * x, x * s1);
            const f32x4 first = BiquadLowpass::step_x2(c, s1_first, s2_first, mixed);
            const f32x4 iq = BiquadLowpass::step_x2(c, s1_second, s2_second, first);
            const float I = iq[0];
            const float Q = iq[1];
            const float v = Q * sigma;  // a product, not a negation: NaN keeps its sign
            const float re = fma32(I, c2, (-v) * s2);  // fused, (-v)*s2 rounded first
            const float im = fma32(v, c2, I * s2);     // fused, I*s2 rounded first
            return {re, im};
        }
    };
};

}  // namespace halvo
