// FmPhaseAccumMod: frequency modulation by a phase-accumulating phasor.
//
// Per sample: the message phasor is turned by x*k radians (k = 2*pi*deviation
// / sample_rate, taken once per call), so it carries the running integral of
// the audio; the output is gain * message phasor * carrier phasor at rf_hz.
// State: both phasors with their own renormalisation counters, the sample
// rate, the deviation and the gain. No phase angle is stored.
#pragma once

#include <cmath>
#include <cstddef>

#include "../dsp/fp.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct FmPhaseAccumMod {
    PhasorOscillator message;  // accumulated message phase; 1+0j, counter 0, no stored step
    float sample_rate;         // Hz; constructor argument
    float deviation;           // Hz per unit of audio; constructor argument
    PhasorOscillator carrier;  // carrier at rf_hz; 1+0j, counter 0
    float gain;                // output factor; 1.0

    static FmPhaseAccumMod make(double sample_rate, double deviation_hz, double rf_hz) {
        const float fs = static_cast<float>(sample_rate);
        const float dev = static_cast<float>(deviation_hz);
        const float f = static_cast<float>(rf_hz);
        return {PhasorOscillator::unit(), fs, dev, PhasorOscillator::design(f, fs), 1.0f};
    }

    void set_deviation(double hz) { deviation = static_cast<float>(hz); }
    void set_gain(double g) { gain = static_cast<float>(g); }

    // Operations in this order are part of the result; do not regroup.
    // The per-sample message step (cos, sin of x*k) depends on the input
    // only: a chunk of steps goes into the output buffer first, so the library
    // calls run back to back and the phasor loop after them keeps its state in
    // registers (a call clobbers every vector register).
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        const float k = (deviation * kTwoPi) / sample_rate;  // radians per unit of audio
        const float g = gain;
        PhasorOscillator msg = message;
        PhasorOscillator car = carrier;
        // Operations in this order are part of the result; do not regroup.
        for_each_chunk(n, [&](std::size_t i0, std::size_t m) {
            const float* x = in + i0;
            cf32* o = out + i0;
            for (std::size_t j = 0; j < m; ++j) {
                const float phi = x[j] * k;
                o[j] = {std::cos(phi), std::sin(phi)};
            }
            for (std::size_t j = 0; j < m; ++j) {
                msg.advance_by(o[j].re, o[j].im);
                car.advance();
                const float gr = g * msg.re;
                const float gi = g * msg.im;
                o[j] = {gr * car.re - gi * car.im, gi * car.re + gr * car.im};
            }
        });
        message = msg;
        carrier = car;
    }
};

}  // namespace halvo
