// AmDsbMod: double-sideband AM of a complex carrier by real audio.
//
// Per sample: m = x*modulation_index, envelope m + carrier_level (optionally
// limited to [-1, 1]), times the gain, times the carrier phasor at rf_hz.
// State: the carrier oscillator (phase and renormalisation counter), the gain
// and the clamp switch; the envelope path has no memory.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"
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
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        const float g = gain;
        const float level = carrier_level;
        const float index = modulation_index;
        PhasorOscillator osc = carrier;
        if (clamp) {
            for (std::size_t i = 0; i < n; ++i) {
                const float m = in[i] * index;
                osc.advance();
                // Limited to [-1, 1]; a NaN envelope stays NaN.
                const float e = at_least(at_most(m + level, 1.0f), -1.0f);
                const float a = e * g;
                out[i] = {a * osc.re, a * osc.im};
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                const float m = in[i] * index;
                osc.advance();
                const float a = (m + level) * g;
                out[i] = {a * osc.re, a * osc.im};
            }
        }
        carrier = osc;
    }
};

}  // namespace halvo
