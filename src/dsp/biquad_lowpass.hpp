// BiquadLowpass: second-order Butterworth low-pass section (Q = 1/sqrt 2,
// bilinear transform) in transposed direct form II, cut-off at 0.9 * bw.
//
// Classes use it in pairs: two sections with equal coefficients in series.
// State: s1, s2, zero at design; changed only by step().
#pragma once

#include <cmath>

#include "../simd/fp.hpp"
#include "constants.hpp"

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

    // The same step for sections side by side, one in each lane of a vector
    // (coefficients shared, states separate): the same operations on each
    // lane as step_with. step_x2 runs lanes 0 and 1 (lanes 2 and 3 stay 0),
    // step_x4 all four.
    HALVO_INLINE static f32x4 step_x2(const BiquadLowpass& c, f32x4& s1, f32x4& s2, f32x4 x) {
        return step_lanes<fma32x2>(c, s1, s2, x);
    }

    HALVO_INLINE static f32x4 step_x4(const BiquadLowpass& c, f32x4& s1, f32x4& s2, f32x4 x) {
        return step_lanes<fma32x4>(c, s1, s2, x);
    }

private:
    template <f32x4 (*Fma)(f32x4, f32x4, f32x4)>
    HALVO_INLINE static f32x4 step_lanes(const BiquadLowpass& c, f32x4& s1, f32x4& s2, f32x4 x) {
        const f32x4 y = Fma(splat4(c.b0), x, s1);  // fused
        const f32x4 t = Fma(splat4(c.b1), x, s2);  // fused, with the old s2
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

// A BiquadPair run with its two sections side by side in lanes 0 and 1 of a
// vector: the first section on sample i while the second runs on sample
// i - 1, fed the first one's output of the step before. One vector step per
// sample does the work of two scalar ones, with the same operations on each
// section, and the loop-carried chain stays that of one section. Outputs lag
// inputs by one sample: first() takes a block's first input, next() each
// later one and returns the output for the sample before it, last() returns
// the output for the block's last sample. The two half steps at the ends
// put the idle section's state back as it was.
struct BiquadPairLanes {
    BiquadLowpass c;  // the coefficients of both sections (designed alike)
    f32x4 s1;         // lane 0: first section's s1, lane 1: second's; lanes 2, 3: 0
    f32x4 s2;
    f32x4 y;          // the last step's outputs

    static BiquadPairLanes load(const BiquadPair& p) {
        return {p.first, lanes2(p.first.s1, p.second.s1), lanes2(p.first.s2, p.second.s2), f32x4{}};
    }

    void store(BiquadPair& p) const {
        p.first.s1 = s1[0];
        p.first.s2 = s2[0];
        p.second.s1 = s1[1];
        p.second.s2 = s2[1];
    }

    HALVO_INLINE void first(float x) {
        const f32x4 s1_old = s1, s2_old = s2;
        y = BiquadLowpass::step_x2(c, s1, s2, lanes1(x));
        s1 = HALVO_SHUFFLE(s1, s1_old, 0, 5, 2, 3);  // the second section did not run
        s2 = HALVO_SHUFFLE(s2, s2_old, 0, 5, 2, 3);
    }

    HALVO_INLINE float next(float x) {
        y = BiquadLowpass::step_x2(c, s1, s2, HALVO_SHUFFLE(lanes1(x), y, 0, 4, 1, 1));
        return y[1];
    }

    HALVO_INLINE float last() {
        const f32x4 s1_old = s1, s2_old = s2;
        y = BiquadLowpass::step_x2(c, s1, s2, HALVO_SHUFFLE(f32x4{}, y, 0, 4, 1, 1));
        s1 = HALVO_SHUFFLE(s1_old, s1, 0, 5, 2, 3);  // the first section did not run
        s2 = HALVO_SHUFFLE(s2_old, s2, 0, 5, 2, 3);
        return y[1];
    }
};

}  // namespace halvo
