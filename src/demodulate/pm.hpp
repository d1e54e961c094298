// PmQuadratureDemod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct PmQuadratureDemod {
    static PmQuadratureDemod make(double fs, double k, double audio_bw_hz) {
        (void)fs; (void)k; (void)audio_bw_hz;
        return {};
    }


    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
