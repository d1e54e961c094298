// Every instruction-set level of the sample loops against the reference
// level: same inputs, same starting state, bitwise equal outputs and equal
// state afterwards (checked through a following block). The reference level
// runs each class's per-sample step one sample at a time, with the NaN rule
// applied to what it writes (every NaN the one quiet NaN). The comparison is
// strict: a NaN must match in sign and payload too.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "../dsp/harness.hpp"
#include "kernels/guard.hpp"
#include "kernels/table.hpp"
#if defined(__x86_64__)
#include "port/cpu_x86.hpp"
#endif

using halvo::cf32;
using halvo::kernels::KernelTable;

namespace {

bool same(float a, float b) { return halvo_test::bits(a) == halvo_test::bits(b); }

const float kSpecials[] = {0.0f, -0.0f, NAN, -NAN, INFINITY, -INFINITY, 1e-45f, -1e-42f, 1.17e-38f,
                           3.4e38f, -3.4e38f, 1.0f, -1.0f, 0.5f, 2.0f};

enum class Fill { Clean, Sprinkled, Specials };

float draw(std::mt19937& rng, Fill fill, float scale) {
    std::normal_distribution<float> normal(0.0f, scale);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(kSpecials)) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    if (fill == Fill::Specials || (fill == Fill::Sprinkled && percent(rng) < 4)) return kSpecials[pick(rng)];
    return normal(rng);
}

void fill_input(std::vector<float>& v, std::mt19937& rng, Fill fill, float scale) {
    for (float& x : v) x = draw(rng, fill, scale);
}
void fill_input(std::vector<cf32>& v, std::mt19937& rng, Fill fill, float scale) {
    for (cf32& x : v) x = {draw(rng, fill, scale), draw(rng, fill, scale)};
}

template <class Out>
int count_differences(const std::vector<Out>& a, const std::vector<Out>& b) {
    const auto* fa = reinterpret_cast<const float*>(a.data());
    const auto* fb = reinterpret_cast<const float*>(b.data());
    const std::size_t n = a.size() * sizeof(Out) / sizeof(float);
    int diffs = 0;
    for (std::size_t i = 0; i < n; ++i) diffs += !same(fa[i], fb[i]);
    return diffs;
}

const std::size_t kLengths[] = {0,   1,   2,   3,   4,   5,   6,   7,    8,    9,    15,   16,  17,
                                31,  32,  33,  63,  64,  65,  100, 511,  512,  513,  1023, 1024, 1025,
                                1536, 2047, 2048, 2049, 3001};

// Runs one level against the reference for one object, all lengths and fills.
template <class T, class In, class Out>
using Slot = void (*KernelTable::*)(T&, const In*, Out*, std::size_t);

template <class T, class In, class Out>
void compare_level(const char* level, const char* what, const T& fresh, Slot<T, In, Out> slot,
                   const KernelTable& var, float scale) {
    const auto ref = halvo::kernels::reference.*slot;
    std::mt19937 rng(20261210);
    for (Fill fill : {Fill::Clean, Fill::Sprinkled, Fill::Specials}) {
        for (std::size_t n : kLengths) {
            halvo_test::info("%s %s, n=%zu, fill=%d", level, what, n, static_cast<int>(fill));
            std::vector<In> in(n), after(257);
            fill_input(in, rng, fill, scale);
            fill_input(after, rng, Fill::Clean, scale);
            T a = fresh, b = fresh;
            std::vector<Out> oa(n), ob(n), na(after.size()), nb(after.size());
            ref(a, in.data(), oa.data(), n);
            (var.*slot)(b, in.data(), ob.data(), n);
            CHECK(count_differences(oa, ob) == 0);
            ref(a, after.data(), na.data(), after.size());
            (var.*slot)(b, after.data(), nb.data(), after.size());
            CHECK(count_differences(na, nb) == 0);
        }
    }
}

template <class T, class In, class Out>
void compare_all_levels(const char* what, const T& fresh, Slot<T, In, Out> slot, float scale = 1.0f) {
    compare_level("x86-64", what, fresh, slot, halvo::kernels::baseline, scale);
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) {
        compare_level("x86-64-v3", what, fresh, slot, halvo::kernels::x86_64_v3, scale);
    } else {
        std::printf("  (this CPU lacks x86-64-v3: only the reference level runs here)\n");
    }
#endif
    // The active table is one of the levels; check that too.
    compare_level("active", what, fresh, slot, halvo::kernels::active(), scale);
}

}  // namespace

TEST(cw_envelope_demod) {
    for (auto [fs, bw] : {std::pair{8000.0, 50.0}, {48000.0, 0.0}, {0.0, 50.0}, {-8000.0, 50.0}}) {
        compare_all_levels("CwEnvelopeDemod", halvo::CwEnvelopeDemod::make(fs, 700, bw), &KernelTable::CwEnvelopeDemod);
    }
}

TEST(am_envelope_demod) {
    for (bool approx : {false, true}) {
        for (auto [fs, bw] : {std::pair{48000.0, 3000.0}, {8000.0, 3000.0}, {48000.0, 0.0}, {0.0, 3000.0}}) {
            compare_all_levels("AmEnvelopeDemod", halvo::AmEnvelopeDemod::make(fs, bw, approx),
                               &KernelTable::AmEnvelopeDemod);
        }
    }
}

TEST(ssb_product_demod) {
    for (double bfo : {1500.0, -700.0, 0.0}) {
        compare_all_levels("SsbProductDemod", halvo::SsbProductDemod::make(48000, bfo, 2700),
                           &KernelTable::SsbProductDemod);
    }
    compare_all_levels("SsbProductDemod fs=0", halvo::SsbProductDemod::make(0, 1500, 2700), &KernelTable::SsbProductDemod);
}

TEST(fm_quadrature_demod) {
    for (double dev : {5000.0, 1.0, 0.0}) {
        compare_all_levels("FmQuadratureDemod", halvo::FmQuadratureDemod::make(48000, dev, 3000),
                           &KernelTable::FmQuadratureDemod);
    }
    // Tiny and huge amplitudes exercise the epsilon of the arctangent.
    compare_all_levels("FmQuadratureDemod tiny", halvo::FmQuadratureDemod::make(48000, 5000, 3000),
                       &KernelTable::FmQuadratureDemod, 1e-6f);
    compare_all_levels("FmQuadratureDemod huge", halvo::FmQuadratureDemod::make(48000, 5000, 3000),
                       &KernelTable::FmQuadratureDemod, 1e18f);
}

TEST(pm_quadrature_demod) {
    for (double k : {1.0, -2.5, 0.0}) {
        compare_all_levels("PmQuadratureDemod", halvo::PmQuadratureDemod::make(48000, k, 3000),
                           &KernelTable::PmQuadratureDemod);
    }
}

TEST(am_dsb_mod) {
    for (bool clamp : {false, true}) {
        auto m = halvo::AmDsbMod::make(48000, 10000, 0.5, 0.8);
        m.set_clamp(clamp);
        m.set_gain(1.5);
        compare_all_levels("AmDsbMod", m, &KernelTable::AmDsbMod);
    }
}

TEST(cw_keyed_mod) {
    for (auto [rise, fall] : {std::pair{5.0, 5.0}, {0.0, 20.0}, {1.0, -3.0}}) {
        compare_all_levels("CwKeyedMod", halvo::CwKeyedMod::make(48000, 700, rise, fall), &KernelTable::CwKeyedMod);
    }
    compare_all_levels("CwKeyedMod fs=0", halvo::CwKeyedMod::make(0, 700, 5, 5), &KernelTable::CwKeyedMod);
    // A zero gain makes every amplitude a zero, whose sign in the output
    // depends on the zero cross terms of the complex product.
    for (double g : {0.0, -0.0, -2.0}) {
        auto m = halvo::CwKeyedMod::make(48000, 5000, 5, 5);
        m.set_gain(g);
        compare_all_levels("CwKeyedMod gain", m, &KernelTable::CwKeyedMod);
    }
}

TEST(ssb_phasing_mod) {
    for (bool usb : {true, false}) {
        compare_all_levels("SsbPhasingMod", halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, usb),
                           &KernelTable::SsbPhasingMod);
    }
}

TEST(fm_phase_accum_mod) {
    auto m = halvo::FmPhaseAccumMod::make(48000, 5000, 10000);
    compare_all_levels("FmPhaseAccumMod", m, &KernelTable::FmPhaseAccumMod);
    m.set_gain(-0.5);
    m.set_deviation(1e6);
    compare_all_levels("FmPhaseAccumMod large deviation", m, &KernelTable::FmPhaseAccumMod);
}

TEST(pm_direct_phase_mod) {
    for (double kp : {1.0, 1000.0, 0.0}) {
        compare_all_levels("PmDirectPhaseMod", halvo::PmDirectPhaseMod::make(48000, kp, -3000),
                           &KernelTable::PmDirectPhaseMod);
    }
}

// Silence after a signal, or a steady carrier, drives a recurrence into the
// subnormal range and often holds it there (a limit cycle a few units of
// 2^-149 wide). There every level runs the guarded step loop of
// kernels/guard.hpp, chunk by chunk. Each level, fed in blocks that straddle
// the chunks, against the reference; the reference state must end near the
// subnormal range, or the case would not reach the guarded loop at all.
template <class T, class In, class Out>
void compare_decayed(const char* what, const T& fresh, Slot<T, In, Out> slot, const std::vector<In>& in) {
    const std::size_t n = in.size();
    std::vector<Out> want(n), next_want(300);
    const std::vector<In> next(300, in.back());
    T ref = fresh;
    (halvo::kernels::reference.*slot)(ref, in.data(), want.data(), n);
    halvo_test::info("%s: reference state near the subnormal range", what);
    CHECK(halvo::kernels::near_subnormal(ref));
    (halvo::kernels::reference.*slot)(ref, next.data(), next_want.data(), next.size());
    std::vector<const KernelTable*> levels = {&halvo::kernels::baseline, &halvo::kernels::active()};
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) levels.push_back(&halvo::kernels::x86_64_v3);
#endif
    const std::size_t blocks[] = {1, 1023, 1025, 3001, 4096, 7, 20000, 2048};
    for (const KernelTable* level : levels) {
        halvo_test::info("%s %s", level->level, what);
        T st = fresh;
        std::vector<Out> got(n), next_got(next.size());
        for (std::size_t i = 0, k = 0; i < n; ++k) {
            const std::size_t c = std::min(blocks[k % std::size(blocks)], n - i);
            (level->*slot)(st, in.data() + i, got.data() + i, c);
            i += c;
        }
        CHECK(count_differences(want, got) == 0);
        (level->*slot)(st, next.data(), next_got.data(), next.size());
        CHECK(count_differences(next_want, next_got) == 0);
    }
}

TEST(decayed_states) {
    constexpr std::size_t n = 60000, on = 500;
    std::vector<cf32> burst(n, cf32{0.0f, 0.0f});
    std::vector<float> key(n, 0.0f);
    std::fill(burst.begin(), burst.begin() + on, cf32{0.5f, 0.0f});
    std::fill(key.begin(), key.begin() + on, 0.5f);
    const std::vector<cf32> carrier(n, cf32{0.1f, 0.05f});
    compare_decayed("CwEnvelopeDemod, silence", halvo::CwEnvelopeDemod::make(48000, 700, 100),
                    &KernelTable::CwEnvelopeDemod, burst);
    compare_decayed("AmEnvelopeDemod, silence", halvo::AmEnvelopeDemod::make(48000, 5000, false),
                    &KernelTable::AmEnvelopeDemod, burst);
    compare_decayed("SsbProductDemod, silence", halvo::SsbProductDemod::make(48000, 0, 3000),
                    &KernelTable::SsbProductDemod, burst);
    compare_decayed("FmQuadratureDemod, carrier", halvo::FmQuadratureDemod::make(48000, 5000, 3000),
                    &KernelTable::FmQuadratureDemod, carrier);
    compare_decayed("PmQuadratureDemod, carrier", halvo::PmQuadratureDemod::make(48000, 1, 3000),
                    &KernelTable::PmQuadratureDemod, carrier);
    compare_decayed("CwKeyedMod, key up", halvo::CwKeyedMod::make(48000, 700, 5, 5), &KernelTable::CwKeyedMod, key);
    compare_decayed("SsbPhasingMod, silence", halvo::SsbPhasingMod::make(48000, 3000, 1500, 10000, true),
                    &KernelTable::SsbPhasingMod, key);
}

// Outputs of 4 MiB and more, 32-byte aligned, are written with non-temporal
// stores; an unaligned one of the same size is not. Both against the
// reference, on every level.
template <class T>
void compare_large(const char* what, const T& fresh, Slot<T, float, cf32> slot) {
    constexpr std::size_t n = (std::size_t{4} << 20) / sizeof(cf32) + 13;  // just over 4 MiB, and a tail
    std::mt19937 rng(7);
    std::vector<float> in(n);
    fill_input(in, rng, Fill::Sprinkled, 1.0f);
    std::vector<cf32> want(n);
    T ref = fresh;
    (halvo::kernels::reference.*slot)(ref, in.data(), want.data(), n);
    std::vector<cf32> space(n + 8);
    const auto base = reinterpret_cast<std::uintptr_t>(space.data());
    cf32* const aligned = space.data() + ((32 - base % 32) % 32) / sizeof(cf32);
    std::vector<const KernelTable*> levels = {&halvo::kernels::baseline};
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) levels.push_back(&halvo::kernels::x86_64_v3);
#endif
    for (const KernelTable* level : levels) {
        for (cf32* out : {aligned, aligned + 1}) {
            halvo_test::info("%s %s, %s output", level->level, what, out == aligned ? "aligned" : "unaligned");
            T st = fresh;
            (level->*slot)(st, in.data(), out, n);
            CHECK(count_differences(want, std::vector<cf32>(out, out + n)) == 0);
        }
    }
}

TEST(large_outputs) {
    auto am = halvo::AmDsbMod::make(48000, 10000, 0.5, 0.8);
    am.set_clamp(true);
    compare_large("AmDsbMod", am, &KernelTable::AmDsbMod);
    compare_large("CwKeyedMod", halvo::CwKeyedMod::make(48000, 700, 5, 5), &KernelTable::CwKeyedMod);
    compare_large("SsbPhasingMod", halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, true),
                  &KernelTable::SsbPhasingMod);
    compare_large("FmPhaseAccumMod", halvo::FmPhaseAccumMod::make(48000, 5000, 10000), &KernelTable::FmPhaseAccumMod);
    compare_large("PmDirectPhaseMod", halvo::PmDirectPhaseMod::make(48000, 1, -3000), &KernelTable::PmDirectPhaseMod);
}

HALVO_TEST_MAIN()
