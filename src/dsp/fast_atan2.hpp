// FastAtan2: four-quadrant float32 arctangent from a second-order polynomial
// with octant folding; error within about 0.0015 rad. No state.
#pragma once

#include "../simd/fp.hpp"
#include "constants.hpp"

namespace halvo {

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
    // The octant's operands are chosen by bit masks so that a compiler keeps
    // one division per sample instead of computing both and choosing after.
    const std::uint32_t m = 0u - static_cast<std::uint32_t>(steep);
    const std::uint32_t bx = std::bit_cast<std::uint32_t>(ax);
    const std::uint32_t by = std::bit_cast<std::uint32_t>(ay);
    const float num = std::bit_cast<float>((bx & m) | (by & ~m));  // steep ? ax : ay
    const float den = std::bit_cast<float>((by & m) | (bx & ~m));  // steep ? ay : ax
    const float p = atan_poly(num / (den + kAtanEps));
    float a = steep ? (kHalfPi - p) : p;
    a = (x < 0.0f) ? (kPi - a) : a;  // strict: -0.0 is not negative
    a = (y < 0.0f) ? -a : a;
    return a;
}

}  // namespace halvo
