// PmDirectPhaseMod: phase modulation, each sample setting the phase directly.
//
// Per sample: phi = x*sensitivity (not wrapped), the phasor (cos phi, sin phi)
// times the gain times the carrier phasor at rf_hz. The input leaves no
// memory; the only running state is the carrier oscillator.
#pragma once

#include <cmath>
#include <cstddef>

#include "../dsp/fp.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct PmDirectPhaseMod {
    float sensitivity;         // radians per unit of input; constructor argument
    PhasorOscillator carrier;  // carrier at rf_hz; 1+0j, counter 0
    float gain;                // output factor; 1.0

    static PmDirectPhaseMod make(double sample_rate, double kp_rad_per_unit, double rf_hz) {
        const float fs = static_cast<float>(sample_rate);
        const float kp = static_cast<float>(kp_rad_per_unit);
        const float f = static_cast<float>(rf_hz);
        return {kp, PhasorOscillator::design(f, fs), 1.0f};
    }

    void set_gain(double g) { gain = static_cast<float>(g); }
    void set_sensitivity(double kp) { sensitivity = static_cast<float>(kp); }

    // Operations in this order are part of the result; do not regroup.
    // The library sine and cosine depend on the input only: a chunk of
    // (c*g, s*g) goes into the output buffer first, so the calls run back to
    // back and the carrier loop after them keeps its state in registers (a
    // call clobbers every vector register).
    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        const float k = sensitivity;
        const float g = gain;
        PhasorOscillator car = carrier;
        // Operations in this order are part of the result; do not regroup.
        for_each_chunk(n, [&](std::size_t i0, std::size_t m) {
            const float* x = in + i0;
            cf32* o = out + i0;
            for (std::size_t j = 0; j < m; ++j) {
                const float phi = x[j] * k;
                o[j] = {std::cos(phi) * g, std::sin(phi) * g};
            }
            for (std::size_t j = 0; j < m; ++j) {
                car.advance();
                const float cg = o[j].re;
                const float sg = o[j].im;
                o[j] = {cg * car.re - sg * car.im, sg * car.re + cg * car.im};
            }
        });
        carrier = car;
    }
};

}  // namespace halvo
