// BiquadLowpass and DcBlocker: designs, steps and the facts that pin them.
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <numbers>
#include <utility>

#include "dsp/biquad_lowpass.hpp"
#include "dsp/dc_blocker.hpp"
#include "harness.hpp"
#include "rounded.hpp"

using halvo::BiquadLowpass;
using halvo::BiquadPair;
using halvo::DcBlocker;
using namespace halvo_test;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kR = 0x1.fff2e4p-1f;  // 0.9999f, the upper clamp of R
static_assert(std::bit_cast<std::uint32_t>(kR) == 0x3F7FF972u);

// The design written out one rounding at a time: cut-off at 0.9 * bw,
// alpha = sin w / sqrt 2, everything scaled by r = 1 / (1 + alpha).
struct Coefficients {
    float b0, b1, b2, a1, a2;
};

Coefficients lowpass_by_hand(float fs, float bw) {
    const float w = divide(mul(mul(bw, 0.9f), 6.2831855f), fs);
    const float c = ::cosf(opaque(w));
    const float s = ::sinf(opaque(w));
    const float alpha = divide(s, 1.4142135f);
    const float r = divide(1.0f, add(1.0f, alpha));
    const float b0 = mul(mul(0.5f, sub(1.0f, c)), r);
    return {b0, mul(sub(1.0f, c), r), b0, mul(mul(-2.0f, c), r), mul(sub(1.0f, alpha), r)};
}

// One transposed direct form II step: two fused multiply-adds, then rounded
// products and differences.
float lowpass_step_by_hand(const Coefficients& k, float& s1, float& s2, float x) {
    const float y = fused(k.b0, x, s1);
    const float t = fused(k.b1, x, s2);
    s1 = sub(t, mul(k.a1, y));
    s2 = sub(mul(k.b2, x), mul(k.a2, y));
    return y;
}

// Amplitude of the steady-state response of `step` to a unit sine at f Hz,
// measured by correlation over `n` samples after `settle` samples; n spans a
// whole number of periods.
template <class Step>
double sine_gain(Step step, double f, double fs, int settle, int n) {
    double i_sum = 0.0;
    double q_sum = 0.0;
    for (int k = 0; k < settle + n; ++k) {
        const double ph = 2.0 * std::numbers::pi * f * k / fs;
        const float y = step(static_cast<float>(std::sin(ph)));
        if (k >= settle) {
            i_sum += y * std::sin(ph);
            q_sum += y * std::cos(ph);
        }
    }
    return 2.0 * std::hypot(i_sum, q_sum) / n;
}

// (fs, bw) pairs used by the design checks: typical audio settings, a wide
// band, bw beyond half the sample rate, tiny and huge rates.
constexpr float kDesigns[][2] = {
    {48000.0f, 2700.0f}, {48000.0f, 3000.0f}, {8000.0f, 3500.0f},  {44100.0f, 15000.0f},
    {2.4e6f, 100000.0f}, {48000.0f, 30000.0f}, {1.0f, 0.25f},      {96000.0f, 1.0f},
};

}  // namespace

TEST(biquad_design_follows_rounded_steps) {
    Rng rng(1);
    for (int i = 0; i < 4000; ++i) {
        float fs, bw;
        if (i < static_cast<int>(std::size(kDesigns))) {
            fs = kDesigns[i][0];
            bw = kDesigns[i][1];
        } else {
            fs = std::exp2(rng.uniform(0.0, 24.0));
            bw = rng.uniform(0.0, 0.6) * fs;
        }
        INFO("fs=%.9g bw=%.9g", fs, bw);
        const BiquadLowpass q = BiquadLowpass::design(opaque(fs), opaque(bw));
        const Coefficients k = lowpass_by_hand(fs, bw);
        CHECK_BITS(q.b0, k.b0);
        CHECK_BITS(q.b1, k.b1);
        CHECK_BITS(q.b2, k.b2);
        CHECK_BITS(q.a1, k.a1);
        CHECK_BITS(q.a2, k.a2);
        CHECK_BITS(q.s1, 0.0f);
        CHECK_BITS(q.s2, 0.0f);
        // Halving is exact, so the outer taps are exactly half the middle one.
        CHECK_BITS(q.b2, q.b0);
        CHECK_BITS(q.b0, q.b1 * 0.5f);
    }
}

TEST(biquad_dc_gain_is_one) {
    // In the formulas b0 + b1 + b2 = 1 + a1 + a2 = 2 (1 - c) r; the float
    // coefficients keep that within a few roundings of 1.
    for (const auto& d : kDesigns) {
        INFO("fs=%g bw=%g", d[0], d[1]);
        const BiquadLowpass q = BiquadLowpass::design(d[0], d[1]);
        const double num = static_cast<double>(q.b0) + q.b1 + q.b2;
        const double den = 1.0 + q.a1 + q.a2;
        CHECK_NEAR(num, den, 4e-7);
    }
    // A fresh pair fed a constant overshoots, then settles at the constant.
    for (float level : {1.0f, -250.0f, 3e-3f}) {
        INFO("level=%g", level);
        BiquadPair p = BiquadPair::design(48000.0f, 2700.0f);
        float peak = 0.0f;
        float y = 0.0f;
        for (int n = 0; n < 4000; ++n) {
            y = p.step(level);
            peak = std::fmax(peak, y / level);
        }
        CHECK(peak > 1.01f);
        CHECK_NEAR(y / level, 1.0, 1e-5);
    }
}

TEST(biquad_minus_3db_at_cutoff) {
    // A Butterworth section is 3 dB down at 0.9 * bw, the pair 6 dB.
    for (const auto& [fs, bw] : {std::pair{48000.0f, 2700.0f}, std::pair{8000.0f, 1000.0f}}) {
        INFO("fs=%g bw=%g", fs, bw);
        const double f = 0.9 * bw;  // a whole number of cycles per second here
        BiquadLowpass one = BiquadLowpass::design(fs, bw);
        BiquadPair two = BiquadPair::design(fs, bw);
        const int settle = static_cast<int>(fs) / 10;
        const int n = static_cast<int>(fs);
        CHECK_NEAR(sine_gain([&](float x) { return one.step(x); }, f, fs, settle, n), std::sqrt(0.5), 2e-5);
        CHECK_NEAR(sine_gain([&](float x) { return two.step(x); }, f, fs, settle, n), 0.5, 2e-5);
        // Well inside the pass band the pair passes the sine unchanged.
        BiquadPair pass = BiquadPair::design(fs, bw);
        CHECK_NEAR(sine_gain([&](float x) { return pass.step(x); }, f / 30.0, fs, settle, n), 1.0, 2e-5);
    }
}

TEST(biquad_zero_bandwidth_outputs_zero) {
    const BiquadLowpass q = BiquadLowpass::design(48000.0f, 0.0f);
    CHECK_BITS(q.b0, 0.0f);
    CHECK_BITS(q.b1, 0.0f);
    CHECK_BITS(q.b2, 0.0f);
    CHECK_BITS(q.a1, -2.0f);
    CHECK_BITS(q.a2, 1.0f);
    BiquadPair p = BiquadPair::design(48000.0f, 0.0f);
    Rng rng(2);
    for (int n = 0; n < 3000; ++n) {
        const float x = rng.uniform(-1e30, 1e30);
        const float y = p.step(x);
        if (y != 0.0f) {
            INFO("n=%d x=%g", n, x);
            CHECK(y == 0.0f);
        }
    }
}

TEST(biquad_zero_sample_rate_is_nan) {
    for (float bw : {2700.0f, 0.0f, -100.0f}) {
        INFO("bw=%g", bw);
        const BiquadLowpass q = BiquadLowpass::design(opaque(0.0f), opaque(bw));
        CHECK(std::isnan(q.b0) && std::isnan(q.b1) && std::isnan(q.b2));
        CHECK(std::isnan(q.a1) && std::isnan(q.a2));
        BiquadPair p = BiquadPair::design(opaque(0.0f), opaque(bw));
        CHECK(std::isnan(p.step(1.0f)));
        CHECK(std::isnan(p.step(0.0f)));
    }
}

TEST(biquad_negative_bandwidth_is_unstable) {
    // A negative alpha puts a2 above 1: complex poles outside the unit circle.
    const BiquadLowpass q = BiquadLowpass::design(48000.0f, -1000.0f);
    CHECK(q.a2 > 1.0f);
    BiquadLowpass s = q;
    float early = 0.0f;
    float late = 0.0f;
    for (int n = 0; n < 600; ++n) {
        const float y = std::fabs(s.step(n == 0 ? 1.0f : 0.0f));
        if (n < 50) early = std::fmax(early, y);
        if (n >= 550) late = std::fmax(late, y);
    }
    CHECK(late > 1e6f * early);
}

TEST(biquad_step_fuses_only_the_first_two_products) {
    // Random input through several designs, compared bit for bit with the
    // step written out by hand. An all-rounded step, or one that also fuses
    // the state updates, must differ somewhere in this data.
    Rng rng(3);
    long all_rounded_differs = 0;
    long all_fused_differs = 0;
    for (const auto& d : kDesigns) {
        const Coefficients k = lowpass_by_hand(d[0], d[1]);
        BiquadPair p = BiquadPair::design(d[0], d[1]);
        float s[4] = {};    // by hand: section one s1, s2, section two s1, s2
        float r[2] = {};    // all-rounded variant, section one only
        float f[2] = {};    // all-fused variant, section one only
        for (int n = 0; n < 5000; ++n) {
            const float x = rng.uniform(-2.0, 2.0);
            const float got = p.step(x);
            const float y1 = lowpass_step_by_hand(k, s[0], s[1], x);
            const float want = lowpass_step_by_hand(k, s[2], s[3], y1);
            if (std::bit_cast<std::uint32_t>(got) != std::bit_cast<std::uint32_t>(want)) {
                INFO("fs=%g bw=%g n=%d", d[0], d[1], n);
                CHECK_BITS(got, want);
            }
            const float yr = add(mul(k.b0, x), r[0]);
            const float tr = add(mul(k.b1, x), r[1]);
            r[0] = sub(tr, mul(k.a1, yr));
            r[1] = sub(mul(k.b2, x), mul(k.a2, yr));
            all_rounded_differs += (yr != y1);
            const float yf = fused(k.b0, x, f[0]);
            const float tf = fused(k.b1, x, f[1]);
            f[0] = fused(-k.a1, yf, tf);
            f[1] = fused(k.b2, x, -mul(k.a2, yf));
            all_fused_differs += (yf != y1);
        }
    }
    CHECK(all_rounded_differs > 0);
    CHECK(all_fused_differs > 0);
}

TEST(dc_blocker_pole_radius) {
    // R = 1 - 4 pi / fs, clamped to [0, 0.9999f]; NaN passes through.
    struct Case {
        float fs;
        float want;
    } const cases[] = {
        {0.0f, 0.0f},   {1.0f, 0.0f},   {10.0f, 0.0f}, {12.5f, 0.0f},  // below 4 pi Hz
        {-1.0f, kR},    {-48000.0f, kR}, {kInf, kR},   {-kInf, kR},    // negative or infinite
        {1.3e5f, kR},   {2.4e6f, kR},   {3e38f, kR},                   // above 4 pi / (1 - 0.9999)
    };
    for (const Case& c : cases) {
        INFO("fs=%g", c.fs);
        CHECK_BITS(DcBlocker::design(opaque(c.fs)).R, c.want);
    }
    CHECK(std::isnan(DcBlocker::design(opaque(kNaN)).R));
    // Between the clamps R follows the formula.
    for (float fs : {13.0f, 100.0f, 8000.0f, 48000.0f, 1.2e5f}) {
        INFO("fs=%g", fs);
        const float r = DcBlocker::design(opaque(fs)).R;
        CHECK_NEAR(r, 1.0 - 4.0 * std::numbers::pi / fs, 2e-7);
        CHECK(r > 0.0f && r < kR);
    }
}

TEST(dc_blocker_design_follows_rounded_steps) {
    Rng rng(4);
    for (int i = 0; i < 4000; ++i) {
        const float fs = (i % 2 ? 1.0f : -1.0f) * std::exp2(rng.uniform(-4.0, 40.0));
        INFO("fs=%.9g", fs);
        const float t = add(mul(divide(-2.0f, fs), 6.2831855f), 1.0f);
        const float want = t < 0.0f ? 0.0f : (t > kR ? kR : t);
        const DcBlocker d = DcBlocker::design(opaque(fs));
        CHECK_BITS(d.R, want);
        CHECK_BITS(d.x1, 0.0f);
        CHECK_BITS(d.y1, 0.0f);
    }
}

TEST(dc_blocker_first_sample_and_decay) {
    // A fresh blocker passes its first input unchanged; a constant input then
    // decays by exactly one rounded factor R per sample (x - x1 is 0).
    for (float fs : {48000.0f, 8000.0f, 2.4e6f}) {
        for (float level : {1.0f, -3.5f, 1e-30f, 7e37f}) {
            INFO("fs=%g level=%g", fs, level);
            DcBlocker d = DcBlocker::design(fs);
            float prev = d.step(level);
            CHECK_BITS(prev, level);
            for (int n = 1; n < 2000; ++n) {
                const float y = d.step(level);
                if (std::bit_cast<std::uint32_t>(y) != std::bit_cast<std::uint32_t>(mul(d.R, prev))) {
                    CHECK_BITS(y, mul(d.R, prev));
                }
                prev = y;
            }
        }
    }
}

TEST(dc_blocker_step_is_not_fused) {
    // y = (x - x1) + R * y1 with the product rounded; a fused version must
    // differ somewhere in this data.
    Rng rng(5);
    long fused_differs = 0;
    for (float fs : {48000.0f, 8000.0f, 10.0f, 2.4e6f}) {
        DcBlocker d = DcBlocker::design(fs);
        float x1 = 0.0f;
        float y1 = 0.0f;
        for (int n = 0; n < 5000; ++n) {
            const float x = rng.uniform(-1.0, 1.0);
            const float want = add(sub(x, x1), mul(d.R, y1));
            fused_differs += (fused(d.R, y1, sub(x, x1)) != want);
            const float got = d.step(x);
            if (std::bit_cast<std::uint32_t>(got) != std::bit_cast<std::uint32_t>(want)) {
                INFO("fs=%g n=%d", fs, n);
                CHECK_BITS(got, want);
            }
            x1 = x;
            y1 = want;
        }
    }
    CHECK(fused_differs > 0);
}

TEST(dc_blocker_low_rate_gives_first_differences) {
    DcBlocker d = DcBlocker::design(10.0f);
    Rng rng(6);
    float x1 = 0.0f;
    for (int n = 0; n < 100; ++n) {
        const float x = rng.uniform(-10.0, 10.0);
        CHECK_BITS(d.step(x), sub(x, x1));
        x1 = x;
    }
}

TEST(dc_blocker_nan_sample_rate_gives_nan) {
    DcBlocker d = DcBlocker::design(opaque(kNaN));
    CHECK(std::isnan(d.step(1.0f)));
    CHECK(std::isnan(d.step(0.0f)));
}

HALVO_TEST_MAIN()
