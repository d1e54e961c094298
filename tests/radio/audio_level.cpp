// The audio stage and the receiver compiled for one instruction-set level
// (HALVO_TEST_LEVEL names it; the build sets the -march flags).
#include "radio/audio/agc.hpp"
#include "radio/audio/emphasis.hpp"
#include "radio/audio/squelch.hpp"
#include "radio/receiver.hpp"
#include "radio/transmitter.hpp"

namespace {
struct Isa {};
}  // namespace

#define HALVO_CAT2(a, b) a##b
#define HALVO_CAT(a, b) HALVO_CAT2(a, b)

using halvo::cf32;
using namespace halvo::audio;
using halvo::radio::Receiver;
using halvo::radio::Transmitter;

void HALVO_CAT(deemphasis_process_, HALVO_TEST_LEVEL)(Deemphasis& c, const float* in, float* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(preemphasis_process_, HALVO_TEST_LEVEL)(Preemphasis& c, const float* in, float* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(squelch_process_, HALVO_TEST_LEVEL)(PowerSquelch& c, const cf32* in, cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(agc_process_, HALVO_TEST_LEVEL)(Agc& c, const float* in, float* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(receiver_process_, HALVO_TEST_LEVEL)(Receiver& c, const cf32* in, float* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
void HALVO_CAT(transmitter_process_, HALVO_TEST_LEVEL)(Transmitter& c, const float* in, cf32* out, std::size_t n) {
    c.process<Isa>(in, out, n);
}
