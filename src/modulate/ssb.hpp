// SsbPhasingMod: SKELETON - to be written.
#pragma once

#include <cstddef>

#include "../dsp/fp.hpp"

namespace halvo {

struct SsbPhasingMod {
    static SsbPhasingMod make(double fs, double audio_bw_hz, double audio_if_hz, double rf_hz, bool usb) {
        (void)fs; (void)audio_bw_hz; (void)audio_if_hz; (void)rf_hz; (void)usb;
        return {};
    }


    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        (void)in; (void)out; (void)n;
    }
};

}  // namespace halvo
