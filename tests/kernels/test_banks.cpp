// Banks against single objects: row k of a bank's output is bit for bit what
// channel k's object alone gives (run through the reference level), on every
// bank level, for channel counts 1 to 17 (every tail of 8 and 16 lanes),
// random parameters per channel, random block splits, setters and a channel
// set anew between blocks. NaN must match in sign and payload too.
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "../dsp/harness.hpp"
#include "kernels/bank_table.hpp"
#if defined(__x86_64__)
#include "port/cpu_x86.hpp"
#endif

using halvo::cf32;
using halvo::kernels::BankKernelTable;

namespace {

template <class Sig>
struct MakeArgs;
template <class C, class... A>
struct MakeArgs<C (*)(A...)> {
    using type = std::tuple<A...>;
};

// Parameters for one channel: the first (the sample rate) 8 to 96 kHz, the
// others 0.5 to 4000, booleans either way.
template <class A>
A draw_param(std::mt19937& rng, std::size_t i) {
    if constexpr (std::is_same_v<A, bool>) {
        return (rng() & 1u) != 0;
    } else {
        std::uniform_real_distribution<double> rate(8000.0, 96000.0), other(0.5, 4000.0);
        return static_cast<A>(i == 0 ? rate(rng) : other(rng));
    }
}

template <class T, std::size_t... I>
T draw_params(std::mt19937& rng, std::index_sequence<I...>) {
    T args;
    ((std::get<I>(args) = draw_param<std::tuple_element_t<I, T>>(rng, I)), ...);
    return args;
}

template <class C>
auto random_params(std::mt19937& rng) {
    using T = typename MakeArgs<decltype(&C::make)>::type;
    return draw_params<T>(rng, std::make_index_sequence<std::tuple_size_v<T>>{});
}

template <auto Setter, class B, class C, class A>
void apply_setter(B& bank, int k, const std::vector<C*>& singles, A value) {
    bank.template set<Setter>(k, value);
    for (C* single : singles) (single->*Setter)(value);
}

// A random setter of the class with a random value, on the bank's channel k
// (every channel for k = -1) and on the matching single objects alike.
// Classes without setters do nothing.
template <class C, class B>
void random_setter(B& bank, int k, const std::vector<C*>& single, std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    const double v = u(rng);
    const bool pick = (rng() & 1u) != 0;
    (void)v;
    (void)pick;
    if constexpr (requires { &C::set_clamp; }) {
        if (pick) return apply_setter<&C::set_clamp>(bank, k, single, v > 0);
    }
    if constexpr (requires { &C::set_deviation; }) {
        if (pick) return apply_setter<&C::set_deviation>(bank, k, single, 3000.0 * v);
    }
    if constexpr (requires { &C::set_sensitivity; }) {
        if (pick) return apply_setter<&C::set_sensitivity>(bank, k, single, 5.0 * v);
    }
    if constexpr (requires { &C::set_gain; }) {
        apply_setter<&C::set_gain>(bank, k, single, v);
    }
}

const float kSpecials[] = {0.0f, -0.0f, NAN, -NAN, INFINITY, -INFINITY, 1e-42f, 3.4e38f};

float draw(std::mt19937& rng) {
    std::normal_distribution<float> normal(0.0f, 1.0f);
    if (rng() % 200 == 0) return kSpecials[rng() % std::size(kSpecials)];
    return normal(rng);
}
void fill(std::vector<float>& v, std::mt19937& rng) {
    for (float& x : v) x = draw(rng);
}
void fill(std::vector<cf32>& v, std::mt19937& rng) {
    for (cf32& x : v) x = {draw(rng), draw(rng)};
}

template <class Out>
bool same_bits(const Out* a, const Out* b, std::size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(Out)) == 0;
}

std::vector<const BankKernelTable*> levels() {
    std::vector<const BankKernelTable*> out = {&halvo::kernels::bank_reference, &halvo::kernels::bank_baseline};
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) out.push_back(&halvo::kernels::bank_x86_64_v3);
    if (halvo::kernels::has_x86_64_v4()) out.push_back(&halvo::kernels::bank_x86_64_v4);
#endif
    return out;
}

template <class C, class In, class Out>
void check_class(const char* name, void (*BankKernelTable::*slot)(halvo::radio::Bank<C>&, const In*, Out*, std::size_t),
                 void (*halvo::kernels::KernelTable::*single_slot)(C&, const In*, Out*, std::size_t)) {
    using B = halvo::radio::Bank<C>;
    std::mt19937 rng(20261211);
    for (const BankKernelTable* level : levels()) {
        for (int n = 1; n <= 17; ++n) {
            halvo_test::info("%s, %s, %d channels", name, level->level, n);
            // Channel parameters, the bank and its single objects.
            std::vector<C> singles;
            B bank = std::apply([&](auto... a) { return B::make(n, a...); }, random_params<C>(rng));
            for (int k = 0; k < n; ++k) {
                const auto params = random_params<C>(rng);
                std::apply([&](auto... a) { bank.set_channel(k, a...); }, params);
                singles.push_back(std::apply([](auto... a) { return C::make(a...); }, params));
            }
            for (int block = 0; block < 4; ++block) {
                const std::size_t m = std::uniform_int_distribution<std::size_t>(0, 700)(rng);
                std::vector<In> in(static_cast<std::size_t>(n) * m);
                fill(in, rng);
                std::vector<Out> got(in.size()), want(m);
                (level->*slot)(bank, in.data(), got.data(), in.size());
                for (int k = 0; k < n; ++k) {
                    (halvo::kernels::reference.*single_slot)(singles[k], in.data() + k * m, want.data(), m);
                    CHECK(same_bits(got.data() + k * m, want.data(), m));
                }
                // Between blocks: a setter on one channel or all, and after
                // the second block one channel set anew (its oscillators
                // restart while the others run on).
                const int k = static_cast<int>(rng() % (n + 1)) - 1;
                std::vector<C*> targets;
                for (int j = 0; j < n; ++j) {
                    if (k == -1 || k == j) targets.push_back(&singles[j]);
                }
                random_setter(bank, k, targets, rng);
                if (block == 1) {
                    const int j = static_cast<int>(rng() % n);
                    const auto params = random_params<C>(rng);
                    std::apply([&](auto... a) { bank.set_channel(j, a...); }, params);
                    singles[j] = std::apply([](auto... a) { return C::make(a...); }, params);
                }
            }
        }
    }
}

}  // namespace

TEST(banks_against_single_objects) {
#define HALVO_CHECK_BANK(Class, In, Out) \
    check_class<halvo::Class>(#Class, &BankKernelTable::Class##Bank, &halvo::kernels::KernelTable::Class);
    HALVO_CLASSES(HALVO_CHECK_BANK)
#undef HALVO_CHECK_BANK
}

namespace {

// The channelizer and the receiver bank, which the module runs from the
// banks' tables: every level gives the bits of radio_baseline (level.inc at
// the baseline), NaNs and infinities in the input, in one call and in random
// splits.
template <class T, class Out>
void check_slot(const char* name, const T& proto, void (*BankKernelTable::*slot)(T&, const cf32*, Out*, std::size_t),
                void (*halvo::kernels::RadioKernelTable::*base)(T&, const cf32*, Out*, std::size_t), std::size_t n) {
    std::mt19937 rng(20261212);
    std::vector<cf32> in(n);
    fill(in, rng);
    for (std::size_t i = 101; i < n; i += 997) in[i] = {std::bit_cast<float>(0xFFC01234u), INFINITY};
    const auto run = [&](auto fn, const std::vector<std::size_t>& sizes) {
        T state = proto;
        std::vector<std::vector<Out>> rows(static_cast<std::size_t>(state.output_rows()));
        std::size_t at = 0;
        for (std::size_t len : sizes) {
            const std::size_t count = state.output_count(len);
            std::vector<Out> out(rows.size() * count);
            fn(state, in.data() + at, out.data(), len);
            at += len;
            for (std::size_t k = 0; k < rows.size(); ++k)
                rows[k].insert(rows[k].end(), out.begin() + static_cast<std::ptrdiff_t>(k * count),
                               out.begin() + static_cast<std::ptrdiff_t>((k + 1) * count));
        }
        return rows;
    };
    const auto want = run(halvo::kernels::radio_baseline.*base, {n});
    CHECK(!want.empty() && want[0].size() > 100);
    for (const BankKernelTable* level : levels()) {
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<std::size_t> sizes;
            for (std::size_t left = n; left > 0;) {
                std::size_t len = trial == 0 ? left : static_cast<std::size_t>(rng() % (trial == 1 ? 300 : 20000));
                if (len > left) len = left;
                sizes.push_back(len);
                left -= len;
            }
            halvo_test::info("%s, %s, trial %d (%zu calls)", name, level->level, trial, sizes.size());
            const auto got = run(level->*slot, sizes);
            bool same = got.size() == want.size();
            for (std::size_t k = 0; same && k < got.size(); ++k)
                same = got[k].size() == want[k].size() && same_bits(got[k].data(), want[k].data(), got[k].size());
            CHECK(same);
        }
    }
}

}  // namespace

TEST(channelizer_and_receiver_bank_on_every_bank_level) {
    check_slot("Channelizer M=64 oversample=1", halvo::Channelizer::make(1e6, 64, 1, 70.0), &BankKernelTable::Channelizer,
               &halvo::kernels::RadioKernelTable::Channelizer, 40001);
    check_slot("Channelizer M=16 oversample=2", halvo::Channelizer::make(1e6, 16, 2, 60.0), &BankKernelTable::Channelizer,
               &halvo::kernels::RadioKernelTable::Channelizer, 40001);
    halvo::radio::ReceiverBank rb = halvo::radio::ReceiverBank::make(4, 400e3, 16, 48000.0, NAN, NAN, NAN, false, 700.0, 70.0);
    const double offsets[] = {0.0, 26500.0, -100e3, 175e3};
    const double squelch[] = {-30.0, NAN, NAN, -30.0};
    for (int k = 0; k < 4; ++k) rb.add_channel(k, offsets[k], squelch[k]);
    check_slot("ReceiverBank nbfm", rb, &BankKernelTable::ReceiverBank, &halvo::kernels::RadioKernelTable::ReceiverBank,
               40001);
}

HALVO_TEST_MAIN()
