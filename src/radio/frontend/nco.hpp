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
#include <cstddef>
#include <cstdint>

#include "../../simd/fp.hpp"
#include "../../simd/vec8.hpp"

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

// The oscillator as the mixers run it: the polynomial only at anchors, a
// rotation elsewhere. For sample n of the stream (n counts from 0 at the
// oscillator's first sample; r is the sample of the latest retune, 0 at the
// start), with (wc, ws) = nco_cos_sin(8 * inc mod 2^32) for the current inc:
//
//   n is an anchor when n mod 64 < 8 or n - r < 8:
//     (c[n], s[n]) = nco_cos_sin(phi[n])
//   otherwise, from the sample eight back (the same inc):
//     c[n] = c[n-8]*wc - s[n-8]*ws;  s[n] = s[n-8]*wc + c[n-8]*ws   (products rounded, then the sum)
//
// Anchors fall at fixed stream positions, so no rounding depends on where a
// call starts; eight samples in a row are eight independent rotations (one
// vector multiply per lane), and the drift between anchors stays within
// 7 rotations (|error| < 1e-6).
struct RotatingNco {
    std::uint32_t phi = 0;    // phase of the next sample
    std::uint32_t inc = 0;    // phase step per sample
    std::uint32_t pos = 0;    // index of the next sample, mod 2^32 (64 divides 2^32)
    std::uint32_t since = 0;  // samples since the latest retune, saturated at 8
    float wc = 1.0f, ws = 0.0f;  // the eight-sample rotation
    float rc[8] = {}, rs[8] = {};  // cos, sin of the last eight samples, at slot n mod 8 (not over-aligned: see binding.hpp)

    void set_step(std::uint32_t step) {
        inc = step;
        since = 0;
        nco_cos_sin(8u * step, wc, ws);
    }

    // One sample: its (cos, sin), then on to the next.
    HALVO_INLINE void next(float& c, float& s) {
        const unsigned slot = pos & 7u;
        if ((pos & 63u) < 8u || since < 8u) {
            nco_cos_sin(phi, c, s);
        } else {
            const float pc = rc[slot], ps = rs[slot];
            // opaque: the pair stays two products and a sum (see fp.hpp)
            c = pc * wc - opaque(ps * ws);
            s = ps * wc + opaque(pc * ws);
        }
        rc[slot] = c;
        rs[slot] = s;
        ++pos;
        if (since < 8u) ++since;
        phi += inc;
    }

    // Eight samples may go as one vector from here on: pos on a multiple of
    // eight and no retune among the eight samples before.
    HALVO_INLINE bool vector_ready() const { return (pos & 7u) == 0 && since >= 8u; }

    // The eight anchors from pos (a multiple of 64), in the lane order of
    // evens8/odds8: lane j holds sample pos + kLaneSample[j].
    static constexpr unsigned kLaneSample[8] = {0, 1, 4, 5, 2, 3, 6, 7};
    HALVO_INLINE void anchor8(float* c, float* s) const {
        for (unsigned j = 0; j < 8; ++j) nco_cos_sin(phi + kLaneSample[j] * inc, c[j], s[j]);
    }
};

// n samples of the oscillator: scalar(i, c, s) for sample i taken alone,
// vec(i, c, s) for samples i..i+7 at once (c, s: f32x8 in the lane order of
// evens8/odds8). Single samples until the oscillator is vector_ready, then
// eights, then single samples for the rest: the same values either way.
template <class Scalar, class Vec>
HALVO_INLINE void nco_run(RotatingNco& o, std::size_t n, Scalar&& scalar, Vec&& vec) {
    std::size_t i = 0;
    for (; i < n && !o.vector_ready(); ++i) {
        float c, s;
        o.next(c, s);
        scalar(i, c, s);
    }
    if (n - i >= 8) {
        f32x8 c = part_order8(load8(o.rc)), s = part_order8(load8(o.rs));
        const f32x8 wc = splat8(o.wc), ws = splat8(o.ws);
        const std::uint32_t step8 = 8u * o.inc;
        for (; n - i >= 8; i += 8) {
            if ((o.pos & 63u) == 0) {
                alignas(32) float ac[8], as[8];
                o.anchor8(ac, as);
                c = load8(ac);
                s = load8(as);
            } else {
                const f32x8 c1 = c * wc - s * ws;
                s = s * wc + c * ws;
                c = c1;
            }
            vec(i, c, s);
            o.pos += 8u;
            o.phi += step8;
        }
        store8(o.rc, part_order8(c));
        store8(o.rs, part_order8(s));
    }
    for (; i < n; ++i) {
        float c, s;
        o.next(c, s);
        scalar(i, c, s);
    }
}

}  // namespace halvo::frontend
