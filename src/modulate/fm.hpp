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

#include "../dsp/constants.hpp"
#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"
#include "complex_product.hpp"
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
        return {PhasorOscillator::unit(), fs, static_cast<float>(deviation_hz),
                PhasorOscillator::design(static_cast<float>(rf_hz), fs), 1.0f};
    }

    void set_deviation(double hz) { deviation = static_cast<float>(hz); }
    void set_gain(double g) { gain = static_cast<float>(g); }

    // Operations in this order are part of the result; do not regroup.
    // The per-sample message step (cos, sin of x*k) depends on the input
    // only, and the output product has no memory: the library calls run a
    // group ahead of the two phasor rotations and the products, as vectors,
    // a group behind, so the core works on the calls while the rotations'
    // dependency chains wait.
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        const float k = (deviation * kTwoPi) / sample_rate;  // radians per unit of audio
        const float g = gain;
        PhasorOscillator msg = message;
        PhasorOscillator car = carrier;
        const Sink sink = Sink::for_output(out, n * sizeof(cf32));
        alignas(32) float steps[2 * kRing];     // (cos, sin) of x*k for each sample
        alignas(32) float messages[2 * kRing];  // the message phasor of each sample
        alignas(32) float carriers[2 * kRing];  // the carrier of each sample
        run_staged(
            n,
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                for (std::size_t t = 0; t < m; ++t) {
                    const float phi = in[i + t] * k;
                    steps[2 * (r + t)] = std::cos(phi);
                    steps[2 * (r + t) + 1] = std::sin(phi);
                }
            },
            [&](std::size_t, std::size_t r, std::size_t m) HALVO_STAGE {
                HALVO_UNROLL_GROUP
                for (std::size_t t = 0; t < m; ++t) {
                    const std::size_t j = 2 * (r + t);
                    msg.advance_by(steps[j], steps[j + 1]);
                    car.advance();
                    messages[j] = msg.re;
                    messages[j + 1] = msg.im;
                    carriers[j] = car.re;
                    carriers[j + 1] = car.im;
                }
            },
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                put_complex_products<true>(sink, &out[i].re, messages + 2 * r, carriers + 2 * r, m, g);
            });
        sink.finish();
        message = msg;
        carrier = car;
    }
};

}  // namespace halvo
