// The channelizer's sample loop compiled for one instruction-set level
// (HALVO_TEST_LEVEL names it; the build sets the -march flags).
#include "radio/channelizer.hpp"
#include "radio/receiver_bank.hpp"

namespace {
struct Isa {};
}  // namespace

#define HALVO_CAT2(a, b) a##b
#define HALVO_CAT(a, b) HALVO_CAT2(a, b)

void HALVO_CAT(channelizer_process_, HALVO_TEST_LEVEL)(halvo::Channelizer& c, const halvo::cf32* in,
                                                       halvo::cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}

void HALVO_CAT(receiver_bank_process_, HALVO_TEST_LEVEL)(halvo::radio::ReceiverBank& b, const halvo::cf32* in,
                                                         float* out, std::size_t n) {
    b.process<Isa>(in, out, n);
}
