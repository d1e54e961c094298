// The loop the two quadrature demodulators share: the phase step of each
// sample (phase discriminator), times a scale, through a biquad low-pass
// pair. FmQuadratureDemod scales by 1 / max(dev_hz, 1), PmQuadratureDemod
// by k.
#pragma once

#include <cstddef>

#include "../dsp/biquad_lowpass.hpp"
#include "../simd/fp.hpp"
#include "../dsp/phase_discriminator.hpp"

namespace halvo {

// Operations in this order are part of the result; do not regroup. The
// scaled phase steps depend on the input only: they are computed ahead, in
// vectors, while the low-pass runs (its two sections side by side).
HALVO_INLINE void quadrature_demodulate(PhaseDiscriminator& discriminator, BiquadPair& lowpass, float scale,
                                        const cf32* in, float* out, std::size_t n) {
    BiquadPairLanes lp = BiquadPairLanes::load(lowpass);
    PhaseDiscriminator disc = discriminator;
    disc.run_lagged(in, out, n, scale, lp, [](float y) { return y; });
    lp.store(lowpass);
    discriminator = disc;
}

}  // namespace halvo
