// The receive and transmit front end: every instruction-set level against a
// plain reference written from the definitions (bits), any split of a stream
// against one call (bits), retuning mid-stream, the responses against their
// masks, the oscillator's accuracy and the constructors' checks.
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.hpp"
#include "radio/frontend/channel_selector.hpp"
#include "radio/frontend/resampler.hpp"
#include "radio/frontend/upconverter.hpp"
#include "radio/rate_count.hpp"

using halvo::cf32;
using halvo::frontend::ChannelSelector;

using halvo::frontend::RealResampler;
using halvo::frontend::Resampler;
using halvo::frontend::Upconverter;

#define HALVO_DECLARE_LEVELS(name, T, S)                                   \
    void name##_baseline(T&, const S*, S*, std::size_t);                \
    void name##_v3(T&, const S*, S*, std::size_t);                      \
    void name##_v4(T&, const S*, S*, std::size_t);
HALVO_DECLARE_LEVELS(selector_process, ChannelSelector, cf32)
HALVO_DECLARE_LEVELS(resampler_process, Resampler, cf32)
HALVO_DECLARE_LEVELS(real_resampler_process, RealResampler, float)
HALVO_DECLARE_LEVELS(upconverter_process, Upconverter, cf32)

namespace {

template <class T, class S>
struct Level {
    const char* name;
    void (*fn)(T&, const S*, S*, std::size_t);
};

[[maybe_unused]] bool has_v3() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
[[maybe_unused]] bool has_v4() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
#else
    return false;
#endif
}

// The levels this CPU runs (the v3 and v4 objects exist on x86-64 only).
#if defined(__x86_64__)
#define HALVO_LEVELS(name, T, S)                                                                   \
    [] {                                                                                           \
        std::vector<Level<T, S>> out{{"baseline", name##_baseline}};                               \
        if (has_v3()) out.push_back({"x86-64-v3", name##_v3});                                     \
        if (has_v4()) out.push_back({"x86-64-v4", name##_v4});                                     \
        return out;                                                                                \
    }()
#else
#define HALVO_LEVELS(name, T, S) std::vector<Level<T, S>>{{"baseline", name##_baseline}}
#endif

using SelectorFn = void (*)(ChannelSelector&, const cf32*, cf32*, std::size_t);
std::vector<Level<ChannelSelector, cf32>> selector_levels() { return HALVO_LEVELS(selector_process, ChannelSelector, cf32); }

std::vector<cf32> noise(std::size_t n, std::uint64_t seed) {
    halvo_test::Rng rng(seed);
    std::vector<cf32> x(n);
    for (cf32& s : x) s = cf32{rng.uniform(-1.0, 1.0), rng.uniform(-1.0, 1.0)};
    return x;
}

std::vector<cf32> tone(std::size_t n, double f_over_fs) {
    std::vector<cf32> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 2.0 * std::numbers::pi * std::fmod(f_over_fs * static_cast<double>(i), 1.0);
        x[i] = cf32{static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
    return x;
}

// The FIR order written out: sixteen partial sums by tap index mod 16 over
// the window ending at sample `end` (zero before the stream), then the tree.
// Phase `phase` of an `l`-phase prototype: taps phase + i*l.
float fir_reference(const std::vector<float>& h, std::size_t k, const std::vector<float>& z, long end,
                    std::size_t phase = 0, std::size_t l = 1) {
    float p[16] = {};
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t i = k - 1 - j;  // input age
        const std::size_t ti = phase + i * l;
        const float tap = ti < h.size() ? h[ti] : 0.0f;
        const long at = end - static_cast<long>(i);
        const float w = at >= 0 ? z[static_cast<std::size_t>(at)] : 0.0f;
        p[j % 16] = p[j % 16] + tap * w;
    }
    float q[8], r[4];
    for (int l = 0; l < 8; ++l) q[l] = p[l] + p[l + 8];
    for (int l = 0; l < 4; ++l) r[l] = q[l] + q[l + 4];
    const float s0 = r[0] + r[2], s1 = r[1] + r[3];
    return s0 + s1;
}

// The prototype of an engine, back from its phases: h[p + i*l] = g[p*k + k-1-i].
std::vector<float> taps_of(const halvo::frontend::PolyphaseFir& f) {
    std::vector<float> h(f.n_taps);
    for (std::size_t t = 0; t < f.n_taps; ++t) {
        const std::size_t p = t % static_cast<std::size_t>(f.l), i = t / static_cast<std::size_t>(f.l);
        h[t] = f.g[p * f.k + f.k - 1 - i];
    }
    return h;
}

// One engine's outputs from its definition: output k at newest input
// floor(k*M/L), phase k*M mod L, for every input given.
std::vector<cf32> stage_reference(const halvo::frontend::PolyphaseFir& f, const std::vector<float>& zr,
                                  const std::vector<float>& zi) {
    const std::vector<float> h = taps_of(f);
    std::vector<cf32> y;
    const std::uint64_t L = static_cast<std::uint64_t>(f.l), M = static_cast<std::uint64_t>(f.m);
    for (std::uint64_t k = 0;; ++k) {
        const std::uint64_t n0 = k * M / L, p = k * M % L;
        if (n0 >= zr.size()) break;
        y.push_back(cf32{fir_reference(h, f.k, zr, static_cast<long>(n0), p, L), fir_reference(h, f.k, zi, static_cast<long>(n0), p, L)});
    }
    return y;
}

std::vector<float> plane(const std::vector<cf32>& x, bool im) {
    std::vector<float> z(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) z[i] = im ? x[i].im : x[i].re;
    return z;
}

// A chain of one stage or two.
template <class Chain>
std::vector<cf32> chain_reference(const Chain& c, const std::vector<float>& zr, const std::vector<float>& zi) {
    if (c.d1 == 1) return stage_reference(c.second, zr, zi);
    const std::vector<cf32> mid = stage_reference(c.first, zr, zi);
    return stage_reference(c.second, plane(mid, false), plane(mid, true));
}

// The rotating oscillator from its definition: (cos, sin) of samples 0..n-1
// at rate fs, starting at offset_hz; retunes[i] = (sample index, new offset).
void oscillator_reference(std::size_t n, double fs, double offset, const std::vector<std::pair<std::size_t, double>>& retunes,
                          std::vector<float>& c, std::vector<float>& s) {
    c.assign(n, 0.0f);
    s.assign(n, 0.0f);
    std::uint32_t phi = 0, inc = halvo::frontend::nco_step(offset, fs);
    std::size_t r = 0, next = 0;
    float wc, ws;
    halvo::frontend::nco_cos_sin(8u * inc, wc, ws);
    for (std::size_t i = 0; i < n; ++i) {
        if (next < retunes.size() && retunes[next].first == i) {
            inc = halvo::frontend::nco_step(retunes[next++].second, fs);
            halvo::frontend::nco_cos_sin(8u * inc, wc, ws);
            r = i;
        }
        if (i % 64 < 8 || i - r < 8) {
            halvo::frontend::nco_cos_sin(phi, c[i], s[i]);
        } else {
            c[i] = c[i - 8] * wc - halvo::opaque(s[i - 8] * ws);
            s[i] = s[i - 8] * wc + halvo::opaque(c[i - 8] * ws);
        }
        phi += inc;
    }
}

// The selector from its definition; retunes[i] = (sample index, offset_hz).
std::vector<cf32> selector_reference(double fs, double offset, int dec, double bw, const std::vector<cf32>& x,
                                     const std::vector<std::pair<std::size_t, double>>& retunes = {}) {
    const ChannelSelector c = ChannelSelector::make(fs, offset, dec, bw);
    std::vector<float> zr(x.size()), zi(x.size()), co, si;
    oscillator_reference(x.size(), fs, offset, retunes, co, si);
    for (std::size_t i = 0; i < x.size(); ++i) {
        zr[i] = x[i].re * co[i] + halvo::opaque(x[i].im * si[i]);
        zi[i] = x[i].im * co[i] - halvo::opaque(x[i].re * si[i]);
    }
    return chain_reference(c.fir, zr, zi);
}

std::vector<cf32> run_selector(ChannelSelector c, SelectorFn fn, const std::vector<cf32>& x,
                               const std::vector<std::size_t>& sizes,
                               const std::vector<std::pair<std::size_t, double>>& retunes = {}) {
    std::vector<cf32> y;
    std::size_t at = 0, next = 0;
    for (std::size_t n : sizes) {
        if (next < retunes.size() && retunes[next].first == at) c.set_offset(retunes[next++].second);
        std::vector<cf32> out(c.output_count(n));
        fn(c, x.data() + at, out.data(), n);
        y.insert(y.end(), out.begin(), out.end());
        at += n;
    }
    return y;
}

std::vector<std::size_t> random_split(std::size_t n, std::uint64_t seed, std::size_t max_block) {
    halvo_test::Rng rng(seed);
    std::vector<std::size_t> sizes;
    std::size_t left = n;
    while (left > 0) {
        std::size_t b = static_cast<std::size_t>(rng.uniform(0.0, static_cast<double>(max_block) + 1.0));
        if (b > left) b = left;
        sizes.push_back(b);  // empty blocks too
        left -= b;
    }
    return sizes;
}

// want's NaNs stand for the one NaN the classes write, 0x7FC00000.
float canonical(float v) { return std::isnan(v) ? std::bit_cast<float>(0x7FC00000u) : v; }

void check_same(const std::vector<cf32>& got, const std::vector<cf32>& want) {
    CHECK(got.size() == want.size());
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        CHECK_BITS(got[i].re, canonical(want[i].re));
        CHECK_BITS(got[i].im, canonical(want[i].im));
    }
}

struct SelectorCase {
    double fs, offset;
    int dec;
    double bw;
};
// The benchmark's channel; decimation 1; a decimation larger than the
// chunk; an offset at -fs/2; a short filter (fewer taps than 16).
const SelectorCase kSelectorCases[] = {
    {1.024e6, 125e3, 64, 8e3},
    {48e3, -5e3, 1, 6e3},
    {1e6, 333.3e3, 5000, 100.0},
    {2e5, -1e5, 3, 3e4},
    {1e3, 100.0, 2, 100.0},
};

TEST(selector_levels_match_reference_in_any_split) {
    for (const SelectorCase& sc : kSelectorCases) {
        const std::size_t n = static_cast<std::size_t>(sc.dec) * 37 + 5000;
        const std::vector<cf32> x = noise(n, 7);
        const std::vector<cf32> want = selector_reference(sc.fs, sc.offset, sc.dec, sc.bw, x);
        for (const auto& lv : selector_levels()) {
            for (std::uint64_t seed : {1u, 2u, 3u}) {
                INFO("%s fs %g dec %d seed %d", lv.name, sc.fs, sc.dec, static_cast<int>(seed));
                const std::size_t max_block = seed == 1 ? n : (seed == 2 ? static_cast<std::size_t>(sc.dec) : 9000);
                const std::vector<std::size_t> sizes = seed == 1 ? std::vector<std::size_t>{n} : random_split(n, seed, max_block);
                check_same(run_selector(ChannelSelector::make(sc.fs, sc.offset, sc.dec, sc.bw), lv.fn, x, sizes), want);
            }
        }
    }
}

TEST(selector_retune_mid_stream_keeps_the_phase) {
    const std::vector<cf32> x = noise(20000, 11);
    const std::vector<std::pair<std::size_t, double>> retunes = {{3001, -200e3}, {3002, 17e3}, {12345, 512e3}};
    const std::vector<cf32> want = selector_reference(1.024e6, 125e3, 16, 20e3, x, retunes);
    const std::vector<std::size_t> sizes = {3001, 1, 9343, 7655};
    for (const auto& lv : selector_levels()) {
        INFO("%s", lv.name);
        check_same(run_selector(ChannelSelector::make(1.024e6, 125e3, 16, 20e3), lv.fn, x, sizes, retunes), want);
    }
}

TEST(oscillator_within_its_error_bound) {
    double worst = 0.0;
    for (std::uint64_t i = 0; i < (std::uint64_t{1} << 32); i += 65521) {
        float c, s;
        halvo::frontend::nco_cos_sin(static_cast<std::uint32_t>(i), c, s);
        const double a = 2.0 * std::numbers::pi * static_cast<double>(i) / 4294967296.0;
        worst = std::fmax(worst, std::fmax(std::fabs(c - std::cos(a)), std::fabs(s - std::sin(a))));
    }
    INFO("worst %g", worst);
    CHECK(worst < 1.2e-7);
}

// The rotating oscillator stays near the true phasor of its integer phase
// between anchors, at slow and fast steps alike, in eights and alone.
TEST(rotating_oscillator_within_its_error_bound) {
    for (const double f : {1e-6, 0.0123456, 0.25, 0.4999, -0.3141}) {
        halvo::frontend::RotatingNco o;
        o.set_step(halvo::frontend::nco_step(f, 1.0));
        double worst = 0.0;
        std::uint32_t phi = 0;
        std::size_t at = 0;
        auto check = [&](float c, float s) {
            const double a = 2.0 * std::numbers::pi * static_cast<double>(phi) / 4294967296.0;
            worst = std::fmax(worst, std::fmax(std::fabs(c - std::cos(a)), std::fabs(s - std::sin(a))));
            phi += o.inc;
            ++at;
        };
        while (at < 100000) {
            halvo::frontend::nco_run(
                o, 1 + at % 37, [&](std::size_t, float c, float s) { check(c, s); },
                [&](std::size_t, halvo::f32x8 c, halvo::f32x8 s) {
                    alignas(32) float cc[8], ss[8];
                    halvo::store8(cc, halvo::part_order8(c));
                    halvo::store8(ss, halvo::part_order8(s));
                    for (int j = 0; j < 8; ++j) check(cc[j], ss[j]);
                });
        }
        INFO("f %g: worst %g", f, worst);
        CHECK(worst < 1e-6);
    }
}

// Output power of a unit tone at offset + f, in dB, after the filter settles.
double selector_gain_db(const ChannelSelector& proto, double f) {
    ChannelSelector c = proto;
    const std::size_t settle = static_cast<std::size_t>(2.0 * c.fir.delay_in()) + static_cast<std::size_t>(c.decimation);
    const std::size_t n = settle + static_cast<std::size_t>(c.decimation) * 64;
    const std::vector<cf32> x = tone(n, (c.offset_hz + f) / c.fs);
    std::vector<cf32> y(c.output_count(n));
    selector_process_baseline(c, x.data(), y.data(), n);
    double p = 0.0;
    std::size_t cnt = 0;
    for (std::size_t m = settle / static_cast<std::size_t>(c.decimation) + 1; m < y.size(); ++m, ++cnt)
        p += static_cast<double>(y[m].re) * y[m].re + static_cast<double>(y[m].im) * y[m].im;
    return 10.0 * std::log10(p / static_cast<double>(cnt) + 1e-30);
}

TEST(selector_response_within_mask) {
    struct Mask {
        double fs, offset;
        int dec;
        double bw, stop_db;
    };
    for (const Mask& mk : {Mask{1.024e6, 125e3, 64, 8e3, 70.0}, Mask{1.024e6, -300e3, 16, 8e3, 70.0}, Mask{48e3, 3e3, 3, 4e3, 90.0},
                           Mask{1e5, 0.0, 1, 2e4, 40.0}, Mask{1e6, 1e5, 100, 2e3, 100.0}}) {
        ChannelSelector c = ChannelSelector::make(mk.fs, mk.offset, mk.dec, mk.bw, NAN, mk.stop_db);
        const double edge = 0.5 * mk.bw, stop = edge + c.transition_hz;
        double worst_pass = 0.0, worst_stop = -400.0;
        for (int i = -20; i <= 20; ++i) worst_pass = std::fmax(worst_pass, std::fabs(selector_gain_db(c, 0.9 * edge * i / 20.0)));
        // From the stopband edge up to fs/2 either side: every band that
        // aliases into the output is in here.
        for (int i = 0; i <= 150; ++i) {
            const double f = stop + (0.5 * mk.fs - stop) * i / 150.0;
            worst_stop = std::fmax(worst_stop, std::fmax(selector_gain_db(c, f), selector_gain_db(c, -f)));
        }
        INFO("fs %g dec %d (first stage %d): passband %.3f dB, stopband %.1f dB", mk.fs, mk.dec, c.fir.d1, worst_pass, worst_stop);
        CHECK(worst_pass <= 0.5);
        CHECK(worst_stop <= -mk.stop_db);
    }
}

TEST(selector_attributes) {
    const ChannelSelector c = ChannelSelector::make(1.024e6, 125e3, 64, 8e3);
    CHECK_NEAR(c.fs_out(), 16e3, 0.0);
    CHECK_NEAR(c.transition_hz, 8e3, 0.0);  // stopband from 12 kHz: nothing aliases into the passband
    CHECK(c.fir.d1 > 1);                    // two stages here (the tables above cover both plans)
    CHECK(ChannelSelector::make(48e3, 3e3, 3, 4e3).fir.d1 == 1);
    CHECK_NEAR(c.delay(), c.fir.delay_in() / 64.0, 0.0);
    // A block shorter than the decimation gives one output at the stream's start, then none until the next multiple.
    ChannelSelector d = c;
    CHECK(d.output_count(0) == 0);
    CHECK(d.output_count(10) == 1);
    std::vector<cf32> in(10), out(1);
    selector_process_baseline(d, in.data(), out.data(), 10);
    CHECK(d.output_count(54) == 0);
    CHECK(d.output_count(55) == 1);
}

TEST(selector_refuses_invalid_parameters) {
    struct Bad {
        double fs, offset;
        int dec;
        double bw, transition, stop_db;
        const char* names;
    };
    const Bad bad[] = {
        {0.0, 0.0, 1, 1.0, NAN, 70.0, "fs"},
        {NAN, 0.0, 1, 1.0, NAN, 70.0, "fs"},
        {1e6, 0.0, 0, 1e3, NAN, 70.0, "decimation"},
        {1e6, 0.0, 1 << 17, 1.0, NAN, 70.0, "decimation"},
        {1e6, 6e5, 4, 1e3, NAN, 70.0, "offset_hz"},
        {1e6, NAN, 4, 1e3, NAN, 70.0, "offset_hz"},
        {1e6, 0.0, 4, 3e5, NAN, 70.0, "bandwidth_hz"},
        {1e6, 0.0, 4, 0.0, NAN, 70.0, "bandwidth_hz"},
        {1e6, 0.0, 4, 1e3, -1.0, 70.0, "transition_hz"},
        {1e6, 0.0, 4, 1e3, 5e5, 70.0, "transition_hz"},
        {1e6, 0.0, 4, 1e3, NAN, 10.0, "stopband_db"},
        {1e6, 0.0, 4, 1e3, 1e-3, 70.0, "taps"},
    };
    for (const Bad& b : bad) {
        std::string msg;
        try {
            ChannelSelector::make(b.fs, b.offset, b.dec, b.bw, b.transition, b.stop_db);
        } catch (const std::invalid_argument& e) {
            msg = e.what();
        }
        INFO("%s: '%s'", b.names, msg.c_str());
        CHECK(msg.find(b.names) != std::string::npos);
    }
    ChannelSelector c = ChannelSelector::make(1e6, 0.0, 4, 1e3);
    bool refused = false;
    try {
        c.set_offset(7e5);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    CHECK(refused);
    CHECK(c.offset_hz == 0.0);
}


// ---- Resampler and Upconverter ----

template <class T, class S>
std::vector<S> run_blocks(T c, void (*fn)(T&, const S*, S*, std::size_t), const std::vector<S>& x,
                          const std::vector<std::size_t>& sizes) {
    std::vector<S> y;
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        std::vector<S> out(c.output_count(n));
        fn(c, x.data() + at, out.data(), n);
        y.insert(y.end(), out.begin(), out.end());
        at += n;
    }
    return y;
}

struct RateCase {
    double fs_in, fs_out;
};
const RateCase kRateCases[] = {{240e3, 48e3}, {2.4e6, 48e3}, {44.1e3, 48e3}, {48e3, 44.1e3}, {8e3, 8e3}, {1e3, 7e3}};

TEST(resampler_levels_match_reference_in_any_split) {
    for (const RateCase& rc : kRateCases) {
        const Resampler proto = Resampler::make(rc.fs_in, rc.fs_out);
        const std::size_t n = 6000 + static_cast<std::size_t>(proto.m) * 3;
        const std::vector<cf32> x = noise(n, 5);
        const std::vector<cf32> want = chain_reference(proto.fir, plane(x, false), plane(x, true));
        std::vector<float> xr(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) xr[i] = x[i].im;
        for (const auto& lv : HALVO_LEVELS(resampler_process, Resampler, cf32)) {
            for (std::uint64_t seed : {1u, 2u, 3u}) {
                INFO("%s %g -> %g seed %d", lv.name, rc.fs_in, rc.fs_out, static_cast<int>(seed));
                const std::vector<std::size_t> sizes = seed == 1 ? std::vector<std::size_t>{n} : random_split(n, seed, seed == 2 ? 64 : 5000);
                check_same(run_blocks(proto, lv.fn, x, sizes), want);
            }
        }
        // float32 streams: the imaginary plane's arithmetic on its own.
        for (const auto& lv : HALVO_LEVELS(real_resampler_process, RealResampler, float)) {
            INFO("real %s %g -> %g", lv.name, rc.fs_in, rc.fs_out);
            const std::vector<float> got = run_blocks(RealResampler::make(rc.fs_in, rc.fs_out), lv.fn, xr, random_split(n, 9, 700));
            CHECK(got.size() == want.size());
            for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) CHECK_BITS(got[i], canonical(want[i].im));
        }
    }
}

TEST(resampler_output_count_follows_samples_seen) {
    // 44.1 kHz -> 48 kHz: after n samples, ceil(n * 160 / 147) outputs in all.
    Resampler r = Resampler::make(44.1e3, 48e3);
    CHECK(r.l == 160 && r.m == 147);
    std::size_t seen = 0, made = 0;
    for (std::size_t n : {0u, 1u, 1u, 64u, 146u, 147u, 1000u, 3u}) {
        std::vector<cf32> in(n), out(r.output_count(n));
        resampler_process_baseline(r, in.data(), out.data(), n);
        seen += n;
        made += out.size();
        CHECK(made == (seen * 160 + 146) / 147);
    }
}

TEST(rate_count_is_the_exact_ceiling_in_any_split) {
    // after n inputs ceil(n * num / den) outputs, num/den in lowest terms;
    // exact far beyond 2^32 inputs (a day of a 10 MHz stream is 2^39.7).
    struct Case {
        std::uint64_t num, den, reduced_num, reduced_den;
    };
    for (const Case c : {Case{480, 1440, 1, 3}, Case{160, 147, 160, 147}, Case{147 * 5, 160, 147, 32},
                         Case{(1u << 24) - 3, 1u << 23, (1u << 24) - 3, 1u << 23}, Case{7, 7, 1, 1}}) {
        halvo::radio::RateCount r = halvo::radio::RateCount::make(c.num, c.den);
        CHECK(r.num == c.reduced_num && r.den == c.reduced_den);
        std::size_t made = 0;
        for (std::size_t n : {0u, 1u, 2u, 146u, 147u, 1000u, 3u, 4096u, 1u}) made += r.take(n);
        CHECK(made == (r.seen * r.num + r.den - 1) / r.den);
#if defined(__SIZEOF_INT128__)
        for (std::uint64_t n : {std::uint64_t{1} << 40, (std::uint64_t{1} << 62) + 12345, ~std::uint64_t{0} / c.num}) {
            const unsigned __int128 want = (static_cast<unsigned __int128>(n) * c.num + c.den - 1) / c.den;
            CHECK(r.due(n) == static_cast<std::uint64_t>(want));
        }
#endif
    }
}

// Power (dB) of what is left of y after the best fit of a unit tone at
// f_out, and the fitted tone's power (dB), past the first `skip` samples.
void tone_fit(const std::vector<cf32>& y, std::size_t skip, double f_out, double& tone_db, double& rest_db) {
    std::complex<double> a = 0.0;
    std::size_t cnt = 0;
    for (std::size_t i = skip; i < y.size(); ++i, ++cnt)
        a += std::complex<double>(y[i].re, y[i].im) * std::polar(1.0, -2.0 * std::numbers::pi * f_out * static_cast<double>(i));
    a /= static_cast<double>(cnt);
    double rest = 0.0;
    for (std::size_t i = skip; i < y.size(); ++i)
        rest += std::norm(std::complex<double>(y[i].re, y[i].im) - a * std::polar(1.0, 2.0 * std::numbers::pi * f_out * static_cast<double>(i)));
    tone_db = 20.0 * std::log10(std::abs(a) + 1e-30);
    rest_db = 10.0 * std::log10(rest / static_cast<double>(cnt) + 1e-30);
}

TEST(resampler_response_within_mask) {
    for (const RateCase& rc : {RateCase{240e3, 48e3}, RateCase{44.1e3, 48e3}, RateCase{48e3, 44.1e3}, RateCase{2.4e6, 48e3}}) {
        const Resampler proto = Resampler::make(rc.fs_in, rc.fs_out);
        const double f_low = 0.5 * std::fmin(rc.fs_in, rc.fs_out), pass = 0.9 * f_low, stop = 2.0 * f_low - pass;
        const std::size_t skip = static_cast<std::size_t>(2.0 * proto.delay()) + 4;
        const std::size_t n = static_cast<std::size_t>((skip + 512) * rc.fs_in / rc.fs_out) + 1;
        double worst_pass = 0.0, worst_image = -400.0, worst_stop = -400.0;
        for (int i = -12; i <= 12; ++i) {
            // passband: the tone through at its gain, nothing else (images, aliases) beside it
            const double f = pass * i / 12.0;
            Resampler r = proto;
            const std::vector<cf32> x = tone(n, f / rc.fs_in);
            std::vector<cf32> y(r.output_count(n));
            resampler_process_baseline(r, x.data(), y.data(), n);
            double tone_db, rest_db;
            tone_fit(y, skip, f / rc.fs_out, tone_db, rest_db);
            worst_pass = std::fmax(worst_pass, std::fabs(tone_db));
            worst_image = std::fmax(worst_image, rest_db);
        }
        for (int i = 0; i <= 40 && stop < 0.5 * rc.fs_in; ++i) {
            // stopband of a decimating resampler: everything from stop to fs_in/2 either side
            const double f = stop + (0.5 * rc.fs_in - stop) * i / 40.0;
            for (double sign : {1.0, -1.0}) {
                Resampler r = proto;
                const std::vector<cf32> x = tone(n, sign * f / rc.fs_in);
                std::vector<cf32> y(r.output_count(n));
                resampler_process_baseline(r, x.data(), y.data(), n);
                double p = 0.0;
                for (std::size_t m = skip; m < y.size(); ++m) p += static_cast<double>(y[m].re) * y[m].re + static_cast<double>(y[m].im) * y[m].im;
                worst_stop = std::fmax(worst_stop, 10.0 * std::log10(p / static_cast<double>(y.size() - skip) + 1e-30));
            }
        }
        INFO("%g -> %g: passband %.3f dB, beside the tone %.1f dB, stopband %.1f dB", rc.fs_in, rc.fs_out, worst_pass, worst_image, worst_stop);
        CHECK(worst_pass <= 0.5);
        CHECK(worst_image <= -70.0);
        CHECK(worst_stop <= -70.0);
    }
}

TEST(resampler_refuses_invalid_parameters) {
    struct Bad {
        double fs_in, fs_out, bw, stop_db;
        const char* name;
    };
    const Bad bad[] = {
        {0.0, 48e3, 0.9, 70.0, "fs_in"},      {48e3, -1.0, 0.9, 70.0, "fs_out"},   {48e3, INFINITY, 0.9, 70.0, "fs_out"},
        {48e3, 44.1e3, 1.0, 70.0, "bandwidth"}, {48e3, 44.1e3, 0.0, 70.0, "bandwidth"}, {48e3, 44.1e3, 0.9, 150.0, "stopband_db"},
        {48e3, 48e3 * std::numbers::pi, 0.9, 70.0, "fs_out"},  // no small ratio
        {1e6, 1e6 * 65521.0 / 65519.0, 0.9, 70.0, "taps"},     // a ratio whose filter is too long
    };
    for (const Bad& b : bad) {
        std::string msg;
        try {
            Resampler::make(b.fs_in, b.fs_out, b.bw, b.stop_db);
        } catch (const std::invalid_argument& e) {
            msg = e.what();
        }
        INFO("%s: '%s'", b.name, msg.c_str());
        CHECK(msg.find(b.name) != std::string::npos);
    }
}

std::vector<cf32> upconverter_reference(const Upconverter& u, const std::vector<cf32>& x,
                                        const std::vector<std::pair<std::size_t, double>>& retunes = {}) {
    const double high = u.fs * u.interpolation, pass = 0.5 * u.bandwidth_hz;
    const std::vector<float> h = halvo::frontend::lowpass_design(high, pass, std::fmin(u.fs - pass, 0.5 * high), u.stopband_db, u.interpolation);
    const std::vector<float> zr = plane(x, false), zi = plane(x, true);
    std::vector<cf32> y;
    const std::size_t L = static_cast<std::size_t>(u.interpolation);
    std::vector<float> c, s;
    oscillator_reference(x.size() * L, high, u.offset_hz, retunes, c, s);
    for (std::size_t k = 0; k < x.size() * L; ++k) {
        const float yr = fir_reference(h, u.fir.k, zr, static_cast<long>(k / L), k % L, L);
        const float yi = fir_reference(h, u.fir.k, zi, static_cast<long>(k / L), k % L, L);
        y.push_back(cf32{yr * c[k] - halvo::opaque(yi * s[k]), yi * c[k] + halvo::opaque(yr * s[k])});
    }
    return y;
}

TEST(upconverter_levels_match_reference_in_any_split_and_retune) {
    struct Case {
        double fs;
        int interp;
        double offset, bw;
    };
    for (const Case& uc : {Case{48e3, 20, 200e3, 16e3}, Case{16e3, 1, -3e3, 4e3}, Case{8e3, 7, -28e3, 1e3},
                           Case{480e3, 2, 200e3, 200e3}}) {
        const Upconverter proto = Upconverter::make(uc.fs, uc.interp, uc.offset, uc.bw);
        const std::size_t n = 3000;
        const std::vector<cf32> x = noise(n, 3);
        const std::vector<cf32> want = upconverter_reference(proto, x);
        // Retuned at the output sample that input sample 1234 starts.
        const double re_hz = -0.3 * uc.fs * uc.interp;
        const std::vector<cf32> want_retuned = upconverter_reference(proto, x, {{1234 * static_cast<std::size_t>(uc.interp), re_hz}});
        for (const auto& lv : HALVO_LEVELS(upconverter_process, Upconverter, cf32)) {
            INFO("%s fs %g x%d", lv.name, uc.fs, uc.interp);
            check_same(run_blocks(proto, lv.fn, x, random_split(n, 4, 400)), want);
            Upconverter u = proto;
            std::vector<cf32> got = run_blocks(u, lv.fn, std::vector<cf32>(x.begin(), x.begin() + 1234), {1234});
            Upconverter v = proto;
            std::vector<cf32> tmp(v.output_count(1234));
            lv.fn(v, x.data(), tmp.data(), 1234);
            v.set_offset(re_hz);
            const std::vector<cf32> rest = run_blocks(v, lv.fn, std::vector<cf32>(x.begin() + 1234, x.end()), random_split(n - 1234, 6, 300));
            got.insert(got.end(), rest.begin(), rest.end());
            check_same(got, want_retuned);
        }
    }
}

TEST(upconverter_response_within_mask) {
    const Upconverter proto = Upconverter::make(48e3, 20, 200e3, 16e3);
    const double high = 48e3 * 20;
    const std::size_t skip = static_cast<std::size_t>(2.0 * proto.delay()) + 4;
    const std::size_t n = skip / 20 + 400;
    double worst_pass = 0.0, worst_image = -400.0;
    for (int i = -10; i <= 10; ++i) {
        const double f = 0.9 * 8e3 * i / 10.0;
        Upconverter u = proto;
        const std::vector<cf32> x = tone(n, f / 48e3);
        std::vector<cf32> y(u.output_count(n));
        upconverter_process_baseline(u, x.data(), y.data(), n);
        double tone_db, rest_db;
        tone_fit(y, skip, (200e3 + f) / high, tone_db, rest_db);
        worst_pass = std::fmax(worst_pass, std::fabs(tone_db));
        worst_image = std::fmax(worst_image, rest_db);
    }
    INFO("passband %.3f dB, images %.1f dB", worst_pass, worst_image);
    CHECK(worst_pass <= 0.5);
    CHECK(worst_image <= -70.0);
}

TEST(upconverter_refuses_invalid_parameters) {
    struct Bad {
        double fs;
        int interp;
        double offset, bw;
        const char* name;
    };
    for (const Bad& b : {Bad{-1.0, 2, 0.0, 1e3, "fs"}, Bad{48e3, 0, 0.0, 1e3, "interpolation"}, Bad{48e3, 2, 48.1e3, 1e3, "offset_hz"},
                         Bad{48e3, 2, 0.0, 48e3, "bandwidth_hz"}, Bad{48e3, 2, 0.0, -5.0, "bandwidth_hz"}}) {
        std::string msg;
        try {
            Upconverter::make(b.fs, b.interp, b.offset, b.bw);
        } catch (const std::invalid_argument& e) {
            msg = e.what();
        }
        INFO("%s: '%s'", b.name, msg.c_str());
        CHECK(msg.find(b.name) != std::string::npos);
    }
}


// NaNs of both signs and two payloads and infinities in the input: the same
// outputs on every level and in any split, every NaN written as 0x7FC00000.
std::vector<cf32> with_specials(std::vector<cf32> x) {
    const float specials[] = {std::bit_cast<float>(0x7FC00001u), std::bit_cast<float>(0xFFC12345u), INFINITY, -INFINITY};
    for (std::size_t i = 500, s = 0; i < x.size(); i += 977, ++s) (s % 2 ? x[i].re : x[i].im) = specials[s % 4];
    return x;
}

TEST(nan_and_infinity_inputs_same_bits_everywhere) {
    const std::vector<cf32> x = with_specials(noise(6000, 21));
    for (const SelectorCase& sc : {kSelectorCases[0], kSelectorCases[1]}) {
        const std::vector<cf32> want = selector_reference(sc.fs, sc.offset, sc.dec, sc.bw, x);
        for (const auto& lv : selector_levels()) {
            INFO("selector %s dec %d", lv.name, sc.dec);
            check_same(run_selector(ChannelSelector::make(sc.fs, sc.offset, sc.dec, sc.bw), lv.fn, x, random_split(x.size(), 8, 900)), want);
        }
    }
    const Resampler r = Resampler::make(2.4e6, 48e3);
    const std::vector<cf32> want_r = chain_reference(r.fir, plane(x, false), plane(x, true));
    const Upconverter u = Upconverter::make(8e3, 3, 1e3, 2e3);
    const std::vector<cf32> want_u = upconverter_reference(u, x);
    for (const auto& lv : HALVO_LEVELS(resampler_process, Resampler, cf32)) {
        INFO("resampler %s", lv.name);
        check_same(run_blocks(r, lv.fn, x, random_split(x.size(), 5, 700)), want_r);
    }
    for (const auto& lv : HALVO_LEVELS(upconverter_process, Upconverter, cf32)) {
        INFO("upconverter %s", lv.name);
        check_same(run_blocks(u, lv.fn, x, random_split(x.size(), 6, 700)), want_u);
    }
}

}  // namespace

HALVO_TEST_MAIN()
