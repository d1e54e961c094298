// PmDirectPhaseMod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct PmDirectPhaseMod {
    static PmDirectPhaseMod make(double sample_rate, double kp_rad_per_unit, double rf_hz) {
        (void)sample_rate; (void)kp_rad_per_unit; (void)rf_hz;
        return {};
    }

    void set_gain(double g) {}
    void set_sensitivity(double kp) {}

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
