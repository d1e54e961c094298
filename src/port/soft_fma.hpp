// a*b + c rounded once to float32, in plain double arithmetic, for targets
// without a fused multiply-add instruction. The C library's fmaf is not used:
// some (mingw-w64's among them) are not correctly rounded, and the results of
// this module must not depend on which C library it runs on.
//
// The product of two floats is exact in double (24 + 24 bits of 53). The sum
// p + c is formed with round-to-odd: rounded to nearest, its rounding error
// taken exactly (TwoSum), and a nonzero error with an even last bit moves the
// sum one step towards the exact value, to its odd neighbour. A round-to-odd
// result with at least two bits more than the target format rounds again to
// the correctly rounded result (53 >= 24 + 2), subnormal results included.
// Every intermediate is a multiple of 2^-298, the smallest float product, so
// none underflows in double.
#pragma once

#include <bit>
#include <cstdint>

namespace halvo::port {

// Always inlined: every instruction-set level gets its own copy, never a
// shared out-of-line one (which the linker would pick for all levels).
[[gnu::always_inline]] inline float soft_fma32(float a, float b, float c) {
    const double p = static_cast<double>(a) * static_cast<double>(b);  // exact
    const double cd = c;
    const double s = p + cd;
    // Infinite or NaN operands or sum: nothing to round; the same operation
    // in double gives IEEE's answer (inf*0 and inf-inf are NaN).
    if (!(s - s == 0.0)) return static_cast<float>(s);
    // TwoSum: s + e == p + cd exactly.
    const double pv = s - cd;
    const double cv = s - pv;
    const double e = (p - pv) + (cd - cv);
    std::uint64_t bits = std::bit_cast<std::uint64_t>(s);
    if (e != 0.0 && (bits & 1u) == 0) {
        // The exact value lies strictly between s and its neighbour on e's
        // side; that neighbour is odd. Sign and magnitude: a step away from
        // zero adds one to the bits, a step towards zero subtracts one (s is
        // not zero here: a zero sum of nonzero p and c is exact).
        const bool away = (e > 0.0) == (s > 0.0);
        bits = away ? bits + 1 : bits - 1;
    }
    return static_cast<float>(std::bit_cast<double>(bits));
}

}  // namespace halvo::port
