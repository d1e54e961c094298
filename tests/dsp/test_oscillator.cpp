// PhasorOscillator: first step, rotation, renormalisation on the lifetime
// counter, and the externally supplied step.
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "dsp/phasor_oscillator.hpp"
#include "harness.hpp"
#include "rounded.hpp"

using halvo::PhasorOscillator;
using namespace halvo_test;

namespace {

// The oscillator written out one rounding at a time.
struct HandPhasor {
    float re = 1.0f;
    float im = 0.0f;
    std::uint32_t counter = 0;
    bool renormalised = false;  // whether the last advance renormalised

    void advance(float c, float s) {
        float nr = fused(re, c, -mul(im, s));
        float ni = fused(im, c, mul(re, s));
        counter = counter + 1u;
        renormalised = counter % 1024u == 0u;
        if (renormalised) {
            const float k = divide(1.0f, root(add(mul(nr, nr), mul(ni, ni))));
            nr = mul(nr, k);
            ni = mul(ni, k);
        }
        re = nr;
        im = ni;
    }
};

// Step angle d = (f * 2pi) / fs, the product rounded before the division.
float step_angle(float f, float fs) { return divide(mul(f, 6.2831855f), fs); }

double magnitude(const PhasorOscillator& o) { return std::hypot(static_cast<double>(o.re), o.im); }

constexpr float kSettings[][2] = {
    {1000.0f, 48000.0f}, {-1500.0f, 48000.0f}, {12000.0f, 48000.0f}, {23999.0f, 48000.0f},
    {30000.0f, 48000.0f}, {440.0f, 44100.0f}, {7e5f, 2.4e6f},        {1.0f, 3.0f},
};

}  // namespace

TEST(phasor_first_advance_is_one_step) {
    for (const auto& k : kSettings) {
        INFO("f=%g fs=%g", k[0], k[1]);
        const float d = step_angle(k[0], k[1]);
        const float c = ::cosf(opaque(d));
        const float s = ::sinf(opaque(d));
        PhasorOscillator o = PhasorOscillator::design(opaque(k[0]), opaque(k[1]));
        CHECK_BITS(o.c, c);
        CHECK_BITS(o.s, s);
        CHECK_BITS(o.re, 1.0f);
        CHECK_BITS(o.im, 0.0f);
        CHECK(o.counter == 0u);
        o.advance();
        CHECK_BITS(o.re, c);
        CHECK_BITS(o.im, s);
        CHECK(o.counter == 1u);
    }
}

TEST(phasor_zero_frequency_stays_at_one) {
    PhasorOscillator o = PhasorOscillator::design(0.0f, 48000.0f);
    CHECK_BITS(o.c, 1.0f);
    CHECK_BITS(o.s, 0.0f);
    for (int n = 1; n <= 5000; ++n) {
        o.advance();
        if (o.re != 1.0f || std::bit_cast<std::uint32_t>(o.im) != 0u) {
            INFO("n=%d", n);
            CHECK_BITS(o.re, 1.0f);
            CHECK_BITS(o.im, 0.0f);
        }
    }
    CHECK(o.counter == 5000u);
}

TEST(phasor_matches_step_by_step_recomputation) {
    // Bit for bit over several renormalisation points, for each setting.
    for (const auto& k : kSettings) {
        PhasorOscillator o = PhasorOscillator::design(k[0], k[1]);
        HandPhasor h;
        int renormalisations = 0;
        for (int n = 1; n <= 5 * 1024 + 7; ++n) {
            o.advance();
            h.advance(o.c, o.s);
            renormalisations += h.renormalised;
            if (o.re != h.re || o.im != h.im) {
                INFO("f=%g fs=%g n=%d", k[0], k[1], n);
                CHECK_BITS(o.re, h.re);
                CHECK_BITS(o.im, h.im);
            }
        }
        CHECK(renormalisations == 5);
        CHECK(o.counter == 5u * 1024u + 7u);
    }
}

TEST(phasor_magnitude_restored_on_every_1024th_advance) {
    // With this step the magnitude drifts by about 2.6e-5 over 1023 advances;
    // each 1024th advance brings it back to 1 within a few roundings.
    PhasorOscillator o = PhasorOscillator::design(1000.0f, 48000.0f);
    for (int n = 1; n <= 64 * 1024; ++n) {
        o.advance();
        if (n % 1024 != 0 && n % 1024 != 1023) continue;
        const double m = magnitude(o);
        INFO("n=%d |z|-1=%.3g", n, m - 1.0);
        CHECK(n % 1024 == 0 ? std::fabs(m - 1.0) <= 0x1p-22 : std::fabs(m - 1.0) > 1e-5);
    }
}

TEST(phasor_renormalises_by_reciprocal) {
    // From (12, 35) the magnitude is exactly 37; the new phasor is each part
    // times the rounded 1/37, which here differs from each part / 37.
    const float k = divide(1.0f, 37.0f);
    CHECK(mul(12.0f, k) != divide(12.0f, 37.0f));
    CHECK(mul(35.0f, k) != divide(35.0f, 37.0f));
    PhasorOscillator o = PhasorOscillator::design(0.0f, 1.0f);  // step (1, 0)
    o.re = 12.0f;
    o.im = 35.0f;
    o.counter = 1023u;
    o.advance();
    CHECK_BITS(o.re, mul(12.0f, k));
    CHECK_BITS(o.im, mul(35.0f, k));
}

TEST(phasor_counter_wraps_modulo_2_32) {
    // Advances 2^32 - 2 and 2^32 - 1 leave a non-unit phasor alone; the next
    // one wraps the counter to 0, a multiple of 1024, and renormalises.
    PhasorOscillator o = PhasorOscillator::design(0.0f, 1.0f);
    o.re = 12.0f;
    o.im = 35.0f;
    o.counter = 0xFFFFFFFDu;
    o.advance();
    o.advance();
    CHECK(o.counter == 0xFFFFFFFFu);
    CHECK_BITS(o.re, 12.0f);
    CHECK_BITS(o.im, 35.0f);
    o.advance();
    CHECK(o.counter == 0u);
    const float k = divide(1.0f, 37.0f);
    CHECK_BITS(o.re, mul(12.0f, k));
    CHECK_BITS(o.im, mul(35.0f, k));
}

TEST(phasor_advance_by_uses_given_step) {
    // A unit phasor's first advance_by returns the given step itself.
    PhasorOscillator u = PhasorOscillator::unit();
    u.advance_by(0.6f, -0.8f);
    CHECK_BITS(u.re, 0.6f);
    CHECK_BITS(u.im, -0.8f);
    // Interleaved with advance() on an oscillator that has its own step,
    // each call rotates by its own step and both count towards 1024.
    PhasorOscillator o = PhasorOscillator::design(1000.0f, 48000.0f);
    HandPhasor h;
    Rng rng(7);
    for (int n = 1; n <= 3 * 1024; ++n) {
        if (n % 3 == 0) {
            o.advance();
            h.advance(o.c, o.s);
        } else {
            const float d = rng.uniform(-3.0, 3.0);
            const float cn = ::cosf(d);
            const float sn = ::sinf(d);
            o.advance_by(cn, sn);
            h.advance(cn, sn);
        }
        if (o.re != h.re || o.im != h.im) {
            INFO("n=%d", n);
            CHECK_BITS(o.re, h.re);
            CHECK_BITS(o.im, h.im);
        }
    }
    CHECK(o.counter == 3u * 1024u);
}

TEST(phasor_zero_sample_rate_is_nan) {
    for (float f : {1000.0f, -5.0f, 0.0f}) {
        INFO("f=%g", f);
        PhasorOscillator o = PhasorOscillator::design(opaque(f), opaque(0.0f));
        CHECK(std::isnan(o.c) && std::isnan(o.s));
        for (int n = 1; n <= 2000; ++n) {
            o.advance();
            if (n == 1 || n == 1024 || n == 2000) CHECK(std::isnan(o.re) && std::isnan(o.im));
        }
    }
}

HALVO_TEST_MAIN()
