// The channelizer's sample loop compiled for one instruction-set level
// (HALVO_TEST_LEVEL names it; the build sets the -march flags), wrapped as
// the module's level tables wrap it: every NaN of the output rewritten as
// the one quiet NaN after the call.
#include "radio/channelizer.hpp"
#include "radio/receiver_bank.hpp"
#include "simd/canonical_nan.hpp"

namespace {
struct Isa {};
}  // namespace

#define HALVO_CAT2(a, b) a##b
#define HALVO_CAT(a, b) HALVO_CAT2(a, b)

void HALVO_CAT(channelizer_process_, HALVO_TEST_LEVEL)(halvo::Channelizer& c, const halvo::cf32* in,
                                                       halvo::cf32* out, std::size_t n) {
    const std::size_t count = static_cast<std::size_t>(c.m) * c.output_count(n);
    c.process<Isa>(in, out, n);
    halvo::simd::canonicalise_nans<Isa>(reinterpret_cast<float*>(out), 2 * count);
}

void HALVO_CAT(receiver_bank_process_, HALVO_TEST_LEVEL)(halvo::radio::ReceiverBank& b, const halvo::cf32* in,
                                                         float* out, std::size_t n) {
    const std::size_t count = static_cast<std::size_t>(b.output_rows()) * b.output_count(n);
    b.process<Isa>(in, out, n);
    halvo::simd::canonicalise_nans<Isa>(out, count);
}
