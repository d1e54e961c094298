// Guarded: a float lane type whose arithmetic gives the float32 operations'
// bits without ever handing the floating-point unit a subnormal float32
// operand or result.
//
// Many x86 cores (measured here: a Zen 4) take a microcode assist of about
// 150 cycles for a multiply, FMA, divide or square root with a subnormal
// operand or result, and for an addition of normal numbers whose result is
// subnormal; comparisons and conversions run at full speed. A
// recurrence fed silence or a steady carrier decays into the subnormal range
// and may stay there for good (a limit cycle a few units of 2^-149 wide), and
// then every step costs a few assists: 40 to 150 times its normal time.
//
// Each operation runs in double and is rounded to float32 once:
//   a*b      the double product of two floats is exact (24 + 24 bits of 53),
//            so rounding it to float32 is the float32 product;
//   a+b, a-b, a/b, sqrt(a)
//            rounded to double, then to float32: the correctly rounded
//            float32 result (53 >= 2*24 + 2, a double rounding that never
//            changes the result);
//   fma      a double FMA rounded to float32, checked for the one case where
//            that double rounding could differ (see fma() below); without a
//            hardware FMA, soft_fma32 (round-to-odd in double, port/soft_fma.hpp).
// Every nonzero double involved is above 2^-300, far from the double
// subnormals, and a float32 subnormal is a normal double; the final rounding
// to float32 is a conversion, which takes no assist. Slower than plain float
// arithmetic, so it runs only where a state is near the subnormal range (see
// kernels/guard.hpp).
#pragma once

#include <cmath>

#include "fp.hpp"
#include "lanes.hpp"

namespace halvo::simd {

// x in double, opaque to the optimiser: GCC would otherwise narrow
// (float)((double)a * (double)b) back to a float multiply, which is the same
// value but not the same instruction.
HALVO_INLINE double widen(float x) { return opaque(static_cast<double>(x)); }

struct Guarded {
    float v;

    Guarded() = default;
    HALVO_INLINE Guarded(float x) : v(x) {}  // NOLINT: a step's state loads from floats
    HALVO_INLINE operator float() const { return v; }  // NOLINT: and stores back to them

    HALVO_INLINE friend Guarded operator+(Guarded a, Guarded b) { return static_cast<float>(widen(a.v) + widen(b.v)); }
    HALVO_INLINE friend Guarded operator-(Guarded a, Guarded b) { return static_cast<float>(widen(a.v) - widen(b.v)); }
    HALVO_INLINE friend Guarded operator-(Guarded a) { return -a.v; }
    HALVO_INLINE friend Guarded operator*(Guarded a, Guarded b) {
        return static_cast<float>(widen(a.v) * widen(b.v));
    }
    HALVO_INLINE friend Guarded operator/(Guarded a, Guarded b) {
        return static_cast<float>(widen(a.v) / widen(b.v));
    }
    HALVO_INLINE friend bool operator<(Guarded a, Guarded b) { return a.v < b.v; }
    HALVO_INLINE friend bool operator>(Guarded a, Guarded b) { return a.v > b.v; }
    HALVO_INLINE friend bool operator<=(Guarded a, Guarded b) { return a.v <= b.v; }
    HALVO_INLINE friend bool operator>=(Guarded a, Guarded b) { return a.v >= b.v; }
    HALVO_INLINE friend bool operator==(Guarded a, Guarded b) { return a.v == b.v; }
    HALVO_INLINE friend bool operator!=(Guarded a, Guarded b) { return a.v != b.v; }
};
static_assert(sizeof(Guarded) == sizeof(float));

template <>
HALVO_INLINE Guarded splat<Guarded>(float x) {
    return x;
}

HALVO_INLINE Guarded select(bool m, Guarded a, Guarded b) { return m ? a : b; }

// With a double FMA: s = a*b + c rounded to double, then to float32. The
// float32 nearest s is the one nearest the exact value unless s is a
// midpoint between two floats (no other midpoint can lie between s and the
// exact value: being a double, it would be nearer than s). Then, rarely, the
// round-to-odd sum decides.
HALVO_INLINE Guarded fma(Guarded a, Guarded b, Guarded c) {
#if defined(__FMA__) || defined(__aarch64__)
    const double s = __builtin_fma(widen(a.v), widen(b.v), widen(c.v));
    const float r = static_cast<float>(s);
    const double d = s - static_cast<double>(r);  // exact: r is the float nearest s
    const double reflected = s + d;               // the neighbour of r beyond s, if s is their midpoint
    if (d != 0.0 && static_cast<double>(static_cast<float>(reflected)) == reflected) [[unlikely]]
        return port::soft_fma32(a.v, b.v, c.v);
    return r;
#else
    return port::soft_fma32(a.v, b.v, c.v);
#endif
}

HALVO_INLINE Guarded sqrt(Guarded x) { return static_cast<float>(__builtin_sqrt(widen(x.v))); }

HALVO_INLINE Guarded abs(Guarded x) { return abs32(x.v); }

HALVO_INLINE Guarded cos(Guarded x) { return std::cos(x.v); }
HALVO_INLINE Guarded sin(Guarded x) { return std::sin(x.v); }

}  // namespace halvo::simd
