// FastAtan2 and PhaseDiscriminator.
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <numbers>

#include "dsp/fast_atan2.hpp"
#include "dsp/phase_discriminator.hpp"
#include "harness.hpp"
#include "rounded.hpp"

using halvo::atan_poly;
using halvo::cf32;
using halvo::fast_atan2;
using halvo::PhaseDiscriminator;
using namespace halvo_test;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kPi = std::numbers::pi;

// The polynomial's own worst error on [0, 1] is 0.001509 rad (near t = 0.477);
// float rounding adds well under 1e-6 for inputs far above 2^-23.
constexpr double kAtanTolerance = 0.00152;

// Signed difference of two angles, taken the short way round the circle.
double angle_diff(double a, double b) { return std::remainder(a - b, 2.0 * kPi); }

}  // namespace

TEST(atan2_axes_and_diagonals) {
    // On the axes t is exactly 0 and the results are the float constants
    // themselves; on the diagonals t is 1 - 2^-23, within rounding of pi/4.
    struct Exact {
        float y, x, want;
    } const exact[] = {
        {0.0f, 0.0f, 0.0f},         {0.0f, 1.0f, 0.0f},         {1.0f, 0.0f, 1.5707964f},
        {-1.0f, 0.0f, -1.5707964f}, {0.0f, -1.0f, 3.1415927f},  {-0.0f, -1.0f, 3.1415927f},
        {-0.0f, -5e20f, 3.1415927f}, {-0.0f, 1.0f, 0.0f},       {0.0f, -0.0f, 0.0f},
        {7.0f, 0.0f, 1.5707964f},   {0.0f, -kInf, 3.1415927f},
    };
    for (const Exact& e : exact) {
        INFO("y=%g x=%g", e.y, e.x);
        CHECK_BITS(fast_atan2(opaque(e.y), opaque(e.x)), e.want);
    }
    struct Near {
        float y, x, want;
    } const near[] = {
        {1.0f, 1.0f, 0.7853982f},   {1.0f, -1.0f, 2.3561945f},  {-1.0f, -1.0f, -2.3561945f},
        {-1.0f, 1.0f, -0.7853982f}, {250.0f, 250.0f, 0.7853982f},
    };
    for (const Near& e : near) {
        INFO("y=%g x=%g", e.y, e.x);
        const float got = fast_atan2(opaque(e.y), opaque(e.x));
        CHECK((got > 0.0f) == (e.want > 0.0f));
        CHECK(ulps_apart(got, e.want) <= 2);
    }
}

TEST(atan2_nan_in_nan_out) {
    for (const auto& [y, x] : {std::pair{kNaN, 1.0f}, std::pair{1.0f, kNaN}, std::pair{kNaN, kNaN},
                               std::pair{kNaN, 0.0f}, std::pair{0.0f, kNaN}, std::pair{-kNaN, -3.0f}}) {
        INFO("y=%g x=%g", y, x);
        CHECK(std::isnan(fast_atan2(opaque(y), opaque(x))));
    }
}

TEST(atan2_tiny_inputs_pulled_toward_axis) {
    // Near 2^-23 the epsilon in the divisor matters: (1e-7, 1e-7) gives about
    // atan(1e-7 / (1e-7 + 2^-23)) = 0.43, not pi/4. Well above it, it does not.
    const double t = 1e-7f / (static_cast<double>(1e-7f) + 0x1p-23);
    const float tiny = fast_atan2(opaque(1e-7f), opaque(1e-7f));
    CHECK_NEAR(tiny, 0.43, 0.005);
    CHECK_NEAR(tiny, std::atan(t), kAtanTolerance);
    CHECK_NEAR(fast_atan2(opaque(1e-3f), opaque(1e-3f)), kPi / 4.0, 1e-4);
}

TEST(atan2_error_bound) {
    // Points on circles of very different radii, and a lattice in the square.
    double worst = 0.0;
    for (double radius : {1e-2, 1.0, 1e4, 1e30}) {
        for (int i = 0; i < 200000; ++i) {
            const double th = -kPi + 2.0 * kPi * (i + 0.5) / 200000.0;
            const float y = static_cast<float>(radius * std::sin(th));
            const float x = static_cast<float>(radius * std::cos(th));
            const float a = fast_atan2(y, x);
            const double err = std::fabs(angle_diff(a, std::atan2(static_cast<double>(y), x)));
            worst = std::fmax(worst, err);
            if (!(err <= kAtanTolerance) || !(std::fabs(a) <= 3.1415927f)) {
                INFO("radius=%g th=%.9g", radius, th);
                CHECK_NEAR(a, std::atan2(static_cast<double>(y), x), kAtanTolerance);
                CHECK(std::fabs(a) <= 3.1415927f);
            }
        }
    }
    for (int i = -256; i <= 256; ++i) {
        for (int j = -256; j <= 256; ++j) {
            if (i == 0 && j == 0) continue;
            const float y = i / 256.0f;
            const float x = j / 256.0f;
            const float a = fast_atan2(y, x);
            const double err = std::fabs(angle_diff(a, std::atan2(static_cast<double>(y), x)));
            worst = std::fmax(worst, err);
            if (!(err <= kAtanTolerance) || !(std::fabs(a) <= 3.1415927f)) {
                INFO("y=%g x=%g", y, x);
                CHECK_NEAR(a, std::atan2(static_cast<double>(y), x), kAtanTolerance);
                CHECK(std::fabs(a) <= 3.1415927f);
            }
        }
    }
    // The polynomial really is an approximation at this resolution: the
    // worst error seen is close to its known maximum, not far below it.
    CHECK(worst > 0.0014);
}

TEST(atan_poly_exact_at_ends) {
    CHECK_BITS(atan_poly(opaque(0.0f)), 0.0f);
    CHECK_BITS(atan_poly(opaque(1.0f)), 0.7853982f);
    static_assert(std::bit_cast<std::uint32_t>(0.7853982f) == 0x3F490FDBu);
}

TEST(atan2_exact_symmetries) {
    // Octant folding makes these hold bit for bit: negating y negates the
    // result; mirroring x gives pi minus the result; swapping the inputs of
    // the first octant gives pi/2 minus the result.
    Rng rng(8);
    for (int i = 0; i < 100000; ++i) {
        const float scale = std::exp2(rng.uniform(-20.0, 20.0));
        const float y = scale * rng.uniform(1e-6, 1.0);
        const float x = scale * rng.uniform(1e-6, 1.0);
        const float a = fast_atan2(y, x);
        INFO("y=%.9g x=%.9g", y, x);
        CHECK_BITS(fast_atan2(-y, x), -a);
        CHECK_BITS(fast_atan2(-y, -x), -fast_atan2(y, -x));
        CHECK_BITS(fast_atan2(y, -x), sub(3.1415927f, a));
        if (y > x) CHECK_BITS(a, sub(1.5707964f, fast_atan2(x, y)));
    }
}

TEST(discriminator_first_step_is_phase_of_sample) {
    // A fresh discriminator compares with 1 + 0j.
    const cf32 xs[] = {{1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}, {0.0f, -2.0f}, {3.0f, 4.0f},
                       {-0.25f, 0.125f}, {-7e10f, -3e10f}, {0.1f, -0.05f}};
    for (const cf32& x : xs) {
        INFO("x=(%g, %g)", x.re, x.im);
        PhaseDiscriminator d = PhaseDiscriminator::design();
        const float got = d.step(x);
        CHECK_BITS(got, fast_atan2(x.im, x.re));
        CHECK_NEAR(got, std::atan2(static_cast<double>(x.im), x.re), kAtanTolerance);
    }
}

TEST(discriminator_zero_sample_gives_zero_twice) {
    PhaseDiscriminator d = PhaseDiscriminator::design();
    d.step({0.3f, 0.7f});
    CHECK_BITS(d.step({0.0f, 0.0f}), 0.0f);
    CHECK_BITS(d.step({-0.5f, -0.2f}), 0.0f);
    const float after = d.step({0.5f, 0.2f});  // compares with (-0.5, -0.2) again
    CHECK_NEAR(after, kPi, kAtanTolerance);
}

TEST(discriminator_tracks_complex_exponential) {
    // x[n] = A e^(j w n): every step after the first returns w. (The angle is
    // taken of a product of two samples, so A^2 must stay well above 2^-23.)
    for (double w : {0.05, -0.05, 1.0, -2.0, 2.5, 3.1, -3.1}) {
        for (double amp : {1.0, 0.1, 5e4}) {
            INFO("w=%g A=%g", w, amp);
            PhaseDiscriminator d = PhaseDiscriminator::design();
            for (int n = 0; n < 3000; ++n) {
                const cf32 x{static_cast<float>(amp * std::cos(w * n)), static_cast<float>(amp * std::sin(w * n))};
                const float got = d.step(x);
                if (n > 0 && !(std::fabs(got - w) <= kAtanTolerance)) {
                    CHECK_NEAR(got, w, kAtanTolerance);
                }
            }
        }
    }
}

TEST(discriminator_products_are_not_fused) {
    // dr and di are two rounded products and a rounded sum or difference.
    // Small random phase steps make di a difference of nearly equal products,
    // where fusing would change the angle; it must differ in this data.
    Rng rng(9);
    PhaseDiscriminator d = PhaseDiscriminator::design();
    cf32 prev{1.0f, 0.0f};
    double phase = 0.0;
    long fused_differs = 0;
    for (int n = 0; n < 20000; ++n) {
        phase += rng.uniform(-0.02, 0.02);
        const double amp = rng.uniform(0.5, 1.0);
        const cf32 x{static_cast<float>(amp * std::cos(phase)), static_cast<float>(amp * std::sin(phase))};
        const float dr = add(mul(prev.re, x.re), mul(prev.im, x.im));
        const float di = sub(mul(x.im, prev.re), mul(x.re, prev.im));
        const float want = fast_atan2(di, dr);
        const float dr_fused = fused(prev.re, x.re, mul(prev.im, x.im));
        const float di_fused = fused(x.im, prev.re, -mul(x.re, prev.im));
        fused_differs += (fast_atan2(di_fused, dr_fused) != want);
        const float got = d.step(x);
        if (std::bit_cast<std::uint32_t>(got) != std::bit_cast<std::uint32_t>(want)) {
            INFO("n=%d", n);
            CHECK_BITS(got, want);
        }
        prev = x;
    }
    CHECK(fused_differs > 1000);
}

HALVO_TEST_MAIN()
