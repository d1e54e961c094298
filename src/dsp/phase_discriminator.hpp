// PhaseDiscriminator: the angle of x[n] * conj(x[n-1]) through FastAtan2.
// State: the previous raw input sample, initially 1 + 0j.
#pragma once

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
};

}  // namespace halvo
