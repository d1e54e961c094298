// PhasorOscillator: fixed-frequency complex oscillator held as a unit phasor.
//
// Advanced once per sample before its value is used; renormalised on every
// 1024th advance of its life, counted in the object, so where blocks begin
// and end never moves a renormalisation point. No phase angle is kept.
#pragma once

#include <cmath>
#include <cstdint>

#include "fp.hpp"

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

    // Rotate by (cn, sn). Operations in this order are part of the result.
    HALVO_INLINE void advance_by(float cn, float sn) {
        float nr = fma32(re, cn, -(im * sn));  // fused, product im*sn rounded first
        float ni = fma32(im, cn, re * sn);     // fused, product re*sn rounded first
        if ((++counter & 1023u) == 0u) {
            const float m = sqrt32(nr * nr + ni * ni);
            const float k = 1.0f / m;  // multiply by the reciprocal, never divide by m
            nr = nr * k;
            ni = ni * k;
        }
        re = nr;
        im = ni;
    }
};

}  // namespace halvo
