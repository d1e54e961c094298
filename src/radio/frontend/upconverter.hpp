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
    PolyphaseFir fir;

    static Upconverter make(double fs, int interpolation, double offset_hz, double bandwidth_hz, double stopband_db = 70.0) {
        if (!(fs > 0.0 && std::isfinite(fs))) refuse("fs", fs, "finite and > 0");
        if (interpolation < 1 || interpolation > kMaxFactor)
            refuse("interpolation", interpolation, "an integer from 1 to " + std::to_string(kMaxFactor));
        const double high = fs * interpolation;
        if (!(std::fabs(offset_hz) <= 0.5 * high))
            refuse("offset_hz", offset_hz, "within +-fs*interpolation/2 = +-" + show(0.5 * high));
        if (!(bandwidth_hz > 0.0 && bandwidth_hz < fs)) refuse("bandwidth_hz", bandwidth_hz, "above 0 and below fs = " + show(fs));
        if (!(stopband_db >= 20.0 && stopband_db <= 140.0)) refuse("stopband_db", stopband_db, "from 20 to 140");
        Upconverter u;
        u.fs = fs;
        u.interpolation = interpolation;
        u.offset_hz = offset_hz;
        u.bandwidth_hz = bandwidth_hz;
        u.stopband_db = stopband_db;
        u.osc.set_step(nco_step(offset_hz, high));
        const double pass = 0.5 * bandwidth_hz;
        u.fir = PolyphaseFir::make(interpolation, 1,
                                   lowpass_design(high, pass, std::fmin(fs - pass, 0.5 * high), stopband_db,
                                                  static_cast<double>(interpolation)),
                                   true);
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

    template <class Isa>
    void process(const cf32* in, cf32* out, std::size_t n) {
        fir.run(n, out, [&](std::size_t first, std::size_t count, float* re, float* im) HALVO_STAGE {
            const cf32* x = in + first;
            for (std::size_t i = 0; i < count; ++i) {
                re[i] = x[i].re;
                im[i] = x[i].im;
            }
        });
        const std::size_t total = output_count(n);
        mix_up(osc, out, total);
        simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), 2 * total);
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
