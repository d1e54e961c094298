// PhaseDiscriminator: the angle of x[n] * conj(x[n-1]) through FastAtan2.
// State: the previous raw input sample, initially 1 + 0j.
#pragma once

#include <cstddef>

#include "fast_atan2.hpp"
#include "../simd/fp.hpp"

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

    // Phase steps, times scale, fed into a recurrence whose output lags its
    // input by one sample (see BiquadPairLanes): lagged.first(v) takes the
    // first step, lagged.next(v) each later one and returns the output for
    // the step before it, lagged.last() the output for the last step;
    // out[i] = finish(output i). The steps are computed ahead, in vectors.
    template <class Lagged, class Finish>
    HALVO_INLINE void run_lagged(const cf32* in, float* out, std::size_t n, float scale, Lagged& lagged,
                                 Finish&& finish) {
        if (n == 0) return;
        lagged.first(step(in[0]) * scale);  // against the previous call's last sample
        run_pipelined<1>(
            out, 1, n, [in, scale](std::size_t i) { return pair_step(in[i - 1], in[i]) * scale; },
            [&](float v) { return finish(lagged.next(v)); });
        out[n - 1] = finish(lagged.last());
        prev = in[n - 1];
    }

private:
    // The phase step from p to x.
    HALVO_INLINE static float pair_step(cf32 p, cf32 x) {
        const float dr = p.re * x.re + p.im * x.im;  // no fused multiply-add
        const float di = x.im * p.re - x.re * p.im;
        return fast_atan2(di, dr);
    }
};

}  // namespace halvo
