// ChannelSelector: one channel out of a wideband complex stream.
//
//   make(fs, offset_hz, decimation, bandwidth_hz, transition_hz, stopband_db)
//     transition_hz NaN: the default, min(fs_out - bandwidth_hz, (fs - bandwidth_hz) / 2)
//     (stopband edge at fs_out - bandwidth_hz/2: nothing aliases into the passband)
//   process<Isa>(const cf32* in, cf32* out, n)   out: output_count(n) samples
//   set_offset(hz)                               from the next input sample on, phase continuous
//   fs_out(), delay()                            output rate; group delay in output samples
//
// Input sample n is mixed down by the rotating oscillator of nco.hpp
// (phase phi[n] = phi[n-1] + inc, inc = nco_step(offset_hz, fs), phi[0] = 0;
// anchors every 64 samples of the stream and for 8 samples after a retune):
//   (c, s) = RotatingNco's (c[n], s[n])
//   z.re = x.re*c + x.im*s;  z.im = x.im*c - x.re*s      (products rounded, then the sum)
// then low-pass filtered (passband edge bandwidth_hz/2, stopband edge
// bandwidth_hz/2 + transition_hz, stopband_db) and decimated, in one stage
// or two (chain.hpp): output m is taken at input sample m*decimation.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "design.hpp"
#include "nco.hpp"
#include "chain.hpp"
#include "polyphase.hpp"

namespace halvo::frontend {

inline constexpr int kMaxFactor = 1 << 16;  // decimation and interpolation limit

struct ChannelSelector {
    double fs = 1.0;
    double offset_hz = 0.0;
    int decimation = 1;
    double bandwidth_hz = 0.0;
    double transition_hz = 0.0;
    double stopband_db = 70.0;
    RotatingNco osc;  // at the input rate
    FirChain<true> fir;

    static double default_transition(double fs, int decimation, double bandwidth_hz) {
        const double fs_out = fs / decimation;
        return std::fmin(fs_out - bandwidth_hz, 0.5 * (fs - bandwidth_hz));
    }

    static ChannelSelector make(double fs, double offset_hz, int decimation, double bandwidth_hz,
                                double transition_hz = NAN, double stopband_db = 70.0) {
        if (!(fs > 0.0 && std::isfinite(fs))) refuse("fs", fs, "finite and > 0");
        if (decimation < 1 || decimation > kMaxFactor)
            refuse("decimation", decimation, "an integer from 1 to " + std::to_string(kMaxFactor));
        check_offset("offset_hz", offset_hz, fs);
        const double fs_out = fs / decimation;
        if (!(bandwidth_hz > 0.0 && bandwidth_hz < fs_out))
            refuse("bandwidth_hz", bandwidth_hz, "above 0 and below fs/decimation = " + show(fs_out));
        if (std::isnan(transition_hz)) transition_hz = default_transition(fs, decimation, bandwidth_hz);
        else if (!(transition_hz > 0.0 && 0.5 * bandwidth_hz + transition_hz <= 0.5 * fs))
            refuse("transition_hz", transition_hz, "above 0 and at most (fs - bandwidth_hz)/2 = " + show(0.5 * (fs - bandwidth_hz)));
        if (!(stopband_db >= 20.0 && stopband_db <= 140.0)) refuse("stopband_db", stopband_db, "from 20 to 140");
        const double pass = 0.5 * bandwidth_hz;
        ChannelSelector c{.fs = fs, .offset_hz = offset_hz, .decimation = decimation, .bandwidth_hz = bandwidth_hz,
                          .transition_hz = transition_hz, .stopband_db = stopband_db, .osc = {},
                          .fir = FirChain<true>::make(fs, 1, decimation, pass, pass + transition_hz, stopband_db, 1.0)};
        c.osc.set_step(nco_step(offset_hz, fs));
        return c;
    }

    void set_offset(double hz) {
        check_offset("offset_hz", hz, fs);
        offset_hz = hz;
        osc.set_step(nco_step(hz, fs));
    }

    double fs_out() const { return fs / decimation; }
    double transition() const { return transition_hz; }
    double delay() const { return fir.delay_in() / decimation; }
    HALVO_INLINE std::size_t output_count(std::size_t n) const { return fir.output_count(n); }

    template <class Isa>
    void process(const cf32* in, cf32* out, std::size_t n) {
        const std::size_t count = output_count(n);
        fir.run(n, out, [&](std::size_t first, std::size_t count, float* zr, float* zi) HALVO_STAGE {
            mix_down(osc, in + first, zr, zi, count);
        });
        simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), 2 * count);
    }

    // z = x times the conjugate oscillator, into planes.
    HALVO_INLINE static void mix_down(RotatingNco& o, const cf32* x, float* zr, float* zi, std::size_t n) {
        nco_run(
            o, n,
            [&](std::size_t i, float c, float s) HALVO_STAGE {
                const float xr = x[i].re, xi = x[i].im;
                zr[i] = xr * c + opaque(xi * s);
                zi[i] = xi * c - opaque(xr * s);
            },
            [&](std::size_t i, f32x8 c, f32x8 s) HALVO_STAGE {
                const f32x8 lo = load8(&x[i].re), hi = load8(&x[i + 4].re);
                const f32x8 xr = evens8(lo, hi), xi = odds8(lo, hi);
                store8(zr + i, part_order8(xr * c + xi * s));
                store8(zi + i, part_order8(xi * c - xr * s));
            });
    }
};

}  // namespace halvo::frontend
