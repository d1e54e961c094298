// PmQuadratureDemod: audio from a phase-modulated carrier.
//
// Per sample: the phase change since the previous sample (phase
// discriminator), times k, through a biquad low-pass pair. The output is k
// times the first difference of the phase, not the phase itself.
// State: the pair and the previous sample.
#pragma once

#include <cstddef>

#include "../dsp/biquad_lowpass.hpp"
#include "../simd/fp.hpp"
#include "../dsp/phase_discriminator.hpp"
#include "quadrature.hpp"

namespace halvo {

struct PmQuadratureDemod {
    BiquadPair lowpass;               // audio low-pass pair, cut-off 0.9 * audio_bw_hz; zero state
    PhaseDiscriminator discriminator; // previous input sample; 1 + 0j
    float scale;                      // output scale per radian (k), used as given; constructor argument

    static PmQuadratureDemod make(double fs, double k, double audio_bw_hz) {
        const float f = static_cast<float>(fs);
        const float bw = static_cast<float>(audio_bw_hz);
        return {BiquadPair::design(f, bw), PhaseDiscriminator::design(), static_cast<float>(k)};
    }

    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        quadrature_demodulate(discriminator, lowpass, scale, in, out, n);
    }
};

}  // namespace halvo
