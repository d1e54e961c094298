// PhasorOscillator: fixed-frequency complex oscillator held as a unit phasor.
//
// Advanced once per sample before its value is used; renormalised on every
// 1024th advance of its life, counted in the object, so where blocks begin
// and end never moves a renormalisation point. No phase angle is kept.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "../simd/fp.hpp"
#include "constants.hpp"

namespace halvo {

struct PhasorOscillator {
    float re;               // current phasor, real part; 1.0
    float im;               // current phasor, imaginary part; 0.0
    float c;                // cosine of the step angle
    float s;                // sine of the step angle
    std::uint32_t counter;  // advances since construction, modulo 2^32; 0

    static PhasorOscillator design(float f, float fs) {
        const float d = (f * kTwoPi) / fs;
        return {1.0f, 0.0f, std::cos(d), std::sin(d), 0u};
    }

    // A phasor with no stored step, advanced only by advance_by().
    static PhasorOscillator unit() { return {1.0f, 0.0f, 1.0f, 0.0f, 0u}; }

    HALVO_INLINE void advance() { advance_by(c, s); }

    // count advances, each new phasor stored as an (re, im) pair to pairs.
    HALVO_INLINE void advance_into(float* pairs, std::size_t count) {
        HALVO_UNROLL_GROUP
        for (std::size_t t = 0; t < count; ++t) {
            advance();
            pairs[2 * t] = re;
            pairs[2 * t + 1] = im;
        }
    }

    // True when one of the next k advances (k <= 1024) renormalises.
    HALVO_INLINE bool renormalises_within(std::uint32_t k) const { return (counter & 1023u) + k >= 1024u; }

    // advance() for a stretch known to hold no renormalisation point
    // (renormalises_within() was false for it): the same rotation, no test.
    HALVO_INLINE void advance_plain() {
        rotate(c, s);
        ++counter;
    }

    // Rotate by (cn, sn). Operations in this order are part of the result.
    HALVO_INLINE void advance_by(float cn, float sn) {
        rotate(cn, sn);
        if ((++counter & 1023u) == 0u) {
            const float m = sqrt32(re * re + im * im);
            const float k = 1.0f / m;  // multiply by the reciprocal, never divide by m
            re = re * k;
            im = im * k;
        }
    }

private:
    HALVO_INLINE void rotate(float cn, float sn) {
        const float nr = fma32(re, cn, -(im * sn));  // fused, product im*sn rounded first
        const float ni = fma32(im, cn, re * sn);     // fused, product re*sn rounded first
        re = nr;
        im = ni;
    }
};

// Two oscillators that always advance together (so their counters are
// equal), held side by side in lanes 0 and 1 of vectors: one advance of the
// pair is one advance of each, with the same operations on each lane.
// Lanes 2 and 3 hold a still phasor (1 + 0j, step 1 + 0j).
struct PhasorLanes {
    f32x4 re;               // real parts of the phasors
    f32x4 im;               // imaginary parts
    f32x4 c;                // step cosines
    f32x4 s;                // step sines
    std::uint32_t counter;  // the common advance count

    static PhasorLanes join(const PhasorOscillator& a, const PhasorOscillator& b) {
        return {f32x4{a.re, b.re, 1.0f, 1.0f}, f32x4{a.im, b.im, 0.0f, 0.0f}, f32x4{a.c, b.c, 1.0f, 1.0f},
                f32x4{a.s, b.s, 0.0f, 0.0f}, a.counter};
    }

    void split(PhasorOscillator& a, PhasorOscillator& b) const {
        a.re = re[0];
        a.im = im[0];
        a.counter = counter;
        b.re = re[1];
        b.im = im[1];
        b.counter = counter;
    }

    HALVO_INLINE void advance() { advance_by(c, s); }

    // Advance by the steps (cn, sn), one per lane (see PhasorOscillator).
    HALVO_INLINE void advance_by(f32x4 cn, f32x4 sn) {
        f32x4 nr = fma32x2(re, cn, -(im * sn));  // fused, product rounded first
        f32x4 ni = fma32x2(im, cn, re * sn);     // fused, product rounded first
        if ((++counter & 1023u) == 0u) {
            const f32x4 k = 1.0f / sqrt32x4(nr * nr + ni * ni);  // multiply by the reciprocal
            nr = nr * k;
            ni = ni * k;
        }
        re = nr;
        im = ni;
    }
};

}  // namespace halvo
