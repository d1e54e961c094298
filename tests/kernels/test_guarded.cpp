// simd::Guarded against plain float32 arithmetic, bit for bit, on operands
// from every range that matters: subnormals, the smallest normals, zeros of
// both signs, ordinary values, huge values, infinities and NaNs (a NaN must
// give a NaN; which one is the NaN rule's business, applied on output).
// Built twice: with the build's baseline flags (fma is the module's own
// correctly rounded one) and for x86-64-v3 (a hardware double FMA, checked
// for the double-rounding midpoint case).
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "../dsp/harness.hpp"
#include "simd/guarded.hpp"
#if defined(__x86_64__)
#include "port/cpu_x86.hpp"
#endif

using halvo::simd::Guarded;

namespace {

// Bitwise equal, or both NaN.
bool same(float a, float b) {
    return std::isnan(a) ? std::isnan(b) : std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

float opaque(float x) {
    asm volatile("" : "+m"(x));
    return x;
}

// Sign, then an exponent field from a range chosen at random, then any mantissa.
float draw(std::mt19937& rng) {
    static const float specials[] = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, 1.0f, -1.0f, 0x1p-126f, 0x1p-149f};
    const std::uint32_t r = static_cast<std::uint32_t>(rng());
    switch (r % 8) {
        case 0: return specials[(r >> 3) % std::size(specials)];
        case 1:
        case 2: return std::bit_cast<float>((r & 0x8000'0000u) | (static_cast<std::uint32_t>(rng()) & 0x007F'FFFFu));  // subnormal
        case 3: return std::bit_cast<float>((r & 0x8000'0000u) | ((1u + (r >> 3) % 24u) << 23) | (static_cast<std::uint32_t>(rng()) & 0x007F'FFFFu));
        case 4: return std::bit_cast<float>((r & 0x8000'0000u) | ((100u + (r >> 3) % 50u) << 23) | (static_cast<std::uint32_t>(rng()) & 0x007F'FFFFu));
        case 5: return std::bit_cast<float>((r & 0x8000'0000u) | ((230u + (r >> 3) % 24u) << 23) | (static_cast<std::uint32_t>(rng()) & 0x007F'FFFFu));
        default: return std::bit_cast<float>((r & 0x8000'0000u) | ((40u + (r >> 3) % 90u) << 23) | (static_cast<std::uint32_t>(rng()) & 0x007F'FFFFu));
    }
}

void check_all(std::mt19937& rng, int rounds) {
    int bad = 0;
    for (int i = 0; i < rounds; ++i) {
        const float a = draw(rng), b = draw(rng), c = draw(rng);
        const Guarded ga = a, gb = b, gc = c;
        bad += !same(opaque(a) + b, ga + gb);
        bad += !same(opaque(a) - b, ga - gb);
        bad += !same(opaque(a) * b, ga * gb);
        bad += !same(opaque(a) / b, ga / gb);
        bad += !same(halvo::sqrt32(opaque(a)), halvo::simd::sqrt(ga));
        bad += !same(halvo::fma32(opaque(a), b, c), halvo::simd::fma(ga, gb, gc));
        // Products near the subnormal range with an addend there too.
        const float t = opaque(a) * 0x1p-100f, u = b * 0x1p-30f;
        bad += !same(halvo::fma32(t, u, c * 0x1p-120f), halvo::simd::fma(Guarded(t), Guarded(u), Guarded(c * 0x1p-120f)));
    }
    CHECK(bad == 0);
}

}  // namespace

TEST(guarded_matches_float32) {
#if defined(HALVO_GUARDED_TEST_V3) && defined(__x86_64__)
    if (!halvo::port::has_x86_64_v3()) {
        std::printf("  (this CPU lacks x86-64-v3: skipped)\n");
        return;
    }
#endif
    std::mt19937 rng(20261211);
    check_all(rng, 2'000'000);
}

// a*b + c where the double nearest the exact value is a midpoint between two
// floats: rounding the double would tie to the even float, the exact value
// lies below the midpoint and rounds to the odd one.
TEST(guarded_fma_double_rounding) {
#if defined(HALVO_GUARDED_TEST_V3) && defined(__x86_64__)
    if (!halvo::port::has_x86_64_v3()) return;
#endif
    const float a = 0x1p-24f * (1.0f + 0x1p-23f);
    const float b = 1.0f - 0x1p-23f;
    const float c = 1.0f + 0x1p-23f;  // odd; a*b = 2^-24 - 2^-70
    for (const float s : {1.0f, -1.0f, 0x1p-100f, 0x1p100f}) {
        const float want = halvo::fma32(opaque(a) * s, b, c * s);
        CHECK(same(want, (c + 0.0f) * s));  // the exact sum is below the midpoint
        CHECK(same(halvo::simd::fma(Guarded(a * s), Guarded(b), Guarded(c * s)), want));
        CHECK(same(halvo::simd::fma(Guarded(-a * s), Guarded(b), Guarded(-c * s)), -want));
    }
}

HALVO_TEST_MAIN()
