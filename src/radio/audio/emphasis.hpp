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

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "../../kernels/guard.hpp"
#include "../../simd/fp.hpp"
#include "../../simd/guarded.hpp"
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

    // In chunks of the subnormal guard's length (kernels/guard.hpp): a
    // chunk that starts from a subnormal y1 (the pole holds silence there
    // for good, a few units of 2^-149 away from zero) runs the same steps in
    // simd::Guarded, whose arithmetic never hands the CPU a subnormal.
    template <class Isa>
    void process(const float* in, float* out, std::size_t n) {
        float y = y1;
        for (std::size_t i0 = 0; i0 < n; i0 += kernels::kGuardChunk) {
            const std::size_t end = std::min(n, i0 + kernels::kGuardChunk);
            if (y != 0.0f && abs32(y) < 0x1p-126f) {
                simd::Guarded g = y;
                const simd::Guarded ga = a, gb = b;
                for (std::size_t i = i0; i < end; ++i) {
                    g = simd::fma(ga, g, gb * simd::Guarded(in[i]));
                    out[i] = g;
                }
                y = g;
            } else {
                for (std::size_t i = i0; i < end; ++i) {
                    y = fma32(a, y, b * in[i]);
                    out[i] = y;
                }
            }
        }
        y1 = y;
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
