// The front end's sample loops compiled for one instruction-set level
// (HALVO_TEST_LEVEL names it; the build sets the -march flags).
#include "radio/frontend/channel_selector.hpp"
#include "radio/frontend/resampler.hpp"
#include "radio/frontend/upconverter.hpp"

namespace {
struct Isa {};
}  // namespace

#define HALVO_CAT2(a, b) a##b
#define HALVO_CAT(a, b) HALVO_CAT2(a, b)

using halvo::cf32;
using namespace halvo::frontend;

void HALVO_CAT(selector_process_, HALVO_TEST_LEVEL)(ChannelSelector& c, const cf32* in, cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(resampler_process_, HALVO_TEST_LEVEL)(Resampler& c, const cf32* in, cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(real_resampler_process_, HALVO_TEST_LEVEL)(RealResampler& c, const float* in, float* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(upconverter_process_, HALVO_TEST_LEVEL)(Upconverter& c, const cf32* in, cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
