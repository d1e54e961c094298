// Agc: automatic gain control for audio, output RMS near `target`, peaks
// never beyond `ceiling`.
//
//   make(fs, target, attack_ms, decay_ms, max_gain_db, ceiling)
//
// Design, in float64 and then narrowed once to float32:
//   ca = exp(-1 / (fs * attack_ms / 1000)), ka = 1 - that   (mean-square average)
//   cd = exp(-1 / (fs * decay_ms / 1000)),  kd = 1 - that   (fall of the held levels)
//   gmax = 10^(max_gain_db / 20)
// Per sample, in this order (each operation rounded on its own):
//   p = fma(ca, p, ka*(x*x))                mean square over about attack_ms
//   v = (p > v) ? p : fma(cd, v, kd*p)      held level: rises with p at once,
//                                           falls over about decay_ms
//   a = |x|
//   q = (a > q) ? a : fma(cd, q, kd*a)      held peak: rises with |x| at once,
//                                           falls over about decay_ms
//   g = target / sqrt(v);  g = (g > gmax) ? gmax : g   (v = 0 gives gmax; NaN stays NaN)
//   h = ceiling / q;       g = (h < g) ? h : g          (q = 0 gives h = inf)
//   y = x*g;  y = (y > ceiling) ? ceiling : y;  y = (y < -ceiling) ? -ceiling : y
// (x*x, ka*(x*x), kd*p and kd*a rounded on their own, then each fma rounded
// once.) The held peak is never below |x|, so the peak gain h brings x to
// the ceiling at most; the last two selects only catch the rounding of x*g.
// A steady input comes out with RMS target as long as its crest factor
// (peak over RMS) is at most ceiling / target (the held level sits on the
// crests of the mean square's ripple, within 2 % for a 440 Hz tone at the
// default attack); a louder onset, or speech whose peaks the target would
// push beyond the ceiling, is held at the ceiling. State: p, v and q, 0.0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "../../kernels/guard.hpp"
#include "../../simd/fp.hpp"
#include "../../simd/guarded.hpp"
#include "emphasis.hpp"

namespace halvo::audio {

struct Agc {
    float tgt = 0.5f;   // target RMS
    float ca = 0.0f;    // mean-square weight of the old mean
    float ka = 1.0f;    // mean-square weight of the new sample
    float cd = 0.0f;    // weight of a held level in its fall
    float kd = 1.0f;    // weight of the new value in a held level's fall
    float gmax = 1.0f;  // gain limit
    float lim = 1.0f;   // output peak limit, the ceiling
    float p = 0.0f;     // mean square of the input; 0.0
    float v = 0.0f;     // held level; 0.0
    float q = 0.0f;     // held peak of |x|; 0.0

    static Agc make(double fs, double target = 0.5, double attack_ms = 10.0, double decay_ms = 300.0,
                    double max_gain_db = 60.0, double ceiling = 1.0) {
        check_rate(fs);
        if (!(target > 0.0 && target <= 1e6)) frontend::refuse("target", target, "above 0 and at most 1e6");
        if (!(attack_ms > 0.0 && attack_ms <= 1e5)) frontend::refuse("attack_ms", attack_ms, "above 0 and at most 1e5");
        if (!(decay_ms > 0.0 && decay_ms <= 1e5)) frontend::refuse("decay_ms", decay_ms, "above 0 and at most 1e5");
        if (!(max_gain_db >= 0.0 && max_gain_db <= 200.0))
            frontend::refuse("max_gain_db", max_gain_db, "from 0 to 200");
        if (!(ceiling > 0.0 && ceiling <= 1e6)) frontend::refuse("ceiling", ceiling, "above 0 and at most 1e6");
        Agc a;
        a.tgt = static_cast<float>(target);
        const double ea = std::exp(-1.0 / (fs * attack_ms / 1000.0));
        const double ed = std::exp(-1.0 / (fs * decay_ms / 1000.0));
        a.ca = static_cast<float>(ea);
        a.ka = static_cast<float>(1.0 - ea);
        a.cd = static_cast<float>(ed);
        a.kd = static_cast<float>(1.0 - ed);
        a.gmax = static_cast<float>(std::pow(10.0, max_gain_db / 20.0));
        a.lim = static_cast<float>(ceiling);
        return a;
    }

    HALVO_INLINE float step(float x) { return step_as<float>(x, p, v, q); }

    // The step over a lane type: float, or simd::Guarded (the same
    // operations without a subnormal ever reaching the CPU).
    template <class V>
    HALVO_INLINE V step_as(V x, V& p_, V& v_, V& q_) const {
        p_ = simd::fma(V(ca), p_, V(ka) * (x * x));          // fused, ka*(x*x) rounded first
        v_ = (p_ > v_) ? p_ : simd::fma(V(cd), v_, V(kd) * p_);  // fused, kd*p rounded first
        const V a = simd::abs(x);
        q_ = (a > q_) ? a : simd::fma(V(cd), q_, V(kd) * a);  // fused, kd*a rounded first
        const V g0 = V(tgt) / simd::sqrt(v_);
        const V g1 = (g0 > V(gmax)) ? V(gmax) : g0;
        const V h = V(lim) / q_;
        const V g = (h < g1) ? h : g1;
        const V y = x * g;
        const V y1 = (y > V(lim)) ? V(lim) : y;
        return (y1 < -V(lim)) ? -V(lim) : y1;
    }

    // Operations in this order are part of the result; do not regroup. The
    // mean square, the held level and the held peak are the loop-carried
    // chains; the root, the divisions and the selects hang off them.
    // In chunks of the subnormal guard's length (kernels/guard.hpp): a chunk
    // that starts with a subnormal state, or holds an input whose square
    // would be subnormal (|x| below 2^-63: the fading tail of a signal),
    // runs the same step in simd::Guarded.
    template <class Isa>
    void process(const float* in, float* out, std::size_t n) {
        float pp = p, vv = v, qq = q;
        for (std::size_t i0 = 0; i0 < n; i0 += kernels::kGuardChunk) {
            const std::size_t end = std::min(n, i0 + kernels::kGuardChunk);
            unsigned faint = 0;  // inputs whose square is below the normal range
            for (std::size_t i = i0; i < end; ++i) faint += (in[i] != 0.0f && abs32(in[i]) < 0x1p-63f) ? 1u : 0u;
            if (faint != 0 || subnormal(pp) || subnormal(vv) || subnormal(qq)) {
                simd::Guarded gp = pp, gv = vv, gq = qq;
                for (std::size_t i = i0; i < end; ++i) out[i] = step_as<simd::Guarded>(in[i], gp, gv, gq);
                pp = gp, vv = gv, qq = gq;
            } else {
                for (std::size_t i = i0; i < end; ++i) out[i] = step_as<float>(in[i], pp, vv, qq);
            }
        }
        p = pp;
        v = vv;
        q = qq;
    }

private:
    HALVO_INLINE static bool subnormal(float x) { return x != 0.0f && abs32(x) < 0x1p-126f; }
};

}  // namespace halvo::audio
