// The polyphase FIR engine behind ChannelSelector, Resampler and
// Upconverter: interpolate by L, filter by the prototype h (N taps, at L
// times the input rate), keep every M-th sample.
//
// Output k sits at high-rate time k*M = n0*L + p (0 <= p < L): it is made
// when input sample n0 arrives, from phase p of h, whose taps reversed and
// padded with zeros at the old end to K (a multiple of 16) are
//   g_p[j] = h[p + (K-1-j)*L]   (0 when that index is N or more),
// over the window w[j] = x[n0 - K + 1 + j] (x = 0 before the stream):
//
//   P[l] = +0 for l = 0..15
//   for j = 0..K-1:  P[j % 16] = P[j % 16] + g_p[j] * w[j]     (product rounded, then sum)
//   Q[l] = P[l] + P[l+8]  (l < 8);  R[l] = Q[l] + Q[l+4]  (l < 4)
//   S[l] = R[l] + R[l+2]  (l < 2);  y = S[0] + S[1]
//
// real and imaginary parts alike (the taps are real). Sixteen partial sums
// are two eight-lane vectors, so the vector loop is this order exactly.
//
// Samples are kept as planes (real parts, imaginary parts) of K-1 past
// samples followed by a chunk of new ones: the work space is fixed by the
// design, whatever the call's length. A call's input arrives through a fill
// function that writes one chunk into the planes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../../simd/fp.hpp"
#include "../../simd/vec8.hpp"
#include "../../simd/canonical_nan.hpp"

namespace halvo::frontend {

inline constexpr std::size_t kFirChunk = 4096;

// y (real) per the order above over k (a multiple of 16) taps g and samples w.
HALVO_INLINE float fir_reduce(f32x8 a, f32x8 b) {
    alignas(32) float q[8];
    store8(q, a + b);
    const float r0 = q[0] + q[4], r1 = q[1] + q[5], r2 = q[2] + q[6], r3 = q[3] + q[7];
    const float s0 = r0 + r2, s1 = r1 + r3;
    return s0 + s1;
}

// Lanes 0-3 plus lanes 4-7 of a + b: R[l] = Q[l] + Q[l+4] with Q = a + b.
HALVO_INLINE f32x4 fir_fold(f32x8 a, f32x8 b) {
    const f32x8 q = a + b;
#if defined(__AVX__) && defined(HALVO_HAS_SHUFFLEVECTOR)
    return HALVO_SHUFFLE(q, q, 0, 1, 2, 3) + HALVO_SHUFFLE(q, q, 4, 5, 6, 7);
#elif defined(__AVX__)
    // GCC 11's __builtin_shuffle cannot narrow: the halves lane by lane.
    return f32x4{q[0], q[1], q[2], q[3]} + f32x4{q[4], q[5], q[6], q[7]};
#else
    return q.lo + q.hi;
#endif
}

// The rest of the tree for four sums at once: (ra, ia) of one output and
// (rb, ib) of the next, as R vectors; out gets ya.re, ya.im, yb.re, yb.im.
HALVO_INLINE void fir_finish4(f32x4 ra, f32x4 ia, f32x4 rb, f32x4 ib, float* out) {
    const f32x4 sa = HALVO_SHUFFLE(ra, ia, 0, 1, 4, 5) + HALVO_SHUFFLE(ra, ia, 2, 3, 6, 7);  // R0+R2, R1+R3 of each
    const f32x4 sb = HALVO_SHUFFLE(rb, ib, 0, 1, 4, 5) + HALVO_SHUFFLE(rb, ib, 2, 3, 6, 7);
    const f32x4 y = HALVO_SHUFFLE(sa, sb, 0, 2, 4, 6) + HALVO_SHUFFLE(sa, sb, 1, 3, 5, 7);  // S0 + S1
    __builtin_memcpy(out, &y, sizeof y);
}

struct PolyphaseFir {
    int l = 1;                  // interpolation
    int m = 1;                  // decimation
    std::size_t k = 16;         // taps per phase (multiple of 16)
    std::size_t n_taps = 0;     // taps of the prototype, N
    bool complex = true;        // two planes, or one
    std::vector<float> g;       // l phases of k taps: g[p*k + j]
    std::vector<float> br, bi;  // planes: k-1 past samples, then the chunk
    std::size_t chunk = kFirChunk;
    int phase = 0;              // p of the next output
    std::uint64_t ahead = 0;    // n0 of the next output minus the samples seen
    int m_whole = 1, m_part = 0;  // m = m_whole*l + m_part

    static PolyphaseFir make(int l, int m, const std::vector<float>& h, bool complex) {
        PolyphaseFir f;
        f.l = l;
        f.m = m;
        f.complex = complex;
        f.n_taps = h.size();
        f.m_whole = m / l;
        f.m_part = m % l;
        const std::size_t per = (h.size() + static_cast<std::size_t>(l) - 1) / static_cast<std::size_t>(l);
        f.k = std::max<std::size_t>(16, (per + 15) / 16 * 16);
        f.g.assign(static_cast<std::size_t>(l) * f.k, 0.0f);
        for (int p = 0; p < l; ++p)
            for (std::size_t j = 0; j < f.k; ++j) {
                const std::size_t i = static_cast<std::size_t>(p) + (f.k - 1 - j) * static_cast<std::size_t>(l);
                if (i < h.size()) f.g[static_cast<std::size_t>(p) * f.k + j] = h[i];
            }
        f.chunk = std::max(kFirChunk, f.k);
        f.br.assign(f.k - 1 + f.chunk, 0.0f);
        if (complex) f.bi.assign(f.k - 1 + f.chunk, 0.0f);
        return f;
    }

    std::size_t hist() const { return k - 1; }

    // Outputs that n more input samples complete.
    HALVO_INLINE std::size_t output_count(std::size_t n) const {
        if (n == 0 || ahead >= n) return 0;
        // floor((d*l + l - 1 - phase) / m) + 1 without overflow in 64 bits:
        // with d = a*m + b it is a*l + floor((b*l + l - 1 - phase) / m) + 1
        // (b*l < m*l < 2^32). No 128-bit division: on aarch64 that would
        // pull in the compiler's runtime library and its own math functions.
        const std::uint64_t d = n - 1 - ahead;
        const std::uint64_t lu = static_cast<std::uint64_t>(l), mu = static_cast<std::uint64_t>(m);
        const std::uint64_t a = d / mu, b = d % mu;
        return static_cast<std::size_t>(a * lu + (b * lu + lu - 1 - static_cast<std::uint64_t>(phase)) / mu + 1);
    }

    HALVO_INLINE void step() {
        phase += m_part;
        ahead += static_cast<std::uint64_t>(m_whole);
        if (phase >= l) {
            phase -= l;
            ahead += 1;
        }
    }

    // Two outputs side by side (their sums are independent chains), to y[0]
    // and y[1]: taps ga over the window at plane offset oa, taps gb over the
    // one at ob. SameTaps (two outputs of the same phase, as with L = 1):
    // gb is ga, and one load of the taps serves both.
    template <bool SameTaps>
    HALVO_INLINE void dot2_complex(const float* ga, const float* gb, std::size_t oa, std::size_t ob, cf32* y) const {
        const float* ra = br.data() + oa;
        const float* ia = bi.data() + oa;
        const float* rb = br.data() + ob;
        const float* ib = bi.data() + ob;
        f32x8 ar0 = splat8(0.0f), ar1 = ar0, ai0 = ar0, ai1 = ar0, cr0 = ar0, cr1 = ar0, ci0 = ar0, ci1 = ar0;
        for (std::size_t j = 0; j < k; j += 16) {
            const f32x8 a0 = load8(ga + j), a1 = load8(ga + j + 8);
            const f32x8 b0 = SameTaps ? a0 : load8(gb + j), b1 = SameTaps ? a1 : load8(gb + j + 8);
            ar0 = ar0 + a0 * load8(ra + j);
            ar1 = ar1 + a1 * load8(ra + j + 8);
            ai0 = ai0 + a0 * load8(ia + j);
            ai1 = ai1 + a1 * load8(ia + j + 8);
            cr0 = cr0 + b0 * load8(rb + j);
            cr1 = cr1 + b1 * load8(rb + j + 8);
            ci0 = ci0 + b0 * load8(ib + j);
            ci1 = ci1 + b1 * load8(ib + j + 8);
        }
        fir_finish4(fir_fold(ar0, ar1), fir_fold(ai0, ai1), fir_fold(cr0, cr1), fir_fold(ci0, ci1), &y[0].re);
    }

    HALVO_INLINE void dot1_complex(const float* ga, std::size_t oa, cf32& ya) const {
        const float* ra = br.data() + oa;
        const float* ia = bi.data() + oa;
        f32x8 ar0 = splat8(0.0f), ar1 = ar0, ai0 = ar0, ai1 = ar0;
        for (std::size_t j = 0; j < k; j += 16) {
            const f32x8 a0 = load8(ga + j), a1 = load8(ga + j + 8);
            ar0 = ar0 + a0 * load8(ra + j);
            ar1 = ar1 + a1 * load8(ra + j + 8);
            ai0 = ai0 + a0 * load8(ia + j);
            ai1 = ai1 + a1 * load8(ia + j + 8);
        }
        ya = cf32{fir_reduce(ar0, ar1), fir_reduce(ai0, ai1)};
    }

    HALVO_INLINE void dot2_real(const float* ga, const float* gb, std::size_t oa, std::size_t ob, float& ya, float& yb) const {
        const float* ra = br.data() + oa;
        const float* rb = br.data() + ob;
        f32x8 a0s = splat8(0.0f), a1s = a0s, b0s = a0s, b1s = a0s;
        for (std::size_t j = 0; j < k; j += 16) {
            a0s = a0s + load8(ga + j) * load8(ra + j);
            a1s = a1s + load8(ga + j + 8) * load8(ra + j + 8);
            b0s = b0s + load8(gb + j) * load8(rb + j);
            b1s = b1s + load8(gb + j + 8) * load8(rb + j + 8);
        }
        ya = fir_reduce(a0s, a1s);
        yb = fir_reduce(b0s, b1s);
    }

    // n input samples through fill(first, count, re_plane, im_plane) (the
    // planes' next count entries; im_plane null for a real engine); the
    // outputs, output_count(n) of them, to out (cf32 or float).
    template <class Out, class Fill>
    HALVO_INLINE void run(std::size_t n, Out* out, Fill&& fill) {
        const std::size_t h = hist();
        std::size_t done = 0, o = 0;
        while (done < n) {
            const std::size_t c = std::min(chunk, n - done);
            fill(done, c, br.data() + h, complex ? bi.data() + h : nullptr);
            // Output with n0 = done + ahead has its window at plane offset ahead.
            while (ahead < c) {
                const std::size_t oa = static_cast<std::size_t>(ahead);
                const float* ga = g.data() + static_cast<std::size_t>(phase) * k;
                step();
                if (ahead < c) {
                    const std::size_t ob = static_cast<std::size_t>(ahead);
                    const float* gb = g.data() + static_cast<std::size_t>(phase) * k;
                    step();
                    if constexpr (sizeof(Out) == sizeof(cf32)) {
                        if (ga == gb && ob - oa == 8)  // decimation 8: the second window is the first one vector on
                            dot2_complex<true>(ga, ga, oa, oa + 8, out + o);
                        else if (ga == gb)
                            dot2_complex<true>(ga, ga, oa, ob, out + o);
                        else
                            dot2_complex<false>(ga, gb, oa, ob, out + o);
                    } else {
                        dot2_real(ga, gb, oa, ob, out[o], out[o + 1]);
                    }
                    o += 2;
                } else {
                    if constexpr (sizeof(Out) == sizeof(cf32)) {
                        dot1_complex(ga, oa, out[o]);
                    } else {
                        float unused;
                        dot2_real(ga, ga, oa, oa, out[o], unused);
                    }
                    o += 1;
                }
            }
            ahead -= c;
            std::memmove(br.data(), br.data() + c, h * sizeof(float));
            if (complex) std::memmove(bi.data(), bi.data() + c, h * sizeof(float));
            done += c;
        }
    }
};

}  // namespace halvo::frontend
