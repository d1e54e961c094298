// The sections' per-sample steps over a lane type V (float, or a vector of
// independent lanes; see simd/lanes.hpp): the same operations, in the same
// order, as the sections' own scalar steps. A class's step is built from
// these; each struct holds its state and coefficients as V only, so a
// class's step state is an array of V and n objects' states can be
// interleaved into lanes by a plain transpose.
#pragma once

#include <cstdint>

#include "../simd/fp.hpp"
#include "../simd/guarded.hpp"
#include "../simd/lanes.hpp"
#include "biquad_lowpass.hpp"
#include "dc_blocker.hpp"
#include "fast_atan2.hpp"
#include "phase_discriminator.hpp"
#include "phasor_oscillator.hpp"

namespace halvo::steps {

using simd::Complex;
using simd::select;
using simd::splat;

// Two biquad low-pass sections designed alike, in series (BiquadPair).
template <class V>
struct BiquadPairStep {
    V b0, b1, b2, a1, a2;  // the coefficients of both sections
    V s1a, s2a;            // first section's state
    V s1b, s2b;            // second section's state

    static BiquadPairStep load(const BiquadPair& p) {
        const BiquadLowpass& c = p.first;
        return {c.b0, c.b1, c.b2, c.a1, c.a2, p.first.s1, p.first.s2, p.second.s1, p.second.s2};
    }
    void store(BiquadPair& p) const {
        p.first.s1 = s1a;
        p.first.s2 = s2a;
        p.second.s1 = s1b;
        p.second.s2 = s2b;
    }

    HALVO_INLINE V section(V x, V& s1, V& s2) const {
        const V y = simd::fma(b0, x, s1);  // fused
        const V t = simd::fma(b1, x, s2);  // fused, with the old s2
        s1 = t - a1 * y;
        s2 = b2 * x - a2 * y;
        return y;
    }
    HALVO_INLINE V step(V x) {
        const V y = section(x, s1a, s2a);
        return section(y, s1b, s2b);
    }
};

// DcBlocker.
template <class V>
struct DcStep {
    V r, x1, y1;

    static DcStep load(const DcBlocker& d) { return {d.R, d.x1, d.y1}; }
    void store(DcBlocker& d) const {
        d.x1 = x1;
        d.y1 = y1;
    }
    HALVO_INLINE V step(V x) {
        const V y = (x - x1) + r * y1;  // no fused multiply-add
        x1 = x;
        y1 = y;
        return y;
    }
};

// fast_atan2 (see fast_atan2.hpp): the same selects, lane by lane.
template <class V>
HALVO_INLINE V atan2_step(V y, V x) {
    const V ax = simd::abs(x);
    const V ay = simd::abs(y);
    const auto steep = ay > ax;  // ordered: false when either is NaN
    const V num = select(steep, ax, ay);
    const V den = select(steep, ay, ax);
    const V t = num / (den + splat<V>(kAtanEps));
    const V u = splat<V>(kQuarterPi) * t;
    const V v = t * (t - splat<V>(1.0f));
    const V w = splat<V>(0.2447f) + splat<V>(0.0663f) * t;
    const V p = u - v * w;
    V a = select(steep, splat<V>(kHalfPi) - p, p);
    a = select(x < splat<V>(0.0f), splat<V>(kPi) - a, a);  // strict: -0.0 is not negative
    a = select(y < splat<V>(0.0f), -a, a);
    return a;
}

// PhaseDiscriminator.
template <class V>
struct DiscriminatorStep {
    V pre, pim;  // the previous input sample

    static DiscriminatorStep load(const PhaseDiscriminator& d) { return {d.prev.re, d.prev.im}; }
    void store(PhaseDiscriminator& d) const { d.prev = {pre, pim}; }

    HALVO_INLINE V step(Complex<V> x) {
        const V dr = pre * x.re + pim * x.im;  // no fused multiply-add
        const V di = x.im * pre - x.re * pim;
        pre = x.re;
        pim = x.im;
        return atan2_step(di, dr);
    }
};

// PhasorOscillator without its counter: oscillators that advance together
// share one count, held by the class's step (see advance()).
template <class V>
struct PhasorStep {
    V re, im;  // the phasor
    V c, s;    // the step's cosine and sine

    static PhasorStep load(const PhasorOscillator& p) { return {p.re, p.im, p.c, p.s}; }
    void store(PhasorOscillator& p, std::uint32_t counter) const {
        p.re = re;
        p.im = im;
        p.counter = counter;
    }

    HALVO_INLINE void rotate(V cn, V sn) {
        const V nr = simd::fma(re, cn, -(im * sn));  // fused, product im*sn rounded first
        const V ni = simd::fma(im, cn, re * sn);     // fused, product re*sn rounded first
        re = nr;
        im = ni;
    }
    HALVO_INLINE void renormalise() {
        const V m = simd::sqrt(re * re + im * im);
        const V k = splat<V>(1.0f) / m;  // multiply by the reciprocal, never divide by m
        re = re * k;
        im = im * k;
    }
};

// One advance of each oscillator given, rotated by its own step: every
// 1024th advance of their (common) life renormalises them.
template <class... P>
HALVO_INLINE void advance(std::uint32_t& counter, P&... p) {
    (p.rotate(p.c, p.s), ...);
    if ((++counter & 1023u) == 0u) (p.renormalise(), ...);
}

}  // namespace halvo::steps
