// The float32 constants the sections and classes share, pinned to their bit
// patterns: a constant's bits are part of every result computed from it.
#pragma once

#include <bit>
#include <cstdint>

namespace halvo {

inline constexpr float kTwoPi = 6.2831855f;  // 2*pi
static_assert(std::bit_cast<std::uint32_t>(kTwoPi) == 0x40C90FDBu);
inline constexpr float kNegTwoPi = -6.2831855f;
static_assert(std::bit_cast<std::uint32_t>(kNegTwoPi) == 0xC0C90FDBu);
inline constexpr float kPi = 3.1415927f;
static_assert(std::bit_cast<std::uint32_t>(kPi) == 0x40490FDBu);
inline constexpr float kHalfPi = 1.5707964f;
static_assert(std::bit_cast<std::uint32_t>(kHalfPi) == 0x3FC90FDBu);
inline constexpr float kQuarterPi = 0.7853982f;
static_assert(std::bit_cast<std::uint32_t>(kQuarterPi) == 0x3F490FDBu);
inline constexpr float kAtanEps = 1.1920929e-7f;  // 2^-23
static_assert(std::bit_cast<std::uint32_t>(kAtanEps) == 0x34000000u);

}  // namespace halvo
