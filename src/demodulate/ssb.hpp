// SsbProductDemod: product detector for single-sideband audio.
//
// Per sample: advance the beat-frequency oscillator, take the real part of the
// sample times the conjugate phasor, low-pass it with a biquad pair and remove
// DC. Both sidebands around the BFO land on the same audio frequency.
// State: the BFO phasor and its lifetime counter, the pair and the DC blocker.
#pragma once

#include <cstddef>

#include "../dsp/biquad_lowpass.hpp"
#include "../dsp/dc_blocker.hpp"
#include "../simd/fp.hpp"
#include "../dsp/phasor_oscillator.hpp"

namespace halvo {

struct SsbProductDemod {
    PhasorOscillator bfo;  // beat-frequency oscillator at bfo_hz; phasor 1 + 0j, counter 0
    BiquadPair lowpass;    // audio low-pass pair, cut-off 0.9 * audio_bw_hz; zero state
    DcBlocker dc;          // DC removal; zero state

    static SsbProductDemod make(double fs, double bfo_hz, double audio_bw_hz) {
        const float f = static_cast<float>(fs);
        const float bfo = static_cast<float>(bfo_hz);
        const float bw = static_cast<float>(audio_bw_hz);
        return {PhasorOscillator::design(bfo, f), BiquadPair::design(f, bw), DcBlocker::design(f)};
    }

    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        if (n == 0) return;
        PhasorOscillator osc = bfo;
        // The low-pass pair runs its two sections side by side, so its
        // output for a sample comes out one step later (BiquadPairLanes):
        // each step finishes the sample before the one it takes in.
        BiquadPairLanes lp = BiquadPairLanes::load(lowpass);
        DcBlocker dcb = dc;
        // Operations in this order are part of the result; do not regroup.
        const auto mixed = [&](std::size_t i) {
            osc.advance();  // before use: the first sample already carries one step
            return fma32(in[i].re, osc.re, in[i].im * osc.im);  // fused: xi*pi rounded first
        };
        lp.first(mixed(0));
        for (std::size_t i = 1; i < n; ++i) out[i - 1] = dcb.step(lp.next(mixed(i)));
        out[n - 1] = dcb.step(lp.last());
        bfo = osc;
        lp.store(lowpass);
        dc = dcb;
    }
};

}  // namespace halvo
