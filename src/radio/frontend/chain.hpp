// Decimation in one stage or two. A decimating filter of D (passband edge
// pass, stopband edge stop, at fs) may run as a short first stage that
// decimates by a divisor D1 of D, then the rest at fs/D1:
//
//   first:  lowpass_design(fs,    pass, fs/D1 - stop, A, 1), L = 1, M = D1
//   second: lowpass_design(fs/D1, pass, stop,         A, gain), L = l, M = D/D1
//
// The first stage's stopband starts at fs/D1 - stop, the lowest frequency
// that folds into the second stage's band below stop, so everything from
// stop on is at least A down after both stages, aliases included. The plan
// is the D1 (or none) with the fewest multiply-adds per input sample by the
// taps each stage would have (rounded up to 16 per phase); a tie keeps one
// stage. The second stage sees the first's outputs, rounded to float32, as
// its input; each stage computes in the order of polyphase.hpp. Output m is
// still made at input sample m*D.
#pragma once

#include <cmath>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "design.hpp"
#include "polyphase.hpp"

namespace halvo::frontend {

inline double padded(double taps_per_phase) { return std::fmax(16.0, std::ceil(taps_per_phase / 16.0) * 16.0); }

// The first stage's decimation (1: one stage) for a filter of gain 1 at rate
// l*fs_in decimating by m (l = 1 only; with l > 1 it is one stage); cost, if
// given, gets the plan's multiply-adds per input sample.
inline int plan_first_stage(double fs, int l, int m, double pass, double stop, double stopband_db,
                            double* cost_out = nullptr) {
    double best = 2.0 * padded(lowpass_length(l * fs, pass, stop, stopband_db) / l) * l / m;
    if (cost_out) *cost_out = best;
    if (l != 1) return 1;
    int best_d1 = 1;
    for (int d1 = 2; d1 < m; ++d1) {
        if (m % d1 != 0) continue;
        const double stop1 = fs / d1 - stop;
        if (!(stop1 > pass && stop1 <= 0.5 * fs && stop <= 0.5 * fs / d1)) continue;
        const double n1 = lowpass_length(fs, pass, stop1, stopband_db);
        const double n2 = lowpass_length(fs / d1, pass, stop, stopband_db);
        const double cost = 2.0 * padded(n1) / d1 + 2.0 * padded(n2) / m;
        if (cost < best) {
            best = cost;
            best_d1 = d1;
        }
    }
    if (cost_out) *cost_out = best;
    return best_d1;
}

template <bool Complex>
struct FirChain {
    using Sample = std::conditional_t<Complex, cf32, float>;
    int d1 = 1;                  // first stage's decimation; 1: no first stage
    PolyphaseFir first, second;  // first used only when d1 > 1
    std::vector<Sample> mid;     // the first stage's outputs of one chunk

    // fs: input rate; the filter of the whole chain: l, m, pass, stop, stopband_db, gain.
    static FirChain make(double fs, int l, int m, double pass, double stop, double stopband_db, double gain) {
        FirChain c;
        c.d1 = plan_first_stage(fs, l, m, pass, stop, stopband_db);
        if (c.d1 == 1) {
            c.second = PolyphaseFir::make(l, m, lowpass_design(l * fs, pass, stop, stopband_db, gain), Complex);
        } else {
            c.first = PolyphaseFir::make(1, c.d1, lowpass_design(fs, pass, fs / c.d1 - stop, stopband_db, 1.0), Complex);
            c.second = PolyphaseFir::make(1, m / c.d1, lowpass_design(fs / c.d1, pass, stop, stopband_db, gain), Complex);
            c.mid.resize(kFirChunk / static_cast<std::size_t>(c.d1) + 2);
        }
        return c;
    }

    HALVO_INLINE std::size_t output_count(std::size_t n) const {
        return d1 == 1 ? second.output_count(n) : second.output_count(first.output_count(n));
    }

    // Group delay in input samples (of the chain's input rate l*fs for l > 1).
    double delay_in() const {
        if (d1 == 1) return 0.5 * static_cast<double>(second.n_taps - 1);
        return 0.5 * static_cast<double>(first.n_taps - 1) + d1 * 0.5 * static_cast<double>(second.n_taps - 1);
    }

    // As PolyphaseFir::run: fill(first, count, re, im) gives the input.
    template <class Fill>
    HALVO_INLINE void run(std::size_t n, Sample* out, Fill&& fill) {
        if (d1 == 1) {
            second.run(n, out, fill);
            return;
        }
        std::size_t done = 0, o = 0;
        while (done < n) {
            const std::size_t c = std::min(kFirChunk, n - done);
            const std::size_t k1 = first.output_count(c);
            first.run(c, mid.data(), [&](std::size_t f, std::size_t cnt, float* re, float* im) HALVO_STAGE {
                fill(done + f, cnt, re, im);
            });
            const std::size_t k2 = second.output_count(k1);
            const Sample* m1 = mid.data();
            second.run(k1, out + o, [&](std::size_t f, std::size_t cnt, float* re, float* im) HALVO_STAGE {
                if constexpr (Complex) {
                    for (std::size_t i = 0; i < cnt; ++i) {
                        re[i] = m1[f + i].re;
                        im[i] = m1[f + i].im;
                    }
                } else {
                    (void)im;
                    for (std::size_t i = 0; i < cnt; ++i) re[i] = m1[f + i];
                }
            });
            o += k2;
            done += c;
        }
    }
};

}  // namespace halvo::frontend
