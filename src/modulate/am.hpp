// AmDsbMod: double-sideband AM of a complex carrier by real audio.
//
// Per sample: m = x*modulation_index, envelope m + carrier_level (optionally
// limited to [-1, 1]), times the gain, times the carrier phasor at rf_hz.
// State: the carrier oscillator (phase and renormalisation counter), the gain
// and the clamp switch; the envelope path has no memory.
#pragma once

#include <cstddef>

#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct AmDsbMod {
    float gain;                // output factor, applied after the limit; 1.0
    float carrier_level;       // added to the scaled audio; constructor argument
    float modulation_index;    // factor on each audio sample; constructor argument
    PhasorOscillator carrier;  // carrier at rf_hz; phasor 1+0j, counter 0
    bool clamp;                // limit m + carrier_level to [-1, 1]; false

    static AmDsbMod make(double fs, double rf_hz, double carrier_level, double modulation_index) {
        const float f = static_cast<float>(rf_hz);
        const float rate = static_cast<float>(fs);
        return {1.0f, static_cast<float>(carrier_level), static_cast<float>(modulation_index),
                PhasorOscillator::design(f, rate), false};
    }

    void set_gain(double g) { gain = static_cast<float>(g); }
    void set_clamp(bool on) { clamp = on; }

    // Operations in this order are part of the result; do not regroup.
    // The envelope depends on the input only and the output product has no
    // memory: both run as vectors, ahead of and behind the carrier rotation,
    // which is all the recurrence keeps.
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        const float g = gain;
        const float level = carrier_level;
        const float index = modulation_index;
        const bool limit = clamp;
        PhasorOscillator car = carrier;
        const Sink sink = Sink::for_output(out, n * sizeof(cf32));
        alignas(32) float amp[kRing];          // the amplitude a of each sample
        alignas(32) float carriers[2 * kRing];  // the carrier of each sample, (re, im)
        run_staged(
            n,
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                if (m == kGroup) {
                    const f32x8 e = load8(in + i) * splat8(index) + splat8(level);
                    // Limited to [-1, 1]; a NaN envelope stays NaN.
                    store8(amp + r, (limit ? clamp8(e, -1.0f, 1.0f) : e) * splat8(g));
                    return;
                }
                for (std::size_t t = 0; t < m; ++t) {
                    const float e = in[i + t] * index + level;
                    amp[r + t] = (limit ? at_least(at_most(e, 1.0f), -1.0f) : e) * g;
                }
            },
            [&](std::size_t, std::size_t r, std::size_t m) HALVO_STAGE { car.advance_into(carriers + 2 * r, m); },
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                float* const o = &out[i].re;
                if (m == kGroup) {
                    const f32x8 a = load8(amp + r);
                    sink.put8(o, dup_lo8(a) * load8(carriers + 2 * r));
                    sink.put8(o + 8, dup_hi8(a) * load8(carriers + 2 * r + 8));
                    return;
                }
                for (std::size_t t = 0; t < m; ++t) {
                    o[2 * t] = amp[r + t] * carriers[2 * (r + t)];
                    o[2 * t + 1] = amp[r + t] * carriers[2 * (r + t) + 1];
                }
            });
        sink.finish();
        carrier = car;
    }
};

}  // namespace halvo
