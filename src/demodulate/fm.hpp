// FmQuadratureDemod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct FmQuadratureDemod {
    static FmQuadratureDemod make(double fs, double dev_hz, double audio_bw_hz) {
        (void)fs; (void)dev_hz; (void)audio_bw_hz;
        return {};
    }


    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
