// Reads triples of float32 bit patterns (hex, one triple a line) and prints
// the bit pattern of soft_fma32(a, b, c) for each; check_soft_fma.py feeds it
// and checks every answer against exact rational arithmetic.
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "port/soft_fma.hpp"

int main() {
    unsigned a, b, c;
    while (std::scanf("%x %x %x", &a, &b, &c) == 3) {
        const float r = halvo::port::soft_fma32(std::bit_cast<float>(std::uint32_t{a}),
                                                std::bit_cast<float>(std::uint32_t{b}),
                                                std::bit_cast<float>(std::uint32_t{c}));
        std::printf("%08" PRIx32 "\n", std::bit_cast<std::uint32_t>(r));
    }
    return 0;
}
