// The front end's sample loops compiled for one instruction-set level
// (HALVO_TEST_LEVEL names it; the build sets the -march flags).
#include "radio/frontend/channel_selector.hpp"

namespace {
struct Isa {};
}  // namespace

#define HALVO_CAT2(a, b) a##b
#define HALVO_CAT(a, b) HALVO_CAT2(a, b)

void HALVO_CAT(selector_process_, HALVO_TEST_LEVEL)(halvo::frontend::ChannelSelector& c, const halvo::cf32* in,
                                                    halvo::cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
