// Numerically controlled oscillator: a 32-bit integer phase (one turn =
// 2^32) and a float32 polynomial cosine and sine of it. The phase of input
// sample n is phi[n] = phi[0] + n * inc (mod 2^32), exact in integers, so
// nothing depends on where a block starts; a new inc takes effect at the
// next sample and the phase carries on from where it is.
//
// nco_cos_sin(phi), in this order, every step one float32 rounding:
//   k  = (phi + 2^29) >> 30                    quadrant nearest to phi (0..3)
//   r  = int32(phi - (k << 30))                in [-2^29, 2^29)
//   t  = float(r) * 2^-32                      turns, |t| <= 1/8 (int->float rounds to nearest)
//   t2 = t * t
//   u  = S3; u = S2 + t2*u; u = S1 + t2*u; u = S0 + t2*u; s = t * u        (products, then sums)
//   v  = C3; v = C2 + t2*v; v = C1 + t2*v; v = C0 + t2*v; c = 1 + t2 * v
//   (c, s) swapped when k is odd; cos = -c when bit 1 of k+1 is set, sin = -s when bit 1 of k is set
// so (cos, sin) approximate (cos, sin)(2 pi phi / 2^32) within 1.1e-7.
#pragma once

#include <cmath>
#include <cstdint>

#include "../../simd/fp.hpp"

namespace halvo::frontend {

// sin(2 pi t) / t and (cos(2 pi t) - 1) / t^2 as polynomials in t^2 on
// |t| <= 1/8 (least-maximum-error fits, rounded to float32).
inline constexpr float kNcoS0 = 0x1.921fb4p+2f;
inline constexpr float kNcoS1 = -0x1.4abba8p+5f;
inline constexpr float kNcoS2 = 0x1.465a3ep+6f;
inline constexpr float kNcoS3 = -0x1.2cf5d4p+6f;
inline constexpr float kNcoC0 = -0x1.3bd3ccp+4f;
inline constexpr float kNcoC1 = 0x1.03c1dep+6f;
inline constexpr float kNcoC2 = -0x1.55c664p+6f;
inline constexpr float kNcoC3 = 0x1.d9f7bcp+5f;

HALVO_INLINE void nco_cos_sin(std::uint32_t phi, float& cos_out, float& sin_out) {
    const std::uint32_t k = (phi + 0x20000000u) >> 30;
    const std::int32_t r = static_cast<std::int32_t>(phi - (k << 30));
    const float t = static_cast<float>(r) * 0x1p-32f;
    const float t2 = t * t;
    float u = kNcoS3;
    u = kNcoS2 + t2 * u;
    u = kNcoS1 + t2 * u;
    u = kNcoS0 + t2 * u;
    const float s = t * u;
    float v = kNcoC3;
    v = kNcoC2 + t2 * v;
    v = kNcoC1 + t2 * v;
    v = kNcoC0 + t2 * v;
    const float c = 1.0f + t2 * v;
    const float c1 = (k & 1u) ? s : c;
    const float s1 = (k & 1u) ? c : s;
    cos_out = ((k + 1u) & 2u) ? -c1 : c1;
    sin_out = (k & 2u) ? -s1 : s1;
}

// The phase step of a frequency: round(hz / fs * 2^32) mod 2^32 (|hz| <= fs/2).
inline std::uint32_t nco_step(double hz, double fs) {
    const double turns = hz / fs;
    const long long q = std::llround(turns * 4294967296.0);
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(q));
}

}  // namespace halvo::frontend
