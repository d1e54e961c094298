// Float32 arithmetic with one rounding per named operation, for recomputing
// the sections step by step in the tests.
//
// Products, quotients, sums and square roots are formed in double and then
// rounded to float32: a double holds the exact product of two floats, and
// for + - * / and sqrt the double result rounded to float is the correctly
// rounded float result (double has more than 2 * 24 + 2 significand bits).
// Each result passes through a volatile float, so the compiler can neither
// turn these back into float expressions nor fuse them: the helpers give
// IEEE float32 results whatever the floating-point flags of the build.
// Fused multiply-adds come from the module's own correctly rounded one
// (checked against exact arithmetic by check_soft_fma.py), not the C
// library's fmaf, which is inexact in some C libraries (mingw-w64's).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "port/soft_fma.hpp"

namespace halvo_test {

// Rounds to float32 and hides the result from the optimiser.
inline float rounded(double v) {
    volatile float f = static_cast<float>(v);
    return f;
}

inline float mul(float a, float b) { return rounded(static_cast<double>(a) * b); }
inline float divide(float a, float b) { return rounded(static_cast<double>(a) / b); }
inline float add(float a, float b) { return rounded(static_cast<double>(a) + b); }
inline float sub(float a, float b) { return rounded(static_cast<double>(a) - b); }
inline float root(float a) { return rounded(std::sqrt(static_cast<double>(a))); }
inline float fused(float a, float b, float c) { return halvo::port::soft_fma32(a, b, c); }

// Hides a value from the optimiser, so that library calls on it run at run
// time (like the module's own calls) instead of being folded while compiling.
inline float opaque(float x) { return rounded(x); }

// Distance in units in the last place between two finite floats of the same sign.
inline long ulps_apart(float a, float b) {
    const long ia = static_cast<long>(std::bit_cast<std::int32_t>(a));
    const long ib = static_cast<long>(std::bit_cast<std::int32_t>(b));
    return ia > ib ? ia - ib : ib - ia;
}

}  // namespace halvo_test
