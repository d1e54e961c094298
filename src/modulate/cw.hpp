// CwKeyedMod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct CwKeyedMod {
    static CwKeyedMod make(double sample_rate, double tone_hz, double rise_ms, double fall_ms) {
        (void)sample_rate; (void)tone_hz; (void)rise_ms; (void)fall_ms;
        return {};
    }

    void set_gain(double g) {}

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
