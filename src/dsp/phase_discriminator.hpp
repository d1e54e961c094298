// PhaseDiscriminator: the angle of x[n] * conj(x[n-1]) through FastAtan2.
// State: the previous raw input sample, initially 1 + 0j.
#pragma once

#include <cstddef>

#include "fast_atan2.hpp"
#include "fp.hpp"

namespace halvo {

struct PhaseDiscriminator {
    cf32 prev;  // previous input sample; 1 + 0j

    static PhaseDiscriminator design() { return {{1.0f, 0.0f}}; }

    HALVO_INLINE float step(cf32 x) {
        const float dr = prev.re * x.re + prev.im * x.im;  // no fused multiply-add
        const float di = x.im * prev.re - x.re * prev.im;
        prev = x;
        return fast_atan2(di, dr);
    }

    // n steps at once: theta[i] = step(in[i]) * scale. Each step depends on
    // the inputs only, never on an earlier result, so this loop vectorises.
    HALVO_INLINE void steps(const cf32* in, float* theta, std::size_t n, float scale) {
        if (n == 0) return;
        theta[0] = step(in[0]) * scale;
        for (std::size_t i = 1; i < n; ++i) {
            const cf32 p = in[i - 1];
            const cf32 x = in[i];
            const float dr = p.re * x.re + p.im * x.im;
            const float di = x.im * p.re - x.re * p.im;
            theta[i] = fast_atan2(di, dr) * scale;
        }
        prev = in[n - 1];
    }
};

}  // namespace halvo
