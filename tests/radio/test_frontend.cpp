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

using halvo::cf32;
using halvo::frontend::ChannelSelector;

using SelectorFn = void (*)(ChannelSelector&, const cf32*, cf32*, std::size_t);
void selector_process_baseline(ChannelSelector&, const cf32*, cf32*, std::size_t);
#if defined(__x86_64__)
void selector_process_v3(ChannelSelector&, const cf32*, cf32*, std::size_t);
void selector_process_v4(ChannelSelector&, const cf32*, cf32*, std::size_t);
#endif

namespace {

template <class Fn>
struct Level {
    const char* name;
    Fn fn;
};

bool has_v3() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
bool has_v4() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
#else
    return false;
#endif
}

std::vector<Level<SelectorFn>> selector_levels() {
    std::vector<Level<SelectorFn>> out{{"baseline", selector_process_baseline}};
#if defined(__x86_64__)
    if (has_v3()) out.push_back({"x86-64-v3", selector_process_v3});
    if (has_v4()) out.push_back({"x86-64-v4", selector_process_v4});
#endif
    return out;
}

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
float fir_reference(const std::vector<float>& h, std::size_t k, const std::vector<float>& z, long end) {
    float p[16] = {};
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t i = k - 1 - j;  // tap index
        const float tap = i < h.size() ? h[i] : 0.0f;
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

// The selector from its definition; retunes[i] = (sample index, offset_hz).
std::vector<cf32> selector_reference(double fs, double offset, int dec, double bw, const std::vector<cf32>& x,
                                     const std::vector<std::pair<std::size_t, double>>& retunes = {}) {
    const ChannelSelector c = ChannelSelector::make(fs, offset, dec, bw);
    const std::vector<float> h = halvo::frontend::lowpass_design(fs, 0.5 * bw, 0.5 * bw + c.transition_hz, 70.0, 1.0);
    std::vector<float> zr(x.size()), zi(x.size());
    std::uint32_t phi = 0, inc = halvo::frontend::nco_step(offset, fs);
    std::size_t next = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (next < retunes.size() && retunes[next].first == i) inc = halvo::frontend::nco_step(retunes[next++].second, fs);
        float co, si;
        halvo::frontend::nco_cos_sin(phi, co, si);
        phi += inc;
        zr[i] = x[i].re * co + x[i].im * si;
        zi[i] = x[i].im * co - x[i].re * si;
    }
    std::vector<cf32> y;
    for (std::size_t t = 0; t < x.size(); t += static_cast<std::size_t>(dec))
        y.push_back(cf32{fir_reference(h, c.fir.k, zr, static_cast<long>(t)), fir_reference(h, c.fir.k, zi, static_cast<long>(t))});
    return y;
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

void check_same(const std::vector<cf32>& got, const std::vector<cf32>& want) {
    CHECK(got.size() == want.size());
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        CHECK_BITS(got[i].re, want[i].re);
        CHECK_BITS(got[i].im, want[i].im);
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

// Output power of a unit tone at offset + f, in dB, after the filter settles.
double selector_gain_db(const ChannelSelector& proto, double f) {
    ChannelSelector c = proto;
    const std::size_t settle = c.fir.n_taps + static_cast<std::size_t>(c.decimation);
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
    for (const Mask& mk : {Mask{1.024e6, 125e3, 64, 8e3, 70.0}, Mask{48e3, 3e3, 3, 4e3, 90.0}, Mask{1e5, 0.0, 1, 2e4, 40.0}}) {
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
        INFO("fs %g dec %d: passband %.3f dB, stopband %.1f dB", mk.fs, mk.dec, worst_pass, worst_stop);
        CHECK(worst_pass <= 0.5);
        CHECK(worst_stop <= -mk.stop_db);
    }
}

TEST(selector_attributes) {
    const ChannelSelector c = ChannelSelector::make(1.024e6, 125e3, 64, 8e3);
    CHECK_NEAR(c.fs_out(), 16e3, 0.0);
    CHECK_NEAR(c.transition_hz, 8e3, 0.0);  // stopband from 12 kHz: nothing aliases into the passband
    CHECK_NEAR(c.delay(), 0.5 * static_cast<double>(c.fir.n_taps - 1) / 64.0, 0.0);
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

}  // namespace

HALVO_TEST_MAIN()
