// FmPhaseAccumMod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct FmPhaseAccumMod {
    static FmPhaseAccumMod make(double sample_rate, double deviation_hz, double rf_hz) {
        (void)sample_rate; (void)deviation_hz; (void)rf_hz;
        return {};
    }

    void set_deviation(double hz) {}
    void set_gain(double g) {}

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
