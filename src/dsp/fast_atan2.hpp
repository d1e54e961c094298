// FastAtan2: four-quadrant float32 arctangent from a second-order polynomial
// with octant folding; error within about 0.0015 rad. No state.
#pragma once

#include "fp.hpp"

namespace halvo {

inline constexpr float kPi = 3.1415927f;
inline constexpr float kHalfPi = 1.5707964f;
inline constexpr float kQuarterPi = 0.7853982f;
inline constexpr float kAtanEps = 1.1920929e-7f;  // 2^-23
static_assert(std::bit_cast<std::uint32_t>(kAtanEps) == 0x34000000u);

// P(t) ~ atan(t) on [0, 1], evaluated as u - v*w with
// u = (pi/4)*t, v = t*(t - 1), w = 0.2447 + 0.0663*t; each operation rounds
// on its own. This order fixes the bits of every phase-based output.
HALVO_INLINE float atan_poly(float t) {
    const float u = kQuarterPi * t;
    const float v = t * (t - 1.0f);
    const float w = 0.2447f + 0.0663f * t;
    return u - v * w;
}

// Written with selects rather than branches: the same operations on the same
// values, but no mispredicted jumps on noisy input, and a loop of these
// compiles to vector code.
HALVO_INLINE float fast_atan2(float y, float x) {
    const float ax = abs32(x);
    const float ay = abs32(y);
    const bool steep = ay > ax;  // ordered: false when either is NaN
    const float num = steep ? ax : ay;
    const float den = steep ? ay : ax;
    const float p = atan_poly(num / (den + kAtanEps));
    float a = steep ? (kHalfPi - p) : p;
    a = (x < 0.0f) ? (kPi - a) : a;  // strict: -0.0 is not negative
    a = (y < 0.0f) ? -a : a;
    return a;
}

}  // namespace halvo
