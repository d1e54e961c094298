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

#include "../dsp/fp.hpp"
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

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        Keyer k{tone, f32x4{envelope, 0.0f, 0.0f, 0.0f}, rise, fall, 1.0f - rise, 1.0f - fall, gain};
        std::size_t i = 0;
        // Four samples per iteration, each with the whole step in sample
        // order; the envelope and the tone are recurrences, so nothing is
        // reordered between samples.
        for (; i + 4 <= n; i += 4) {
            out[i] = k.step(in[i]);
            out[i + 1] = k.step(in[i + 1]);
            out[i + 2] = k.step(in[i + 2]);
            out[i + 3] = k.step(in[i + 3]);
        }
        for (; i < n; ++i) out[i] = k.step(in[i]);
        tone = k.osc;
        envelope = k.e[0];
    }

private:
    // The loop's working copy of the state, kept in registers.
    struct Keyer {
        PhasorOscillator osc;  // tone
        f32x4 e;               // envelope in lane 0 (lanes 1-3 stay 0), so that it
                               // never leaves a vector register between samples
        float a_rise;          // rise pole
        float a_fall;          // fall pole
        float b_rise;          // 1 - a_rise, rounded once per call
        float b_fall;          // 1 - a_fall
        float g;               // gain for this call

        // Operations in this order are part of the result; do not regroup.
        HALVO_INLINE cf32 step(float x) {
            const f32x4 k = f32x4{at_most(at_least(x, 0.0f), 1.0f), 0.0f, 0.0f, 0.0f};  // NaN passes both
            osc.advance();
            // Both candidate envelopes are computed and one is kept, so the
            // pole choice is a blend rather than a jump; the kept one is
            // exactly b*k + a*e for the pole chosen. k >= e is false when k
            // or e is NaN: fall.
            const f32x4 e_up = b_rise * k + a_rise * e;
            const f32x4 e_down = b_fall * k + a_fall * e;
            e = (k >= e) ? e_up : e_down;
            const float amp = g * e[0];
            // Complex product (amp + 0j) * phasor, every term rounded: not
            // the same as amp*re, amp*im for zeros, infinities and NaN.
            const float zero = 0.0f;
            return {amp * osc.re - zero * osc.im, zero * osc.re + amp * osc.im};
        }
    };
};

}  // namespace halvo
