// PmDirectPhaseMod: phase modulation, each sample setting the phase directly.
//
// Per sample: phi = x*sensitivity (not wrapped), the phasor (cos phi, sin phi)
// times the gain times the carrier phasor at rf_hz. The input leaves no
// memory; the only running state is the carrier oscillator.
#pragma once

#include <cmath>
#include <cstddef>

#include "../simd/fp.hpp"
#include "../simd/vec8.hpp"
#include "complex_product.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct PmDirectPhaseMod {
    float sensitivity;         // radians per unit of input; constructor argument
    PhasorOscillator carrier;  // carrier at rf_hz; 1+0j, counter 0
    float gain;                // output factor; 1.0

    static PmDirectPhaseMod make(double sample_rate, double kp_rad_per_unit, double rf_hz) {
        return {static_cast<float>(kp_rad_per_unit),
                PhasorOscillator::design(static_cast<float>(rf_hz), static_cast<float>(sample_rate)), 1.0f};
    }

    void set_gain(double g) { gain = static_cast<float>(g); }
    void set_sensitivity(double kp) { sensitivity = static_cast<float>(kp); }

    // Operations in this order are part of the result; do not regroup.
    // The library sine and cosine depend on the input only, and the output
    // product has no memory: the calls run a group ahead of the carrier
    // rotation and the products, as vectors, a group behind, so the core
    // works on the calls while the rotation's dependency chain waits.
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        if (n == 0) return;
        const float k = sensitivity;
        const float g = gain;
        PhasorOscillator car = carrier;
        const Sink sink = Sink::for_output(out, n * sizeof(cf32));
        alignas(32) float scaled[2 * kRing];    // (cos(x*k)*g, sin(x*k)*g) for each sample
        alignas(32) float carriers[2 * kRing];  // the carrier of each sample
        run_staged(
            n,
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                for (std::size_t t = 0; t < m; ++t) {
                    const float phi = in[i + t] * k;
                    scaled[2 * (r + t)] = std::cos(phi) * g;
                    scaled[2 * (r + t) + 1] = std::sin(phi) * g;
                }
            },
            [&](std::size_t, std::size_t r, std::size_t m) HALVO_STAGE { car.advance_into(carriers + 2 * r, m); },
            [&](std::size_t i, std::size_t r, std::size_t m) HALVO_STAGE {
                put_complex_products<false>(sink, &out[i].re, scaled + 2 * r, carriers + 2 * r, m, 1.0f);
            });
        sink.finish();
        carrier = car;
    }
};

}  // namespace halvo
