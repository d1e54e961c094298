// Resampler: rational resampling of a complex64 (ResamplerT<true>) or
// float32 (ResamplerT<false>) stream.
//
//   make(fs_in, fs_out, bandwidth, stopband_db)
//   process<Isa>(const Sample* in, Sample* out, n)   out: output_count(n) samples
//   l, m, delay()     fs_out/fs_in = l/m in lowest terms; group delay in output samples
//
// fs_out/fs_in is taken as the fraction l/m (l, m <= 65536) nearest to it
// within a relative 1e-12; there is none, the ratio is refused. With
// f_low = min(fs_in, fs_out) / 2, the prototype is
//   lowpass_design(l*fs_in, bandwidth*f_low, min(2*f_low - bandwidth*f_low, l*fs_in/2), stopband_db, l)
// (gain l: each of the l phases has unit gain at DC), run by the engine of
// polyphase.hpp with L = l, M = m (for l = 1 maybe in two stages, chain.hpp,
// each designed for the same edges): output k is made when input sample
// floor(k*m/l) arrives, so the outputs of a call follow from the samples
// seen so far, never from the block sizes. The stopband starts where the
// first alias or image of the passband would fall: nothing reaches the
// passband; the band between the passband and f_low may hold an attenuated
// image of the band between f_low and the stopband edge.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "design.hpp"
#include "chain.hpp"
#include "polyphase.hpp"

namespace halvo::frontend {

inline constexpr long long kMaxRatioTerm = 65536;

// l/m = ratio within a relative 1e-12, l and m at most kMaxRatioTerm, by
// continued fractions; false when there is no such fraction.
inline bool rational_ratio(double ratio, long long& l, long long& m) {
    long long p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double x = ratio;
    for (int it = 0; it < 64; ++it) {
        const double a = std::floor(x);
        if (a > static_cast<double>(kMaxRatioTerm) * 2) return false;
        const long long ai = static_cast<long long>(a);
        const long long p2 = ai * p1 + p0, q2 = ai * q1 + q0;
        if (p2 > kMaxRatioTerm || q2 > kMaxRatioTerm) return false;
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        if (std::fabs(static_cast<double>(p1) / static_cast<double>(q1) - ratio) <= 1e-12 * ratio) {
            l = p1;
            m = q1;
            return true;
        }
        const double frac = x - a;
        if (frac <= 0.0) return false;
        x = 1.0 / frac;
    }
    return false;
}

template <bool Complex>
struct ResamplerT {
    using Sample = std::conditional_t<Complex, cf32, float>;
    double fs_in = 1.0;
    double fs_out = 1.0;
    double bandwidth = 0.9;
    double stopband_db = 70.0;
    int l = 1, m = 1;
    FirChain<Complex> fir;

    static ResamplerT make(double fs_in, double fs_out, double bandwidth = 0.9, double stopband_db = 70.0) {
        if (!(fs_in > 0.0 && std::isfinite(fs_in))) refuse("fs_in", fs_in, "finite and > 0");
        if (!(fs_out > 0.0 && std::isfinite(fs_out))) refuse("fs_out", fs_out, "finite and > 0");
        if (!(bandwidth > 0.0 && bandwidth < 1.0)) refuse("bandwidth", bandwidth, "above 0 and below 1");
        if (!(stopband_db >= 20.0 && stopband_db <= 140.0)) refuse("stopband_db", stopband_db, "from 20 to 140");
        long long l = 0, m = 0;
        if (!rational_ratio(fs_out / fs_in, l, m))
            refuse("fs_out", fs_out, "a ratio l/m of fs_in = " + show(fs_in) + " with l and m at most " +
                                         std::to_string(kMaxRatioTerm));
        const double f_low = 0.5 * std::fmin(fs_in, fs_out);
        const double pass = bandwidth * f_low;
        ResamplerT r;
        r.fs_in = fs_in;
        r.fs_out = fs_out;
        r.bandwidth = bandwidth;
        r.stopband_db = stopband_db;
        r.l = static_cast<int>(l);
        r.m = static_cast<int>(m);
        const double high = static_cast<double>(l) * fs_in;
        r.fir = FirChain<Complex>::make(fs_in, r.l, r.m, pass, std::fmin(2.0 * f_low - pass, 0.5 * high), stopband_db,
                                        static_cast<double>(l));
        return r;
    }

    double delay() const { return fir.delay_in() / m; }
    int interpolation() const { return l; }
    int decimation() const { return m; }
    HALVO_INLINE std::size_t output_count(std::size_t n) const { return fir.output_count(n); }

    template <class Isa>
    void process(const Sample* in, Sample* out, std::size_t n) {
        const std::size_t made = output_count(n);
        fir.run(n, out, [&](std::size_t first, std::size_t count, float* re, float* im) HALVO_STAGE {
            if constexpr (Complex) {
                const cf32* x = in + first;
                for (std::size_t i = 0; i < count; ++i) {
                    re[i] = x[i].re;
                    im[i] = x[i].im;
                }
            } else {
                (void)im;
                for (std::size_t i = 0; i < count; ++i) re[i] = in[first + i];
            }
        });
        simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), (Complex ? 2 : 1) * made);
    }
};

using Resampler = ResamplerT<true>;
using RealResampler = ResamplerT<false>;

}  // namespace halvo::frontend
