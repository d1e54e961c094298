// The NaN rule: every NaN a kernel writes is the one quiet NaN 0x7FC00000.
//
// Which NaN an operation returns when its operands hold several (or when it
// makes a new one, as inf - inf does) depends on the hardware and on the
// operand order the compiler picks for each instruction: x86 returns the
// first operand's NaN, and a vector multiply may be emitted with its operands
// the other way round from the scalar one; ARM's default NaN differs from
// x86's. So the sign and payload of a NaN output are not fixed by the
// arithmetic, and a stream cut in another place, or run on another level,
// could give another NaN. The rule fixes them where the output is written:
// that a value is NaN is part of the result, which NaN is not, and every NaN
// becomes kCanonicalNan. Non-NaN values pass through untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace halvo::simd {

inline constexpr std::uint32_t kCanonicalNan = 0x7FC00000u;

// Rewrites every NaN among count floats at p as kCanonicalNan. A template on
// the caller's level tag (a type with internal linkage), so each instruction
// set level keeps its own copy and never shares one with another level.
template <class Isa>
[[gnu::always_inline]] inline void canonicalise_nans(float* p, std::size_t count) {
    typedef std::int32_t i32x8 __attribute__((vector_size(32)));
    const i32x8 magnitude = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                             0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
    const i32x8 inf = {0x7F800000, 0x7F800000, 0x7F800000, 0x7F800000,
                       0x7F800000, 0x7F800000, 0x7F800000, 0x7F800000};
    const i32x8 qnan = {0x7FC00000, 0x7FC00000, 0x7FC00000, 0x7FC00000,
                        0x7FC00000, 0x7FC00000, 0x7FC00000, 0x7FC00000};
    std::size_t i = 0;
    // Integer compares on the bit patterns: a NaN's magnitude bits exceed
    // those of infinity, whatever the floating-point unit would say.
    for (; i + 8 <= count; i += 8) {
        i32x8 v;
        std::memcpy(&v, p + i, sizeof v);
        const i32x8 nan = (v & magnitude) > inf;  // all ones in a NaN lane
        v = (v & ~nan) | (qnan & nan);
        std::memcpy(p + i, &v, sizeof v);
    }
    for (; i < count; ++i) {
        std::uint32_t u;
        std::memcpy(&u, p + i, sizeof u);
        if ((u & 0x7FFFFFFFu) > 0x7F800000u) u = kCanonicalNan;
        std::memcpy(p + i, &u, sizeof u);
    }
}

}  // namespace halvo::simd
