// The build must not contract a*b + c into a fused multiply-add.
//
// GCC contracts by default whenever the target has an FMA instruction; this
// module's results depend on it not doing so. The baseline x86-64 target has
// no such instruction, so on x86 the same code is also compiled for an
// FMA-capable target and run when the CPU has FMA: without -ffp-contract=off
// those copies would fuse and give other bits.
#include <bit>
#include <cmath>
#include <cstdint>

#include "dsp/biquad_lowpass.hpp"
#include "dsp/dc_blocker.hpp"
#include "dsp/phase_discriminator.hpp"
#include "dsp/phasor_oscillator.hpp"
#include "harness.hpp"
#include "rounded.hpp"

using namespace halvo_test;

#if defined(__x86_64__) || defined(__i386__)
#define HALVO_TEST_HAS_FMA_TARGET 1
#define HALVO_FMA_TARGET [[gnu::target("fma")]]
#else
#define HALVO_TEST_HAS_FMA_TARGET 0
#define HALVO_FMA_TARGET
#endif

namespace {

// (1 + 2^-12)^2 - (1 + 2^-11) is exactly 2^-24; rounding the product first
// drops that term (a tie, rounded to even), so the unfused result is 0.
constexpr float kA = 1.0f + 0x1p-12f;
constexpr float kC = -(1.0f + 0x1p-11f);

float multiply_add(float a, float b, float c) { return a * b + c; }

HALVO_FMA_TARGET float multiply_add_fma_target(float a, float b, float c) { return a * b + c; }

// The sections stepped over the same data; the two copies differ only in
// the target they are compiled for.
struct Inputs {
    float x, y;    // one real sample, and the imaginary part of a complex one
    float cn, sn;  // a unit step for advance_by
};

struct Outputs {
    float biquad, dc, phase, re, im;
};

#define HALVO_SECTIONS_BODY                                                         \
    halvo::BiquadPair p = halvo::BiquadPair::design(48000.0f, 2700.0f);             \
    halvo::DcBlocker d = halvo::DcBlocker::design(48000.0f);                        \
    halvo::PhaseDiscriminator q = halvo::PhaseDiscriminator::design();              \
    halvo::PhasorOscillator o = halvo::PhasorOscillator::design(1000.0f, 48000.0f); \
    for (int n = 0; n < count; ++n) {                                               \
        out[n].biquad = p.step(in[n].x);                                            \
        out[n].dc = d.step(in[n].x);                                                \
        out[n].phase = q.step({in[n].x, in[n].y});                                  \
        if (n % 2) {                                                                \
            o.advance();                                                            \
        } else {                                                                    \
            o.advance_by(in[n].cn, in[n].sn);                                       \
        }                                                                           \
        out[n].re = o.re;                                                           \
        out[n].im = o.im;                                                           \
    }

[[gnu::noinline]] void run_baseline(const Inputs* in, Outputs* out, int count) { HALVO_SECTIONS_BODY }

[[gnu::noinline]] HALVO_FMA_TARGET void run_fma_target(const Inputs* in, Outputs* out, int count) {
    HALVO_SECTIONS_BODY
}

bool cpu_has_fma() {
#if HALVO_TEST_HAS_FMA_TARGET
    return __builtin_cpu_supports("fma");
#else
    return true;  // the build target itself has FMA (or no contraction is possible)
#endif
}

}  // namespace

TEST(multiply_add_rounds_twice) {
    const float a = opaque(kA);
    const float c = opaque(kC);
    CHECK_BITS(fused(a, a, c), 0x1p-24f);  // the values tell the two apart
    CHECK_BITS(multiply_add(a, a, c), 0.0f);
    if (cpu_has_fma()) CHECK_BITS(multiply_add_fma_target(a, a, c), 0.0f);
}

TEST(sections_same_bits_on_fma_target) {
    if (!cpu_has_fma()) {
        std::printf("  (no FMA on this CPU: the FMA-target copy is not run)\n");
        return;
    }
    constexpr int kCount = 4096;
    static Inputs in[kCount];
    static Outputs base[kCount];
    static Outputs other[kCount];
    Rng rng(10);
    for (Inputs& v : in) {
        const float step = rng.uniform(-3.0, 3.0);
        v = {rng.uniform(-1.0, 1.0), rng.uniform(-1.0, 1.0), std::cos(step), std::sin(step)};
    }
    run_baseline(in, base, kCount);
    run_fma_target(in, other, kCount);
    for (int n = 0; n < kCount; ++n) {
        const Outputs& b = base[n];
        const Outputs& o = other[n];
        if (std::bit_cast<std::uint32_t>(b.biquad) != std::bit_cast<std::uint32_t>(o.biquad) ||
            std::bit_cast<std::uint32_t>(b.dc) != std::bit_cast<std::uint32_t>(o.dc) ||
            std::bit_cast<std::uint32_t>(b.phase) != std::bit_cast<std::uint32_t>(o.phase) ||
            std::bit_cast<std::uint32_t>(b.re) != std::bit_cast<std::uint32_t>(o.re) ||
            std::bit_cast<std::uint32_t>(b.im) != std::bit_cast<std::uint32_t>(o.im)) {
            INFO("n=%d", n);
            CHECK_BITS(o.biquad, b.biquad);
            CHECK_BITS(o.dc, b.dc);
            CHECK_BITS(o.phase, b.phase);
            CHECK_BITS(o.re, b.re);
            CHECK_BITS(o.im, b.im);
        }
    }
}

HALVO_TEST_MAIN()
