// DcBlocker: one-pole, one-zero DC removal, H(z) = (1 - z^-1) / (1 - R z^-1),
// with its corner at 2 Hz. State: previous input x1 and output y1, both 0.0.
#pragma once

#include "../simd/fp.hpp"
#include "constants.hpp"

namespace halvo {

struct DcBlocker {
    float R;   // pole radius in [0, 0.9999], NaN for a NaN sample rate
    float x1;  // previous input; 0.0
    float y1;  // previous output; 0.0

    static DcBlocker design(float fs) {
        static_assert(std::bit_cast<std::uint32_t>(0.9999f) == 0x3F7FF972u);
        const float t = ((-2.0f / fs) * kTwoPi) + 1.0f;
        // Written so that a NaN t survives both comparisons.
        const float lo = (0.0f > t) ? 0.0f : t;
        const float r = (lo > 0.9999f) ? 0.9999f : lo;
        return {r, 0.0f, 0.0f};
    }

    HALVO_INLINE float step(float x) {
        const float y = (x - x1) + R * y1;  // no fused multiply-add
        x1 = x;
        y1 = y;
        return y;
    }
};

}  // namespace halvo
