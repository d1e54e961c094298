// FmQuadratureDemod: audio from a frequency-modulated carrier.
//
// Per sample: the phase advance since the previous sample (phase
// discriminator), times 1 / max(dev_hz, 1), through a biquad low-pass pair.
// The output is in radians per sample per hertz of deviation; the sample rate
// only shapes the low-pass. State: the previous sample and the pair.
#pragma once

#include <cstddef>

#include "../dsp/biquad_lowpass.hpp"
#include "../simd/fp.hpp"
#include "../dsp/phase_discriminator.hpp"
#include "quadrature.hpp"

namespace halvo {

struct FmQuadratureDemod {
    float scale;                      // output scale 1 / max(dev_hz, 1); a NaN deviation counts as 1
    PhaseDiscriminator discriminator; // previous input sample; 1 + 0j
    BiquadPair lowpass;               // audio low-pass pair, cut-off 0.9 * audio_bw_hz; zero state

    static FmQuadratureDemod make(double fs, double dev_hz, double audio_bw_hz) {
        const float f = static_cast<float>(fs);
        const float dev = static_cast<float>(dev_hz);
        const float bw = static_cast<float>(audio_bw_hz);
        const float floor = (dev > 1.0f) ? dev : 1.0f;  // NaN is not greater than 1
        return {1.0f / floor, PhaseDiscriminator::design(), BiquadPair::design(f, bw)};
    }

    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        quadrature_demodulate(discriminator, lowpass, scale, in, out, n);
    }
};

}  // namespace halvo
