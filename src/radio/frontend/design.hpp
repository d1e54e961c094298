// Low-pass FIR design for the receive and transmit front end: a
// Kaiser-windowed sinc, designed in double and rounded to float32 once.
//
//   lowpass_design(fs, passband_hz, stopband_hz, stopband_db, gain)
//
// Transition width df = (stopband_hz - passband_hz) / fs cycles per sample;
// attenuation asked of the window a = stopband_db + 3 (Kaiser's estimates
// fall short by up to 2 dB at 100 dB); beta = 0.1102 (a - 8.7) for a > 50,
// else 0.5842 (a - 21)^0.4 + 0.07886 (a - 21); length
// N = ceil((a - 7.95) / (14.36 df)) + 1. Cut-off fc = (passband_hz +
// stopband_hz) / (2 fs); tap i (t = i - (N-1)/2):
//   h[i] = 2 fc sinc(2 fc t) I0(beta sqrt(1 - (t / ((N-1)/2))^2)) / I0(beta)
// with sinc(u) = sin(pi u) / (pi u), I0 by its power series below. The taps
// are scaled in double so that they sum to `gain`, then rounded to float32.
// Below 512 taps the design is checked against its mask (passband +-0.5 dB,
// stopband_db + 0.5 dB from stopband_hz on) and lengthened until it meets it.
// Given the C library's sin, the taps are the same bits everywhere.
#pragma once

#include "../../argument_error.hpp"
#include "../kaiser.hpp"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../argument_error.hpp"

namespace halvo::frontend {

// Longest filter any front-end class designs (taps of the prototype).
inline constexpr std::size_t kMaxTaps = std::size_t{1} << 20;

inline std::string show(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

[[noreturn]] inline void refuse(const char* name, double value, const std::string& allowed) {
    throw ArgumentError(std::string(name) + " must be " + allowed + ", got " + show(value));
}

// A frequency offset must lie within +-fs/2.
inline void check_offset(const char* name, double hz, double fs) {
    if (!(std::fabs(hz) <= 0.5 * fs)) refuse(name, hz, "within +-fs/2 = +-" + show(0.5 * fs));
}

// Taps the design above gives for these edges (the count only).
inline double lowpass_length(double fs, double passband_hz, double stopband_hz, double stopband_db) {
    const double a = stopband_db + 3.0;
    const double df = (stopband_hz - passband_hz) / fs;
    return std::ceil((a - 7.95) / (14.36 * df)) + 1.0;
}

// Checks shared by every design: fs, the two edges and the attenuation.
inline void check_lowpass(double fs, double passband_hz, double stopband_hz, double stopband_db) {
    if (!(fs > 0.0 && std::isfinite(fs))) refuse("fs", fs, "finite and > 0");
    if (!(stopband_db >= 20.0 && stopband_db <= 140.0)) refuse("stopband_db", stopband_db, "from 20 to 140");
    if (!(passband_hz >= 0.0 && passband_hz < 0.5 * fs))
        refuse("passband_hz", passband_hz, "from 0 to below fs/2 = " + show(0.5 * fs));
    if (!(stopband_hz > passband_hz && stopband_hz <= 0.5 * fs))
        refuse("stopband_hz", stopband_hz, "above passband_hz = " + show(passband_hz) + " and at most fs/2 = " + show(0.5 * fs));
    const double n = lowpass_length(fs, passband_hz, stopband_hz, stopband_db);
    if (!(n <= static_cast<double>(kMaxTaps)))
        throw ArgumentError("the transition band from " + show(passband_hz) + " to " + show(stopband_hz) +
                                    " Hz at fs = " + show(fs) + " needs " + show(n) + " taps, more than the limit of " +
                                    std::to_string(kMaxTaps));
}

// The taps in double for a given length (before rounding), summing to gain.
inline std::vector<double> kaiser_sinc(int len, double fc, double beta, double gain) {
    std::vector<double> h = halvo::kaiser_sinc(len, fc, beta);
    const double sum = tap_sum(h);
    for (double& v : h) v *= gain / sum;
    return h;
}

// Whether h (gain g at DC) keeps within +-0.5 dB up to pass and below
// -stop_db from stop to 1/2 (cycles per sample), on a grid 8 points per tap.
inline bool meets_mask(const std::vector<double>& h, double g, double pass, double stop, double stop_db) {
    const double centre = 0.5 * static_cast<double>(h.size() - 1);
    const int grid = 8 * static_cast<int>(h.size()) + 64;
    const double lim_stop = g * std::pow(10.0, -stop_db / 20.0);
    const double lo = g * std::pow(10.0, -0.5 / 20.0), hi = g * std::pow(10.0, 0.5 / 20.0);
    for (int band = 0; band < 2; ++band) {
        const double f0 = band == 0 ? 0.0 : stop, f1 = band == 0 ? pass : 0.5;
        for (int i = 0; i <= grid; ++i) {
            const double f = f0 + (f1 - f0) * i / grid;
            double a = 0.0;  // linear phase: the response is real about the centre
            for (std::size_t j = 0; j < h.size(); ++j) a += h[j] * std::cos(2.0 * std::numbers::pi * f * (static_cast<double>(j) - centre));
            if (band == 0 ? (a < lo || a > hi) : std::fabs(a) > lim_stop) return false;
        }
    }
    return true;
}

// Kaiser's length is trusted from kCheckedTaps taps on; shorter designs
// (where the estimate can fall well short) are checked against the mask on
// a grid and lengthened one tap at a time until they meet it.
inline constexpr int kCheckedTaps = 512;

inline std::vector<float> lowpass_design(double fs, double passband_hz, double stopband_hz, double stopband_db,
                                         double gain) {
    check_lowpass(fs, passband_hz, stopband_hz, stopband_db);
    const double a = stopband_db + 3.0;
    const double beta = kaiser_beta(a);
    int len = static_cast<int>(lowpass_length(fs, passband_hz, stopband_hz, stopband_db));
    const double fc = 0.5 * (passband_hz + stopband_hz) / fs;
    std::vector<double> h = kaiser_sinc(len, fc, beta, gain);
    while (len < kCheckedTaps && !meets_mask(h, gain, passband_hz / fs, stopband_hz / fs, stopband_db + 0.5))
        h = kaiser_sinc(++len, fc, beta, gain);
    std::vector<float> out(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) out[i] = static_cast<float>(h[i]);
    return out;
}

// The public design: unit gain at DC.
inline std::vector<float> lowpass_taps(double fs, double passband_hz, double stopband_hz, double stopband_db = 70.0) {
    return lowpass_design(fs, passband_hz, stopband_hz, stopband_db, 1.0);
}

}  // namespace halvo::frontend
