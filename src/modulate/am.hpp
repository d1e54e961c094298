// AmDsbMod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct AmDsbMod {
    static AmDsbMod make(double fs, double rf_hz, double carrier_level, double modulation_index) {
        (void)fs; (void)rf_hz; (void)carrier_level; (void)modulation_index;
        return {};
    }

    void set_gain(double g) {}
    void set_clamp(bool on) {}

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
