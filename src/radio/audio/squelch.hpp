// PowerSquelch: passes a complex stream while its mean power is above a
// threshold and mutes it (exact zeros) otherwise, with linear gain ramps
// so that opening and closing do not click.
//
//   make(fs, threshold_db, hysteresis_db, attack_ms, release_ms, average_ms)
//
// Design, in float64 and then narrowed once to float32:
//   keep = exp(-1 / (fs * average_ms / 1000)),  alpha = 1 - that     power average
//   open_level = 10^(threshold_db / 10)                       0 dB = power 1.0
//   close_level = 10^((threshold_db - hysteresis_db) / 10)
//   up = 1 / max(1, fs * attack_ms / 1000),  down = 1 / max(1, fs * release_ms / 1000)
// Per sample, in this order (each operation rounded on its own):
//   e = x.re*x.re + x.im*x.im
//   p = fma(keep, p, alpha*e)                (alpha*e rounded, then fused)
//   closed and p >= open_level: open;  open and p < close_level: closed
//   open: gain = min(gain + up, 1);  closed: gain = max(gain - down, 0)
//   out = 0 + 0j when gain == 0, else (x.re*gain, x.im*gain)
// State: p (0.0), gain (0.0) and the open flag (closed).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "../../kernels/guard.hpp"
#include "../../simd/fp.hpp"
#include "../../simd/guarded.hpp"
#include "emphasis.hpp"

namespace halvo::audio {

struct PowerSquelch {
    // The parameters as given (set_threshold designs the levels again).
    struct Parameters {
        double fs, threshold_db, hysteresis_db, attack_ms, release_ms, average_ms;
    } given{1.0, 0.0, 3.0, 1.0, 10.0, 2.0};
    float keep = 0.0f;        // power average weight of the old mean
    float alpha = 1.0f;       // power average weight of the new sample
    float open_level = 1.0f;  // mean power at which the gate opens
    float close_level = 1.0f; // mean power below which it closes
    float up = 1.0f;          // gain step per sample while open
    float down = 1.0f;        // gain step per sample while closed
    float p = 0.0f;           // mean power; 0.0
    float gain = 0.0f;        // gate gain in [0, 1]; 0.0
    bool open = false;        // gate state; closed

    static PowerSquelch make(double fs, double threshold_db, double hysteresis_db = 3.0, double attack_ms = 1.0,
                             double release_ms = 10.0, double average_ms = 2.0) {
        check_rate(fs);
        if (!(threshold_db >= -300.0 && threshold_db <= 100.0))
            frontend::refuse("threshold_db", threshold_db, "from -300 to 100");
        if (!(hysteresis_db >= 0.0 && hysteresis_db <= 100.0))
            frontend::refuse("hysteresis_db", hysteresis_db, "from 0 to 100");
        if (!(attack_ms >= 0.0 && attack_ms <= 1e5)) frontend::refuse("attack_ms", attack_ms, "from 0 to 1e5");
        if (!(release_ms >= 0.0 && release_ms <= 1e5)) frontend::refuse("release_ms", release_ms, "from 0 to 1e5");
        if (!(average_ms > 0.0 && average_ms <= 1e5))
            frontend::refuse("average_ms", average_ms, "above 0 and at most 1e5");
        PowerSquelch q;
        q.given = {fs, threshold_db, hysteresis_db, attack_ms, release_ms, average_ms};
        const double k = std::exp(-1.0 / (fs * average_ms / 1000.0));
        q.keep = static_cast<float>(k);
        q.alpha = static_cast<float>(1.0 - k);
        q.open_level = static_cast<float>(std::pow(10.0, threshold_db / 10.0));
        q.close_level = static_cast<float>(std::pow(10.0, (threshold_db - hysteresis_db) / 10.0));
        q.up = static_cast<float>(1.0 / std::fmax(1.0, fs * attack_ms / 1000.0));
        q.down = static_cast<float>(1.0 / std::fmax(1.0, fs * release_ms / 1000.0));
        return q;
    }

    bool is_open() const { return open; }

    void set_threshold(double db) {
        const Parameters& g = given;
        const PowerSquelch q = make(g.fs, db, g.hysteresis_db, g.attack_ms, g.release_ms, g.average_ms);
        given.threshold_db = db;
        open_level = q.open_level;
        close_level = q.close_level;
    }

    // Operations in this order are part of the result; do not regroup. The
    // power average is the loop-carried chain: one fused multiply-add.
    // In chunks of the subnormal guard's length (kernels/guard.hpp): a chunk
    // that starts with a subnormal mean power (silence after a signal), or
    // holds a sample part whose square would be subnormal, runs the same
    // steps in simd::Guarded.
    template <class Isa>
    void process(const cf32* in, cf32* out, std::size_t n) {
        float pp = p, g = gain;
        bool o = open;
        for (std::size_t i0 = 0; i0 < n; i0 += kernels::kGuardChunk) {
            const std::size_t end = std::min(n, i0 + kernels::kGuardChunk);
            unsigned faint = 0;
            for (std::size_t i = i0; i < end; ++i) faint += is_faint(in[i].re) + is_faint(in[i].im);
            if (faint != 0 || (pp != 0.0f && abs32(pp) < 0x1p-126f)) run<simd::Guarded>(in, out, i0, end, pp, g, o);
            else run<float>(in, out, i0, end, pp, g, o);
        }
        p = pp;
        gain = g;
        open = o;
    }

private:
    // Nonzero, with a square below the normal range.
    HALVO_INLINE static unsigned is_faint(float x) { return (x != 0.0f && abs32(x) < 0x1p-63f) ? 1u : 0u; }

    template <class V>
    HALVO_INLINE void run(const cf32* in, cf32* out, std::size_t from, std::size_t to, float& p_out, float& g_out,
                          bool& o) const {
        V pp = p_out, g = g_out;
        const V al = alpha, kp = keep, ol = open_level, cl = close_level, u = up, d = down;
        const V one = 1.0f, zero = 0.0f;
        for (std::size_t i = from; i < to; ++i) {
            const V xr = in[i].re, xi = in[i].im;
            const V e = xr * xr + xi * xi;  // no fused multiply-add
            pp = simd::fma(kp, pp, al * e);  // fused, al*e rounded first
            if (!o) o = pp >= ol;
            else o = !(pp < cl);
            if (o) {
                const V t = g + u;
                g = (t < one) ? t : one;
            } else {
                const V t = g - d;
                g = (t > zero) ? t : zero;
            }
            out[i] = (g == zero) ? cf32{0.0f, 0.0f} : cf32{static_cast<float>(xr * g), static_cast<float>(xi * g)};
        }
        p_out = pp;
        g_out = g;
    }
};

}  // namespace halvo::audio
