// Deemphasis and Preemphasis: the FM broadcast audio shelf, a one-pole
// low-pass with time constant tau (75 us in the Americas, 50 us in Europe)
// and its exact inverse.
//
//   Deemphasis::make(fs, tau_us)    y[n] = fma(a, y[n-1], b*x[n])   (b*x rounded, then fused)
//   Preemphasis::make(fs, tau_us)   y[n] = g*(x[n] - a*x[n-1])
//
// with, in float64 and then narrowed once to float32,
//   a = exp(-1e6 / (fs * tau_us))   (0 for tau_us = 0: the identity)
//   b = 1 - exp(-1e6 / (fs * tau_us))
//   g = 1 / (1 - exp(-1e6 / (fs * tau_us)))
// Preemphasis: the product rounded, then the difference, then the gain.
// State: the previous output (Deemphasis) or input (Preemphasis), 0.0.
#pragma once

#include <cmath>
#include <cstddef>

#include "../../simd/fp.hpp"
#include "../frontend/design.hpp"

namespace halvo::audio {

inline constexpr double kMaxTauUs = 1e6;  // one second

inline void check_rate(double fs) {
    if (!(fs > 0.0 && std::isfinite(fs))) frontend::refuse("fs", fs, "finite and > 0");
}

// exp(-1e6 / (fs * tau_us)), the pole of the one-pole shelf.
inline double emphasis_pole(double fs, double tau_us) {
    check_rate(fs);
    if (!(tau_us >= 0.0 && tau_us <= kMaxTauUs)) frontend::refuse("tau_us", tau_us, "from 0 to 1e6");
    return tau_us == 0.0 ? 0.0 : std::exp(-1e6 / (fs * tau_us));
}

struct Deemphasis {
    double fs = 1.0;
    double tau_us = 75.0;
    float a = 0.0f;   // pole, float32 of exp(-1e6 / (fs * tau_us))
    float b = 1.0f;   // input weight, float32 of 1 - that
    float y1 = 0.0f;  // previous output; 0.0

    static Deemphasis make(double fs, double tau_us = 75.0) {
        const double p = emphasis_pole(fs, tau_us);
        return {fs, tau_us, static_cast<float>(p), static_cast<float>(1.0 - p), 0.0f};
    }

    HALVO_INLINE float step(float x) {
        y1 = fma32(a, y1, b * x);  // fused, b*x rounded first: the chain is one fused multiply-add
        return y1;
    }

    template <class Isa>
    void process(const float* in, float* out, std::size_t n) {
        Deemphasis d = *this;
        for (std::size_t i = 0; i < n; ++i) out[i] = d.step(in[i]);
        y1 = d.y1;
    }
};

struct Preemphasis {
    double fs = 1.0;
    double tau_us = 75.0;
    float a = 0.0f;   // zero, float32 of exp(-1e6 / (fs * tau_us))
    float g = 1.0f;   // gain, float32 of 1 / (1 - that): unit gain at DC
    float x1 = 0.0f;  // previous input; 0.0

    static Preemphasis make(double fs, double tau_us = 75.0) {
        const double p = emphasis_pole(fs, tau_us);
        return {fs, tau_us, static_cast<float>(p), static_cast<float>(1.0 / (1.0 - p)), 0.0f};
    }

    HALVO_INLINE float step(float x) {
        const float y = g * (x - a * x1);  // product rounded, difference, then the gain
        x1 = x;
        return y;
    }

    // Each output depends on the input only: the loop has no recurrence.
    template <class Isa>
    void process(const float* in, float* out, std::size_t n) {
        if (n == 0) return;
        const float aa = a, gg = g;
        out[0] = gg * (in[0] - aa * x1);
        for (std::size_t i = 1; i < n; ++i) out[i] = gg * (in[i] - aa * in[i - 1]);
        x1 = in[n - 1];
    }
};

}  // namespace halvo::audio
