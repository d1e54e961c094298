// Upconverter: the transmit mirror of ChannelSelector. Complex64 at fs in,
// complex64 at fs * interpolation out, the signal placed at offset_hz.
//
//   make(fs, interpolation, offset_hz, bandwidth_hz, stopband_db)
//   process<Isa>(const cf32* in, cf32* out, n)   out: n * interpolation samples
//   set_offset(hz)                               from the next output sample on, phase continuous
//   fs_out(), delay()                            output rate; group delay in output samples
//
// The input is interpolated by the engine of polyphase.hpp with
// L = interpolation, M = 1 and the prototype
//   lowpass_design(fs*I, bandwidth_hz/2, min(fs - bandwidth_hz/2, fs*I/2), stopband_db, I)
// (I = interpolation; the stopband starts at the first image of the
// passband), then output sample n (y) is mixed up by the rotating
// oscillator of nco.hpp, whose phase steps once per output sample:
//   (c, s) = RotatingNco's (c[n], s[n])
//   out.re = y.re*c - y.im*s;  out.im = y.im*c + y.re*s     (products rounded, then the sum)
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "channel_selector.hpp"
#include "design.hpp"
#include "nco.hpp"
#include "polyphase.hpp"

namespace halvo::frontend {

struct Upconverter {
    double fs = 1.0;
    int interpolation = 1;
    double offset_hz = 0.0;
    double bandwidth_hz = 0.0;
    double stopband_db = 70.0;
    RotatingNco osc;  // at the output rate
    PolyphaseFir fir;           // its planes, k and phases g (the loop reads them as gt)
    std::vector<float> gt;      // phases in blocks of eight: gt[(b*k + j)*8 + lane] = g_{8b+lane}[j] (0 past the last phase)

    static Upconverter make(double fs, int interpolation, double offset_hz, double bandwidth_hz, double stopband_db = 70.0) {
        if (!(fs > 0.0 && std::isfinite(fs))) refuse("fs", fs, "finite and > 0");
        if (interpolation < 1 || interpolation > kMaxFactor)
            refuse("interpolation", interpolation, "an integer from 1 to " + std::to_string(kMaxFactor));
        const double high = fs * interpolation;
        if (!(std::fabs(offset_hz) <= 0.5 * high))
            refuse("offset_hz", offset_hz, "within +-fs*interpolation/2 = +-" + show(0.5 * high));
        if (!(bandwidth_hz > 0.0 && bandwidth_hz < fs)) refuse("bandwidth_hz", bandwidth_hz, "above 0 and below fs = " + show(fs));
        if (!(stopband_db >= 20.0 && stopband_db <= 140.0)) refuse("stopband_db", stopband_db, "from 20 to 140");
        const double pass = 0.5 * bandwidth_hz;
        Upconverter u{.fs = fs, .interpolation = interpolation, .offset_hz = offset_hz, .bandwidth_hz = bandwidth_hz,
                      .stopband_db = stopband_db, .osc = {},
                      .fir = PolyphaseFir::make(interpolation, 1,
                                                lowpass_design(high, pass, std::fmin(fs - pass, 0.5 * high), stopband_db,
                                                               static_cast<double>(interpolation)),
                                                true),
                      .gt = {}};
        u.osc.set_step(nco_step(offset_hz, high));
        const std::size_t k = u.fir.k, blocks = (static_cast<std::size_t>(interpolation) + 7) / 8;
        u.gt.assign(blocks * k * 8, 0.0f);
        for (std::size_t p = 0; p < static_cast<std::size_t>(interpolation); ++p)
            for (std::size_t j = 0; j < k; ++j) u.gt[((p / 8) * k + j) * 8 + p % 8] = u.fir.g[p * k + j];
        return u;
    }

    void set_offset(double hz) {
        const double high = fs * interpolation;
        if (!(std::fabs(hz) <= 0.5 * high)) refuse("offset_hz", hz, "within +-fs*interpolation/2 = +-" + show(0.5 * high));
        offset_hz = hz;
        osc.set_step(nco_step(hz, high));
    }

    double fs_out() const { return fs * interpolation; }
    double delay() const { return 0.5 * static_cast<double>(fir.n_taps - 1); }
    HALVO_INLINE std::size_t output_count(std::size_t n) const { return n * static_cast<std::size_t>(interpolation); }

    // Each input sample gives all I phases from one window: eight phases
    // per vector, lane = phase, every lane the order of polyphase.hpp.
    template <class Isa>
    void process(const cf32* in, cf32* out, std::size_t n) {
        const std::size_t h = fir.hist(), step = static_cast<std::size_t>(interpolation);
        float* re = fir.br.data();
        float* im = fir.bi.data();
        cf32* o = out;
        cf32* const end = out + output_count(n);
        for (std::size_t done = 0; done < n;) {
            const std::size_t c = std::min(fir.chunk, n - done);
            for (std::size_t i = 0; i < c; ++i) {
                re[h + i] = in[done + i].re;
                im[h + i] = in[done + i].im;
            }
            std::size_t i = 0;
            if (step < 8) {  // fewer phases than lanes: eight inputs per vector instead
                if (fir.k == 16)
                    for (; i + 8 <= c; i += 8, o += 8 * step) inputs8<16>(re + i, im + i, o);
                else
                    for (; i + 8 <= c; i += 8, o += 8 * step) inputs8<0>(re + i, im + i, o);
            }
            if (fir.k == 16)  // the common short design, its loops unrolled
                for (; i < c; ++i, o += step) phases<16>(re + i, im + i, o, end);
            else
                for (; i < c; ++i, o += step) phases<0>(re + i, im + i, o, end);
            std::memmove(re, re + c, h * sizeof(float));
            std::memmove(im, im + c, h * sizeof(float));
            done += c;
        }
        const std::size_t total = output_count(n);
        mix_up(osc, out, total);
        simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), 2 * total);
    }

    // The I outputs of the window wr, wi (k samples, oldest first) to y;
    // K: k when known at compile time, else 0. A last block of fewer than
    // eight phases is stored whole where the output has room up to end:
    // the extra lanes land on the next sample's outputs, which that sample
    // then writes.
    template <std::size_t K>
    HALVO_INLINE void phases(const float* wr, const float* wi, cf32* y, const cf32* end) const {
        const std::size_t k = K ? K : fir.k, total = static_cast<std::size_t>(interpolation);
        for (std::size_t first = 0; first < total; first += 8) {
            const float* g = gt.data() + (first / 8) * k * 8;
            // P[l] over the taps j = l, l+16, ...; then the fixed tree.
            // Each P[l] starts from its first product instead of from +0:
            // +0 + x differs from x only when x is -0, so the sums differ
            // only in the sign of an exact zero, and the tree's result is
            // -0 exactly when every product was -0. One +0 added to the
            // result (below) gives the bits of the sums started from +0,
            // which are never -0, for one add per eight phases instead of
            // one per tap.
            auto p = [&](std::size_t l, f32x8& pr, f32x8& pi) HALVO_STAGE {
                const f32x8 t0 = load8(g + l * 8);
                f32x8 ar = t0 * splat8(wr[l]), ai = t0 * splat8(wi[l]);
                for (std::size_t j = l + 16; j < k; j += 16) {
                    const f32x8 t = load8(g + j * 8);
                    ar = ar + t * splat8(wr[j]);
                    ai = ai + t * splat8(wi[j]);
                }
                pr = ar;
                pi = ai;
            };
            f32x8 sr, si;
            tree<1>(p, 0, sr, si);
            const f32x8 zero = splat8(0.0f);
            const f32x8 yr = part_order8(sr + zero), yi = part_order8(si + zero);
            if (end - (y + first) >= 8) {
                store8(&y[first].re, join_lo8(yr, yi));
                store8(&y[first + 4].re, join_hi8(yr, yi));
            } else {
                alignas(32) cf32 tmp[8];
                store8(&tmp[0].re, join_lo8(yr, yi));
                store8(&tmp[4].re, join_hi8(yr, yi));
                for (std::size_t i = 0; first + i < total; ++i) y[first + i] = tmp[i];
            }
        }
    }

    // The I outputs of each of eight consecutive inputs, whose windows start
    // at wr, wi (input t's at wr + t), to y: one phase per pass, lane t =
    // input t. Each lane makes the products, partial sums and tree that
    // phases() makes in that phase's lane for that input, in the same
    // order, so the bits are the same; where the interpolation is below
    // eight, phases() would leave lanes idle and this fills them.
    template <std::size_t K>
    HALVO_INLINE void inputs8(const float* wr, const float* wi, cf32* y) const {
        const std::size_t k = K ? K : fir.k, total = static_cast<std::size_t>(interpolation);
        const f32x8 zero = splat8(0.0f);
        for (std::size_t ph = 0; ph < total; ++ph) {
            const float* g = fir.g.data() + ph * k;
            auto p = [&](std::size_t l, f32x8& pr, f32x8& pi) HALVO_STAGE {
                const f32x8 t0 = splat8(g[l]);
                f32x8 ar = t0 * load8(wr + l), ai = t0 * load8(wi + l);
                for (std::size_t j = l + 16; j < k; j += 16) {
                    const f32x8 t = splat8(g[j]);
                    ar = ar + t * load8(wr + j);
                    ai = ai + t * load8(wi + j);
                }
                pr = ar;
                pi = ai;
            };
            f32x8 sr, si;
            tree<1>(p, 0, sr, si);
            alignas(32) float yr[8], yi[8];
            store8(yr, sr + zero);
            store8(yi, si + zero);
            for (std::size_t t = 0; t < 8; ++t) y[t * total + ph] = cf32{yr[t], yi[t]};
        }
    }

    // The fixed tree over the partial sums p(l): node (l, d) is p(l) at
    // d = 16, else node (l, 2d) + node (l + d, 2d); the sum is node (0, 1).
    template <std::size_t D, class P>
    HALVO_INLINE static void tree(P& p, std::size_t l, f32x8& xr, f32x8& xi) {
        if constexpr (D == 16) {
            p(l, xr, xi);
        } else {
            f32x8 ar, ai, br, bi;
            tree<2 * D>(p, l, ar, ai);
            tree<2 * D>(p, l + D, br, bi);
            xr = ar + br;
            xi = ai + bi;
        }
    }

    // y = y times the oscillator, in place.
    HALVO_INLINE static void mix_up(RotatingNco& o, cf32* y, std::size_t n) {
        nco_run(
            o, n,
            [&](std::size_t i, float c, float s) HALVO_STAGE {
                const float yr = y[i].re, yi = y[i].im;
                // opaque: keeps GCC from fusing the pair into vfmaddsub (see fp.hpp)
                y[i].re = yr * c - opaque(yi * s);
                y[i].im = yi * c + opaque(yr * s);
            },
            [&](std::size_t i, f32x8 c, f32x8 s) HALVO_STAGE {
                const f32x8 lo = load8(&y[i].re), hi = load8(&y[i + 4].re);
                const f32x8 yr = evens8(lo, hi), yi = odds8(lo, hi);
                const f32x8 ore = yr * c - yi * s, oim = yi * c + yr * s;
                store8(&y[i].re, join_lo8(ore, oim));
                store8(&y[i + 4].re, join_hi8(ore, oim));
            });
    }
};

}  // namespace halvo::frontend
