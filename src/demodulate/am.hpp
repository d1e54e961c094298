// AmEnvelopeDemod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct AmEnvelopeDemod {
    static AmEnvelopeDemod make(double fs, double audio_bw_hz, bool abs_approx) {
        (void)fs; (void)audio_bw_hz; (void)abs_approx;
        return {};
    }


    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
