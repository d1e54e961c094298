// CwEnvelopeDemod: keying envelope of an on-off keyed carrier.
//
// Per sample: magnitude of the complex sample, smoothed by a one-pole
// low-pass e = (1 - pole)*|x| + pole*e, times a gain. State: the smoothed
// envelope and the gain; tone_hz is accepted by the constructor and ignored.
#pragma once

#include <cmath>
#include <cstddef>

#include "../dsp/constants.hpp"
#include "../simd/fp.hpp"

namespace halvo {

struct CwEnvelopeDemod {
    float pole;  // smoother coefficient exp(-2*pi*max(env_bw_hz, 1)/fs)
    float env;   // smoothed envelope; 0.0
    float gain;  // output factor; 1.0

    static CwEnvelopeDemod make(double sample_rate, double tone_hz, double env_bw_hz) {
        (void)tone_hz;
        const float fs = static_cast<float>(sample_rate);
        const float bw = static_cast<float>(env_bw_hz);
        const float floor = (bw > 1.0f) ? bw : 1.0f;  // NaN counts as 1 Hz
        return {std::exp((floor * kNegTwoPi) / fs), 0.0f, 1.0f};
    }

    void set_gain(double g) { gain = static_cast<float>(g); }

    // Every operation rounds to float32 on its own; nothing is fused.
    // The magnitudes depend on the input only: they are computed ahead, in
    // vectors, while the smoother runs.
    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        const float b = 1.0f - pole;
        const float a = pole;
        const float g = gain;
        float e = env;
        run_pipelined(
            out, 0, n, [in](std::size_t i) { return sqrt32(in[i].re * in[i].re + in[i].im * in[i].im); },
            [&e, b, a, g](float m) {
                e = b * m + a * e;
                return g * e;
            });
        env = e;
    }
};

}  // namespace halvo
