// RateCount: how many outputs a rate change owes after the inputs seen so
// far. Output j belongs to input time j * den / num, so after n inputs
// there are exactly ceil(n * num / den) of them (num/den, the output rate
// over the input rate, in lowest terms). The count follows from the
// inputs seen alone, so any split of a stream hands out the same outputs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../simd/fp.hpp"

namespace halvo::radio {

struct RateCount {
    std::uint64_t seen = 0;  // input samples so far
    std::uint64_t num = 1, den = 1;

    // num/den reduced by their greatest common divisor (both above 0).
    static RateCount make(std::uint64_t num, std::uint64_t den) {
        std::uint64_t a = num, b = den;
        while (b != 0) {
            const std::uint64_t r = a % b;
            a = b;
            b = r;
        }
        RateCount c;
        c.num = num / a;
        c.den = den / a;
        return c;
    }

    // ceil(n * num / den) without overflow: with n = a*den + b it is
    // a*num + ceil(b*num / den) (b*num < 2^48).
    HALVO_INLINE std::uint64_t due(std::uint64_t n) const {
        const std::uint64_t a = n / den, b = n % den;
        return a * num + (b * num + den - 1) / den;
    }

    // The outputs that n more inputs make due.
    HALVO_INLINE std::size_t output_count(std::size_t n) const {
        return static_cast<std::size_t>(due(seen + n) - due(seen));
    }

    // The same, the n inputs then counted as seen.
    HALVO_INLINE std::size_t take(std::size_t n) {
        const std::size_t give = output_count(n);
        seen += n;
        return give;
    }
};

}  // namespace halvo::radio
