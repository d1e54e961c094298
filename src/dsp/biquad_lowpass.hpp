// BiquadLowpass: second-order Butterworth low-pass section (Q = 1/sqrt 2,
// bilinear transform) in transposed direct form II, cut-off at 0.9 * bw.
//
// Classes use it in pairs: two sections with equal coefficients in series.
// State: s1, s2, zero at design; changed only by step().
#pragma once

#include <cmath>

#include "fp.hpp"

namespace halvo {

struct BiquadLowpass {
    float b0;  // feed-forward coefficients, divided by a0 (a0 = 1 is not stored)
    float b1;
    float b2;
    float a1;  // feedback coefficients, divided by a0
    float a2;
    float s1;  // transposed direct form II state; 0.0
    float s2;  // 0.0

    static BiquadLowpass design(float fs, float bw) {
        static_assert(std::bit_cast<std::uint32_t>(0.9f) == 0x3F666666u);
        static_assert(std::bit_cast<std::uint32_t>(1.4142135f) == 0x3FB504F3u);
        // Operations in this order are part of the result; do not regroup.
        const float w = ((bw * 0.9f) * kTwoPi) / fs;
        const float c = std::cos(w);
        const float s = std::sin(w);
        const float alpha = s / 1.4142135f;
        const float r = 1.0f / (1.0f + alpha);  // coefficients are scaled by r, never divided
        BiquadLowpass q;
        q.b0 = (0.5f * (1.0f - c)) * r;
        q.b1 = (1.0f - c) * r;
        q.b2 = q.b0;
        q.a1 = (-2.0f * c) * r;
        q.a2 = (1.0f - alpha) * r;
        q.s1 = 0.0f;
        q.s2 = 0.0f;
        return q;
    }

    HALVO_INLINE float step(float x) { return step_with(*this, s1, s2, x); }

    // One step of a section whose state is (s1, s2) and whose coefficients are
    // those of `c` (sections designed alike share one coefficient set).
    HALVO_INLINE static float step_with(const BiquadLowpass& c, float& s1, float& s2, float x) {
        const float y = fma32(c.b0, x, s1);  // fused
        const float t = fma32(c.b1, x, s2);  // fused, with the old s2
        s1 = t - c.a1 * y;
        s2 = c.b2 * x - c.a2 * y;
        return y;
    }

    // The same step for four sections side by side, one in each lane of a
    // vector (coefficients shared, states separate): the same operations on
    // each lane as step_with.
    HALVO_INLINE static f32x4 step_x4(const BiquadLowpass& c, f32x4& s1, f32x4& s2, f32x4 x) {
        const f32x4 y = fma32x4(splat4(c.b0), x, s1);  // fused
        const f32x4 t = fma32x4(splat4(c.b1), x, s2);  // fused, with the old s2
        s1 = t - splat4(c.a1) * y;
        s2 = splat4(c.b2) * x - splat4(c.a2) * y;
        return y;
    }
};

// Two sections with one coefficient set and separate state, in series.
struct BiquadPair {
    BiquadLowpass first;   // section one, fed the pair's input
    BiquadLowpass second;  // section two, fed section one's output

    static BiquadPair design(float fs, float bw) {
        const BiquadLowpass q = BiquadLowpass::design(fs, bw);
        return {q, q};
    }

    HALVO_INLINE float step(float x) { return second.step(first.step(x)); }
};

}  // namespace halvo
