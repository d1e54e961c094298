// Agc: automatic gain control for audio, output RMS near `target`.
//
//   make(fs, target, attack_ms, decay_ms, max_gain_db)
//
// Design, in float64 and then narrowed once to float32:
//   ca = exp(-1 / (fs * attack_ms / 1000)), ka = 1 - that   (mean-square average)
//   cd = exp(-1 / (fs * decay_ms / 1000)),  kd = 1 - that   (fall of the held level)
//   gmax = 10^(max_gain_db / 20)
// Per sample, in this order (each operation rounded on its own):
//   p = fma(ca, p, ka*(x*x))                mean square over about attack_ms
//   v = (p > v) ? p : fma(cd, v, kd*p)      held level: rises with p at once,
//                                           falls over about decay_ms
//   g = target / sqrt(v);  g = (g > gmax) ? gmax : g   (v = 0 gives gmax; NaN stays NaN)
//   y = x*g
// (x*x, ka*(x*x) and kd*p rounded on their own, then each fma rounded once.)
// A steady input comes out with RMS target (the held level sits on the
// crests of the mean square's ripple, within 2 % for a 440 Hz tone at the
// default attack). State: p and v, 0.0.
#pragma once

#include <cmath>
#include <cstddef>

#include "../../simd/fp.hpp"
#include "emphasis.hpp"

namespace halvo::audio {

struct Agc {
    float tgt = 0.5f;   // target RMS
    float ca = 0.0f;    // mean-square weight of the old mean
    float ka = 1.0f;    // mean-square weight of the new sample
    float cd = 0.0f;    // weight of the held level in its fall
    float kd = 1.0f;    // weight of the held level's fall
    float gmax = 1.0f;  // gain limit
    float p = 0.0f;     // mean square of the input; 0.0
    float v = 0.0f;     // held level; 0.0

    static Agc make(double fs, double target = 0.5, double attack_ms = 10.0, double decay_ms = 300.0,
                    double max_gain_db = 60.0) {
        check_rate(fs);
        if (!(target > 0.0 && target <= 1e6)) frontend::refuse("target", target, "above 0 and at most 1e6");
        if (!(attack_ms > 0.0 && attack_ms <= 1e5)) frontend::refuse("attack_ms", attack_ms, "above 0 and at most 1e5");
        if (!(decay_ms > 0.0 && decay_ms <= 1e5)) frontend::refuse("decay_ms", decay_ms, "above 0 and at most 1e5");
        if (!(max_gain_db >= 0.0 && max_gain_db <= 200.0))
            frontend::refuse("max_gain_db", max_gain_db, "from 0 to 200");
        Agc a;
        a.tgt = static_cast<float>(target);
        const double ea = std::exp(-1.0 / (fs * attack_ms / 1000.0));
        const double ed = std::exp(-1.0 / (fs * decay_ms / 1000.0));
        a.ca = static_cast<float>(ea);
        a.ka = static_cast<float>(1.0 - ea);
        a.cd = static_cast<float>(ed);
        a.kd = static_cast<float>(1.0 - ed);
        a.gmax = static_cast<float>(std::pow(10.0, max_gain_db / 20.0));
        return a;
    }

    HALVO_INLINE float step(float x) {
        p = fma32(ca, p, ka * (x * x));      // fused, ka*(x*x) rounded first
        v = (p > v) ? p : fma32(cd, v, kd * p);  // fused, kd*p rounded first
        const float g0 = tgt / sqrt32(v);
        const float g = (g0 > gmax) ? gmax : g0;
        return x * g;
    }

    // Operations in this order are part of the result; do not regroup. The
    // mean square and the held level are the loop-carried chains; the root
    // and the division hang off them.
    template <class Isa>
    void process(const float* in, float* out, std::size_t n) {
        Agc a = *this;
        for (std::size_t i = 0; i < n; ++i) out[i] = a.step(in[i]);
        p = a.p;
        v = a.v;
    }
};

}  // namespace halvo::audio
