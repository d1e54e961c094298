// Float32 primitives shared by every section and class.
//
// The arithmetic of this module is exact to the bit: every fused multiply-add
// is written as fma32() and nothing else is fused (the build passes
// -ffp-contract=off). The helpers here are forced inline so that a kernel
// compiled for another instruction-set level gets its own copy of them
// instead of sharing one out-of-line definition with the baseline build.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#define HALVO_INLINE [[gnu::always_inline]] inline

namespace halvo {

// One complex64 sample as NumPy stores it: in-phase, then quadrature.
struct cf32 {
    float re;
    float im;
};
static_assert(sizeof(cf32) == 8 && alignof(cf32) == 4);

// a*b + c rounded once. With hardware FMA this is one instruction; without
// it, the C library's fmaf, which is exact.
HALVO_INLINE float fma32(float a, float b, float c) { return __builtin_fmaf(a, b, c); }

// Correctly rounded float32 square root.
HALVO_INLINE float sqrt32(float x) { return __builtin_sqrtf(x); }

HALVO_INLINE float abs32(float x) { return __builtin_fabsf(x); }

// Loops that split a stateless stage (vectorisable) from a recurrence run
// over the block in pieces of this many samples, so that the intermediate
// values, kept in the output buffer, are still in L1 when the recurrence
// reads them back.
inline constexpr std::size_t kChunk = 512;

// float32 constants, pinned to their bit patterns.
inline constexpr float kTwoPi = 6.2831855f;  // 2*pi
static_assert(std::bit_cast<std::uint32_t>(kTwoPi) == 0x40C90FDBu);
inline constexpr float kNegTwoPi = -6.2831855f;
static_assert(std::bit_cast<std::uint32_t>(kNegTwoPi) == 0xC0C90FDBu);

}  // namespace halvo
