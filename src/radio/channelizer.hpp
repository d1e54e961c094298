// Channelizer: a polyphase analysis filter bank. Complex baseband at fs in;
// n_channels complex streams out, channel k centred at k*fs/n_channels
// (k > n_channels/2 being the negative frequencies (k - n_channels)*fs/n_channels).
//
// M = n_channels (a power of two), R = M / oversample input samples per
// output frame (oversample 1: critically sampled; 2: every channel at twice
// its spacing, so a signal on a channel edge comes out whole in both
// neighbours). The prototype low-pass h has L = P*M taps (P per branch).
//
// Frame m (m = 0, 1, ... counted from the first sample of the stream) ends at
// input sample t = (m+1)*R - 1 and gives, for every channel k,
//
//   y_k[m] = sum_i h[i] * x[t-i] * exp(-2j*pi*k*(t-i+1)/M)     (x[n] = 0 for n < 0)
//
// i.e. x mixed down by k*fs/M, low-pass filtered and taken every R-th
// sample. It is computed, in float32 and in exactly this order, as
//
//   1. branch sums, r = 0..M-1, real and imaginary parts alike:
//        u_r = 0; for p = 0..P-1: u_r = fma(h[p*M + r], x[t - r - p*M], u_r)
//   2. v = the unnormalised inverse DFT of u (v_k = sum_r u_r e^{+2j*pi*k*r/M})
//      by the radix-2 decimation-in-time FFT of fft_inverse() below;
//   3. oversample 1: y_k = v_k; oversample 2: y_k = -v_k when k*(m+1) is odd
//      (exp(-2j*pi*k*(t+1)/M) = (-1)^(k*(m+1))), else v_k.
//
// A call takes any number of samples: the frames it completes come out
// (output_count), a partial frame waits for the next call, so the
// concatenated outputs never depend on how the stream was split.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "../argument_error.hpp"
#include "kaiser.hpp"
#include "../simd/fp.hpp"
#include "../port/shuffle.hpp"
#include "../simd/vec8.hpp"

namespace halvo {

inline constexpr int kChannelizerMaxChannels = 4096;

// Pass- and stopband edges of the prototype, in channel spacings fs/M, for
// each oversampling factor. Critically sampled channels abut, so the
// transition band straddles the channel edge 0.5; twice oversampled channels
// keep their whole width in the passband, and their aliases (folded about
// +-1 spacing) stay clear of it as long as the stopband starts by 1.5.
struct ChannelizerEdges {
    double pass;
    double stop;
};
inline constexpr ChannelizerEdges kChannelizerEdges[2] = {{0.4, 0.6}, {0.5, 1.0}};

// Kaiser-windowed sinc low-pass for an M-branch bank: passband to pass*fs/M,
// stopband from stop*fs/M, attenuation stopband_db. Length: Kaiser's estimate
// plus one branch of margin, rounded up to whole branches (P*M taps). The
// taps sum to one (unit gain at DC), designed in double, rounded to float32.
inline std::vector<float> channelizer_prototype(int m_channels, double pass, double stop, double stopband_db) {
    const double a = stopband_db + 2.0;  // Kaiser's formulas fall short by up to 1.5 dB here
    const double beta = kaiser_beta(a);
    const double width = (stop - pass) / m_channels;  // cycles per sample
    const double estimate = (a - 7.95) / (14.36 * width) + 1.0;
    const int p = static_cast<int>(std::ceil(estimate / m_channels));
    const double fc = 0.5 * (pass + stop) / m_channels;  // cut-off, cycles per sample
    const std::vector<double> h = kaiser_sinc(p * m_channels, fc, beta);
    const double sum = tap_sum(h);
    std::vector<float> out(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) out[i] = static_cast<float>(h[i] / sum);
    return out;
}

// Twiddles of the M-point inverse FFT: w_k = (float(cos(2*pi*k/M)),
// float(sin(2*pi*k/M))), k = 0..M/2-1, the angle in double as written.
inline void fft_twiddles(int m, std::vector<float>& wr, std::vector<float>& wi) {
    wr.resize(static_cast<std::size_t>(m / 2));
    wi.resize(static_cast<std::size_t>(m / 2));
    for (int k = 0; k < m / 2; ++k) {
        const double angle = 2.0 * std::numbers::pi * k / m;
        wr[static_cast<std::size_t>(k)] = static_cast<float>(std::cos(angle));
        wi[static_cast<std::size_t>(k)] = static_cast<float>(std::sin(angle));
    }
}

inline int bit_reverse(int i, int log2m) {
    int r = 0;
    for (int b = 0; b < log2m; ++b) r |= ((i >> b) & 1) << (log2m - 1 - b);
    return r;
}

// The M-point unnormalised inverse FFT whose order of operations defines the
// channelizer's bits, on one frame: z holds u in bit-reversed order on entry
// (z[j] = u[bit_reverse(j)]) and v in natural order on return. Stage h = 1,
// 2, 4, ..., M/2; in each, for every group g (step 2h) and j = 0..h-1, with
// a = z[g+j], b = z[g+j+h]:
//   h = 1:  t = b
//   h > 1:  w = w_{j*M/(2h)}; t.re = b.re*w.re - b.im*w.im; t.im = b.re*w.im + b.im*w.re
//   z[g+j] = a + t; z[g+j+h] = a - t          (each product and sum rounded)
// The bank runs the same operations on many frames at once (lane = frame).
inline void fft_inverse(int m, const float* wr, const float* wi, float* zr, float* zi) {
    for (int g = 0; g < m; g += 2) {
        const float ar = zr[g], ai = zi[g], br = zr[g + 1], bi = zi[g + 1];
        zr[g] = ar + br;
        zi[g] = ai + bi;
        zr[g + 1] = ar - br;
        zi[g + 1] = ai - bi;
    }
    for (int h = 2; h < m; h *= 2) {
        const int step = m / (2 * h);
        for (int g = 0; g < m; g += 2 * h) {
            for (int j = 0; j < h; ++j) {
                const float cr = wr[j * step], ci = wi[j * step];
                const int a = g + j, b = g + j + h;
                const float tr = zr[b] * cr - zi[b] * ci;
                const float ti = zr[b] * ci + zi[b] * cr;
                const float ar = zr[a], ai = zi[a];
                zr[a] = ar + tr;
                zi[a] = ai + ti;
                zr[b] = ar - tr;
                zi[b] = ai - ti;
            }
        }
    }
}

// Frames per chunk: the branch sums and the FFT of this many frames run side
// by side as vectors (lane = frame). A multiple of 32.
inline constexpr int kChannelizerChunk = 64;

// The lane group the bank's loops run on: sixteen lanes (one 512-bit
// register) where AVX-512 is compiled in, else f32x8. Every lane performs
// the scalar operations, so the width changes the speed, never the bits.
namespace chz {
#if defined(__AVX512F__)
typedef float vf __attribute__((vector_size(64)));
typedef std::int32_t vi __attribute__((vector_size(64)));
inline constexpr int kW = 16;
HALVO_INLINE vf vload(const float* p) {
    vf v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
HALVO_INLINE void vstore(float* p, vf v) { __builtin_memcpy(p, &v, sizeof v); }
HALVO_INLINE vf vsplat(float x) { return reinterpret_cast<vf>(_mm512_set1_ps(x)); }
HALVO_INLINE vf vfma(vf a, vf b, vf c) {
    return reinterpret_cast<vf>(_mm512_fmadd_ps(reinterpret_cast<__m512>(a), reinterpret_cast<__m512>(b),
                                                reinterpret_cast<__m512>(c)));
}
#else
using vf = f32x8;
inline constexpr int kW = 8;
HALVO_INLINE vf vload(const float* p) { return load8(p); }
HALVO_INLINE void vstore(float* p, vf v) { store8(p, v); }
HALVO_INLINE vf vsplat(float x) { return splat8(x); }
HALVO_INLINE vf vfma(vf a, vf b, vf c) { return fma32x8(a, b, c); }
#if defined(__AVX__)
typedef std::int32_t vi __attribute__((vector_size(32)));
#endif
#endif
static_assert(kChannelizerChunk % (4 * kW) == 0, "a chunk is whole groups of four lane groups");
}  // namespace chz

struct Channelizer {
    // Fixed at construction.
    int m;        // channels, a power of two
    int log2m;
    int r;        // input samples per frame, M / oversample
    int stride;   // oversample (M / R)
    int p;        // taps per branch
    int hist;     // past frames kept per phase stream: stride*P - 1
    int rows;     // per phase stream: hist + kChannelizerChunk
    std::vector<float> taps;       // h, P*M taps
    std::vector<float> branch;     // h by branch: branch[r*P + p] = h[p*M + r]
    std::vector<float> wr, wi;     // FFT twiddles
    std::vector<int> row_of;       // FFT row of branch r: bit_reverse(r)
    // State.
    std::vector<cf32> pending;     // the partial frame, pending_n samples (< R)
    std::size_t pending_n;
    std::vector<float> sre, sim;   // phase streams s = 0..R-1, rows floats each:
                                   // sre[s*rows + i] = x[(frame at i)*R + R-1-s].re
    std::uint64_t frame;           // frames output so far
    // Work space (no state carried between calls).
    std::vector<float> zr, zi;     // M rows of kChannelizerChunk lanes

    static std::string show(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        return buf;
    }

    static void check(double fs, int n_channels, int oversample, double stopband_db) {
        if (!(fs > 0.0) || !std::isfinite(fs))
            throw ArgumentError("fs must be finite and > 0, got " + show(fs));
        if (n_channels < 2 || n_channels > kChannelizerMaxChannels || (n_channels & (n_channels - 1)) != 0)
            throw ArgumentError("n_channels must be a power of two from 2 to " +
                                        std::to_string(kChannelizerMaxChannels) + ", got " + std::to_string(n_channels));
        if (oversample != 1 && oversample != 2)
            throw ArgumentError("oversample must be 1 or 2, got " + std::to_string(oversample));
        if (!(stopband_db >= 20.0 && stopband_db <= 140.0))
            throw ArgumentError("stopband_db must be from 20 to 140, got " + show(stopband_db));
    }

    static Channelizer make(double fs, int n_channels, int oversample, double stopband_db) {
        check(fs, n_channels, oversample, stopband_db);
        const ChannelizerEdges e = kChannelizerEdges[oversample - 1];
        return with_taps(n_channels, oversample, channelizer_prototype(n_channels, e.pass, e.stop, stopband_db));
    }

    // The prototype low-pass a bank of these arguments runs on (P*M taps).
    static std::vector<float> prototype_taps(int n_channels, int oversample, double stopband_db) {
        check(1.0, n_channels, oversample, stopband_db);
        const ChannelizerEdges e = kChannelizerEdges[oversample - 1];
        return channelizer_prototype(n_channels, e.pass, e.stop, stopband_db);
    }

    // A bank on given taps (their count a multiple of n_channels).
    static Channelizer with_taps(int n_channels, int oversample, std::vector<float> h) {
        Channelizer c;
        c.m = n_channels;
        c.log2m = 0;
        while ((1 << c.log2m) < n_channels) ++c.log2m;
        c.stride = oversample;
        c.r = n_channels / oversample;
        c.p = static_cast<int>(h.size()) / n_channels;
        c.hist = c.stride * c.p - 1;
        c.rows = c.hist + kChannelizerChunk;
        c.taps = std::move(h);
        c.branch.resize(c.taps.size());
        for (int b = 0; b < c.m; ++b)
            for (int q = 0; q < c.p; ++q)
                c.branch[static_cast<std::size_t>(b * c.p + q)] = c.taps[static_cast<std::size_t>(q * c.m + b)];
        fft_twiddles(c.m, c.wr, c.wi);
        c.row_of.resize(static_cast<std::size_t>(c.m));
        for (int b = 0; b < c.m; ++b) c.row_of[static_cast<std::size_t>(b)] = bit_reverse(b, c.log2m);
        c.pending.assign(static_cast<std::size_t>(c.r), cf32{0.0f, 0.0f});
        c.pending_n = 0;
        c.sre.assign(static_cast<std::size_t>(c.r) * c.rows, 0.0f);
        c.sim.assign(static_cast<std::size_t>(c.r) * c.rows, 0.0f);
        c.frame = 0;
        c.zr.assign(static_cast<std::size_t>(c.m) * kChannelizerChunk, 0.0f);
        c.zi.assign(static_cast<std::size_t>(c.m) * kChannelizerChunk, 0.0f);
        return c;
    }

    // Rows of the output: one per channel.
    HALVO_INLINE int output_rows() const { return m; }

    // Frames (output samples per channel) that n more input samples complete.
    HALVO_INLINE std::size_t output_count(std::size_t n) const { return (pending_n + n) / static_cast<std::size_t>(r); }

    // out: M rows of output_count(n) samples each (row k = channel k).
    template <class Isa>
    void process(const cf32* in, cf32* out, std::size_t n) {
        const std::size_t frames = output_count(n);
        const std::size_t rr = static_cast<std::size_t>(r);
        if (frames == 0) {
            for (std::size_t i = 0; i < n; ++i) pending[pending_n + i] = in[i];
            pending_n += n;
            return;
        }
        // Frame j of this call starts at in + j*R - pending_n; the first one
        // is completed in the pending buffer when samples wait there.
        const std::size_t lead = pending_n;
        if (lead > 0)
            for (std::size_t i = 0; i < rr - lead; ++i) pending[lead + i] = in[i];
        for (std::size_t f0 = 0; f0 < frames; f0 += kChannelizerChunk) {
            const std::size_t nf = frames - f0 < kChannelizerChunk ? frames - f0 : kChannelizerChunk;
            // Frames into the phase streams, stream by stream (contiguous
            // stores; the loads stride by a frame).
            std::size_t j0 = 0;
            if (f0 == 0 && lead > 0) {
                scatter_frame(pending.data(), static_cast<std::size_t>(hist));
                j0 = 1;
            }
            const std::size_t rw = static_cast<std::size_t>(rows);
#if defined(__AVX__)
            if (rr % 4 == 0) {
                // Eight frames by four phases at a time: one 8 x 8 transpose
                // in registers instead of 64 single-float moves.
                for (; j0 + 8 <= nf; j0 += 8) {
                    const cf32* src = in + ((f0 + j0) * rr - lead);
                    const std::size_t pos = static_cast<std::size_t>(hist) + j0;
                    for (std::size_t st = 0; st < rr; st += 4) transpose_8x4(src + (rr - 4 - st), st, pos);
                }
            }
#endif
            for (std::size_t st = 0; st < rr; ++st) {
                float* dr = sre.data() + st * rw + static_cast<std::size_t>(hist);
                float* di = sim.data() + st * rw + static_cast<std::size_t>(hist);
                for (std::size_t j = j0; j < nf; ++j) {
                    const cf32 v = in[(f0 + j) * rr - lead + (rr - 1 - st)];
                    dr[j] = v.re;
                    di[j] = v.im;
                }
            }
            run_chunk(out, frames, f0, nf);
            // Keep the last hist entries of every phase stream.
            for (std::size_t s = 0; s < rr; ++s) {
                float* a = sre.data() + s * static_cast<std::size_t>(rows);
                float* b = sim.data() + s * static_cast<std::size_t>(rows);
                std::memmove(a, a + nf, static_cast<std::size_t>(hist) * sizeof(float));
                std::memmove(b, b + nf, static_cast<std::size_t>(hist) * sizeof(float));
            }
        }
        const std::size_t left = lead + n - frames * rr;
        for (std::size_t i = 0; i < left; ++i) pending[i] = in[n - left + i];
        pending_n = left;
    }

private:
#if defined(__AVX__)
    // Phases st .. st+3 of eight frames (frame j's samples for them at
    // src[j*R .. j*R + 3], phase st+3 first) into the phase streams at
    // positions pos .. pos+7.
    HALVO_INLINE void transpose_8x4(const cf32* src, std::size_t st, std::size_t pos) {
        const std::size_t rr = static_cast<std::size_t>(r);
        f32x8 l[8];
        for (int j = 0; j < 8; ++j) l[j] = load8(&src[static_cast<std::size_t>(j) * rr].re);
        f32x8 t[8], u[8];
        for (int q = 0; q < 4; ++q) {
            t[2 * q] = HALVO_SHUFFLE(l[2 * q], l[2 * q + 1], 0, 8, 1, 9, 4, 12, 5, 13);
            t[2 * q + 1] = HALVO_SHUFFLE(l[2 * q], l[2 * q + 1], 2, 10, 3, 11, 6, 14, 7, 15);
        }
        for (int q = 0; q < 2; ++q) {
            const f32x8 a = t[4 * q], b = t[4 * q + 2], c = t[4 * q + 1], d = t[4 * q + 3];
            u[4 * q] = HALVO_SHUFFLE(a, b, 0, 1, 8, 9, 4, 5, 12, 13);
            u[4 * q + 1] = HALVO_SHUFFLE(a, b, 2, 3, 10, 11, 6, 7, 14, 15);
            u[4 * q + 2] = HALVO_SHUFFLE(c, d, 0, 1, 8, 9, 4, 5, 12, 13);
            u[4 * q + 3] = HALVO_SHUFFLE(c, d, 2, 3, 10, 11, 6, 7, 14, 15);
        }
        // Column (lane) c of the frames: c = 2*(3 - i) + (0 re, 1 im) for phase st + i.
        const std::size_t rw = static_cast<std::size_t>(rows);
        for (int c = 0; c < 4; ++c) {
            const f32x8 lo = HALVO_SHUFFLE(u[c], u[c + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            const f32x8 hi = HALVO_SHUFFLE(u[c], u[c + 4], 4, 5, 6, 7, 12, 13, 14, 15);
            // lo is column c, hi column c + 4.
            const std::size_t phase_lo = st + 3 - static_cast<std::size_t>(c / 2);
            const std::size_t phase_hi = st + 1 - static_cast<std::size_t>(c / 2);
            float* dlo = ((c & 1) ? sim.data() : sre.data()) + phase_lo * rw + pos;
            float* dhi = ((c & 1) ? sim.data() : sre.data()) + phase_hi * rw + pos;
            store8(dlo, lo);
            store8(dhi, hi);
        }
    }
#endif

    HALVO_INLINE void scatter_frame(const cf32* fr, std::size_t pos) {
        const std::size_t rr = static_cast<std::size_t>(r);
        const std::size_t rw = static_cast<std::size_t>(rows);
        for (std::size_t s = 0; s < rr; ++s) {
            sre[s * rw + pos] = fr[rr - 1 - s].re;
            sim[s * rw + pos] = fr[rr - 1 - s].im;
        }
    }

    // G lane groups of one branch sum: u = fma(h[q], x[-q*stride], u) for
    // q = 0..P-1, real and imaginary parts, from the stream entries at xr
    // and xi into ur and ui.
    template <int G>
    HALVO_INLINE void branch_sum(const float* hb, const float* xr, const float* xi, float* ur, float* ui) const {
        using chz::vf;
        constexpr std::size_t W = chz::kW;
        vf re[G], im[G];
        for (int g = 0; g < G; ++g) re[g] = im[g] = chz::vsplat(0.0f);
        for (int q = 0; q < p; ++q) {
            const vf hv = chz::vsplat(hb[q]);
            const std::ptrdiff_t o = -static_cast<std::ptrdiff_t>(q) * stride;
            for (int g = 0; g < G; ++g) re[g] = chz::vfma(hv, chz::vload(xr + o + g * W), re[g]);
            for (int g = 0; g < G; ++g) im[g] = chz::vfma(hv, chz::vload(xi + o + g * W), im[g]);
        }
        for (int g = 0; g < G; ++g) chz::vstore(ur + g * W, re[g]);
        for (int g = 0; g < G; ++g) chz::vstore(ui + g * W, im[g]);
    }

    // The branch sums, FFT and output of nf (<= chunk) frames, the first of
    // them frame f0 of this call. Lanes past nf compute on stale stream
    // entries and are not stored.
    HALVO_INLINE void run_chunk(cf32* out, std::size_t frames, std::size_t f0, std::size_t nf) {
        using chz::vf;
        using chz::vfma;
        using chz::vload;
        using chz::vsplat;
        using chz::vstore;
        constexpr std::size_t C = kChannelizerChunk;
        constexpr std::size_t W = chz::kW;
        const std::size_t nv = (nf + W - 1) / W * W;  // lanes computed
        const std::size_t rw = static_cast<std::size_t>(rows);
        // 1. Branch sums into FFT rows (bit-reversed order).
        for (int b = 0; b < m; ++b) {
            const int s = b % r;
            const int a0 = b / r;
            const float* hb = branch.data() + static_cast<std::size_t>(b) * p;
            const float* cre = sre.data() + static_cast<std::size_t>(s) * rw + hist;
            const float* cim = sim.data() + static_cast<std::size_t>(s) * rw + hist;
            float* ur = zr.data() + static_cast<std::size_t>(row_of[static_cast<std::size_t>(b)]) * C;
            float* ui = zi.data() + static_cast<std::size_t>(row_of[static_cast<std::size_t>(b)]) * C;
            // Each lane group's sum is a chain of dependent fused
            // multiply-adds: eight chains side by side (four lane groups,
            // real and imaginary) keep the FMA units busy through their
            // latency; then two groups, then one.
            std::size_t i = 0;
            for (; i + 4 * W <= nv; i += 4 * W) branch_sum<4>(hb, cre + i - a0, cim + i - a0, ur + i, ui + i);
            for (; i + 2 * W <= nv; i += 2 * W) branch_sum<2>(hb, cre + i - a0, cim + i - a0, ur + i, ui + i);
            for (; i < nv; i += W) branch_sum<1>(hb, cre + i - a0, cim + i - a0, ur + i, ui + i);
        }
        // 2. The inverse FFT, lane = frame (fft_inverse's operations). Two
        // stages per pass over the rows: stage h's butterflies on rows
        // (a, b) and (c, d), then stage 2h's on (a, c) and (b, d), for
        // a = g+j, b = a+h, c = a+2h, d = a+3h — the same operations in the
        // same order per value, half the trips through memory.
        const auto bfly = [](vf& xr, vf& xi, vf& yr, vf& yi, vf cr, vf ci) HALVO_STAGE {
            const vf tr = yr * cr - yi * ci;
            const vf ti = yr * ci + yi * cr;
            yr = xr - tr;
            yi = xi - ti;
            xr = xr + tr;
            xi = xi + ti;
        };
        const auto bfly1 = [](vf& xr, vf& xi, vf& yr, vf& yi) HALVO_STAGE {
            const vf tr = yr, ti = yi;
            yr = xr - tr;
            yi = xi - ti;
            xr = xr + tr;
            xi = xi + ti;
        };
        int h = 1;
        for (; 4 * h <= m; h *= 4) {
            const int step = m / (2 * h);
            for (int g = 0; g < m; g += 4 * h) {
                for (int j = 0; j < h; ++j) {
                    const vf c1r = vsplat(wr[static_cast<std::size_t>(j * step)]);
                    const vf c1i = vsplat(wi[static_cast<std::size_t>(j * step)]);
                    const vf c2r = vsplat(wr[static_cast<std::size_t>(j * step / 2)]);
                    const vf c2i = vsplat(wi[static_cast<std::size_t>(j * step / 2)]);
                    const vf c3r = vsplat(wr[static_cast<std::size_t>((j + h) * step / 2)]);
                    const vf c3i = vsplat(wi[static_cast<std::size_t>((j + h) * step / 2)]);
                    float* pr[4];
                    float* pi[4];
                    for (int q = 0; q < 4; ++q) {
                        pr[q] = zr.data() + static_cast<std::size_t>(g + j + q * h) * C;
                        pi[q] = zi.data() + static_cast<std::size_t>(g + j + q * h) * C;
                    }
                    for (std::size_t i = 0; i < nv; i += W) {
                        vf ar = vload(pr[0] + i), ai = vload(pi[0] + i), br = vload(pr[1] + i), bi = vload(pi[1] + i);
                        vf cr = vload(pr[2] + i), ci = vload(pi[2] + i), dr = vload(pr[3] + i), di = vload(pi[3] + i);
                        if (h == 1) {
                            bfly1(ar, ai, br, bi);
                            bfly1(cr, ci, dr, di);
                        } else {
                            bfly(ar, ai, br, bi, c1r, c1i);
                            bfly(cr, ci, dr, di, c1r, c1i);
                        }
                        bfly(ar, ai, cr, ci, c2r, c2i);
                        bfly(br, bi, dr, di, c3r, c3i);
                        vstore(pr[0] + i, ar);
                        vstore(pi[0] + i, ai);
                        vstore(pr[1] + i, br);
                        vstore(pi[1] + i, bi);
                        vstore(pr[2] + i, cr);
                        vstore(pi[2] + i, ci);
                        vstore(pr[3] + i, dr);
                        vstore(pi[3] + i, di);
                    }
                }
            }
        }
        if (h < m) {  // log2(M) odd: the last stage on its own
            const int step = m / (2 * h);
            for (int g = 0; g < m; g += 2 * h) {
                for (int j = 0; j < h; ++j) {
                    const vf c1r = vsplat(wr[static_cast<std::size_t>(j * step)]);
                    const vf c1i = vsplat(wi[static_cast<std::size_t>(j * step)]);
                    float* ar_p = zr.data() + static_cast<std::size_t>(g + j) * C;
                    float* ai_p = zi.data() + static_cast<std::size_t>(g + j) * C;
                    float* br_p = zr.data() + static_cast<std::size_t>(g + j + h) * C;
                    float* bi_p = zi.data() + static_cast<std::size_t>(g + j + h) * C;
                    for (std::size_t i = 0; i < nv; i += W) {
                        vf ar = vload(ar_p + i), ai = vload(ai_p + i), br = vload(br_p + i), bi = vload(bi_p + i);
                        if (h == 1)
                            bfly1(ar, ai, br, bi);
                        else
                            bfly(ar, ai, br, bi, c1r, c1i);
                        vstore(ar_p + i, ar);
                        vstore(ai_p + i, ai);
                        vstore(br_p + i, br);
                        vstore(bi_p + i, bi);
                    }
                }
            }
        }
        // 3. Out, channel k to row k, with the sign of twice-oversampled
        // frames: odd channels of frames with an even index (m+1 odd) negated
        // (the sign bits flipped). Lane groups start at even frame offsets,
        // so one mask serves every group. NaNs leave as they come: the
        // level's wrapper rewrites every NaN of the output as the one quiet
        // NaN once the call is done (kernels/level.inc).
        const std::uint64_t first = frame;
#if defined(__AVX__)
        using chz::vi;
        vi flip_mask = {};
        for (std::size_t l = 0; l < W; ++l) flip_mask[l] = ((first + l) & 1u) == 0 ? INT32_MIN : 0;
#endif
        for (int k = 0; k < m; ++k) {
            const float* vr = zr.data() + static_cast<std::size_t>(k) * C;
            const float* vim = zi.data() + static_cast<std::size_t>(k) * C;
            cf32* o = out + static_cast<std::size_t>(k) * frames + f0;
            const bool odd = stride == 2 && (k & 1);
            std::size_t i = 0;
#if defined(__AVX__)
            const vi mask = odd ? flip_mask : vi{};
            for (; i + W <= nf; i += W) {
                const vf a = reinterpret_cast<vf>(reinterpret_cast<vi>(vload(vr + i)) ^ mask);
                const vf b = reinterpret_cast<vf>(reinterpret_cast<vi>(vload(vim + i)) ^ mask);
#if defined(__AVX512F__)
                vstore(&o[i].re, HALVO_SHUFFLE(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
                vstore(&o[i].re + W, HALVO_SHUFFLE(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
#else
                vstore(&o[i].re, HALVO_SHUFFLE(a, b, 0, 8, 1, 9, 2, 10, 3, 11));
                vstore(&o[i].re + W, HALVO_SHUFFLE(a, b, 4, 12, 5, 13, 6, 14, 7, 15));
#endif
            }
#endif
            for (; i < nf; ++i) {
                const bool flip = odd && ((first + i) & 1u) == 0;
                o[i] = flip ? cf32{-vr[i], -vim[i]} : cf32{vr[i], vim[i]};
            }
        }
        frame = first + nf;
    }
};

}  // namespace halvo
