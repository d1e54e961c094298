// Times the front end's sample loops (as compiled for each instruction-set
// level this CPU runs) and, where liquid-dsp is built in, liquid's
// msresamp_crcf on the same job, in one process.
//
//   radio_frontend_bench [--samples N] [--repeats R]
//
// One line per job: the median ns per input sample over the repeats and the
// same in core cycles, the core clock measured in this run by a chain of
// dependent integer multiplies (three cycles each), so the cycle figures hold for the
// clock the loops actually ran at. Jobs:
//   selector   ChannelSelector 1.024 MS/s, 8 kHz channel at +125 kHz, decimation 64 (stopband from 12 kHz),
//              and decimation 16 at +100 kHz (radio_peers.py's channel job, the same filter)
//   resamp     Resampler 2.4 MS/s -> 48 kHz, 240 kHz -> 48 kHz, 44.1 kHz -> 48 kHz (complex64)
//   upconv     Upconverter 48 kHz x 20, 16 kHz wide, at +200 kHz (ns per output sample)
//   call64     one 64-sample call of Resampler 2.4 MS/s -> 48 kHz (ns per call)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(HALVO_HAVE_LIQUID)
#include <complex>
#include <liquid/liquid.h>
#endif

#include "radio/frontend/channel_selector.hpp"
#include "radio/frontend/resampler.hpp"
#include "radio/frontend/upconverter.hpp"

using halvo::cf32;
using namespace halvo::frontend;

#define HALVO_DECLARE_LEVELS(name, T, S)                    \
    void name##_baseline(T&, const S*, S*, std::size_t); \
    void name##_v3(T&, const S*, S*, std::size_t);       \
    void name##_v4(T&, const S*, S*, std::size_t);
HALVO_DECLARE_LEVELS(selector_process, ChannelSelector, cf32)
HALVO_DECLARE_LEVELS(resampler_process, Resampler, cf32)
HALVO_DECLARE_LEVELS(upconverter_process, Upconverter, cf32)

namespace {

template <class F>
double median_ns(F&& run, int repeats) {
    run();  // warm up
    std::vector<double> t;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Core cycles per ns: a chain of 2^26 * 8 dependent 64-bit integer
// multiplies (3 cycles each on Zen 4 and on recent Intel cores; a chain of
// adds is no clock, as some cores fold dependent adds of constants), timed.
double core_ghz() {
    std::vector<double> r;
    for (int k = 0; k < 5; ++k) {
        std::uint64_t x = 3;
        const auto t0 = std::chrono::steady_clock::now();
        for (std::uint64_t i = 0; i < (std::uint64_t{1} << 26); ++i)
            asm volatile("imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0\n\t"
                         "imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0" : "+r"(x));
        const auto t1 = std::chrono::steady_clock::now();
        r.push_back(3.0 * 8.0 * static_cast<double>(std::uint64_t{1} << 26) / std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    std::sort(r.begin(), r.end());
    return r[r.size() / 2];
}

struct Levels {
    const char* name;
    int level;  // 0 baseline, 3, 4
};

bool runs(int level) {
    __builtin_cpu_init();
    if (level == 3) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (level == 4) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    return true;
}

template <class T>
void pick(int level, void (*&fn)(T&, const cf32*, cf32*, std::size_t), void (*b)(T&, const cf32*, cf32*, std::size_t),
          void (*v3)(T&, const cf32*, cf32*, std::size_t), void (*v4)(T&, const cf32*, cf32*, std::size_t)) {
    fn = level == 0 ? b : (level == 3 ? v3 : v4);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = 1 << 21;
    int repeats = 11;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--samples")) n = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--repeats")) repeats = std::atoi(argv[i + 1]);
    }
    std::vector<cf32> x(n);
    unsigned s = 1;
    for (cf32& v : x) {
        s = s * 1664525u + 1013904223u;
        v.re = static_cast<float>(static_cast<int>(s >> 8) % 2001 - 1000) * 3e-4f;
        s = s * 1664525u + 1013904223u;
        v.im = static_cast<float>(static_cast<int>(s >> 8) % 2001 - 1000) * 3e-4f;
    }
    const double ghz = core_ghz();
    std::printf("core clock %.2f GHz (measured in this run)\n", ghz);
    auto line = [&](const char* job, const char* level, double ns, const char* unit) {
        std::printf("%-34s %-10s %9.3f ns/%s %8.2f cycles/%s\n", job, level, ns, unit, ns * ghz, unit);
    };
    std::vector<cf32> y(n * 20 + 64);
    for (int level : {0, 3, 4}) {
        if (!runs(level)) continue;
        const char* ln = level == 0 ? "baseline" : (level == 3 ? "x86-64-v3" : "x86-64-v4");
        {
            void (*fn)(ChannelSelector&, const cf32*, cf32*, std::size_t);
            pick(level, fn, selector_process_baseline, selector_process_v3, selector_process_v4);
            ChannelSelector c = ChannelSelector::make(1.024e6, 125e3, 64, 8e3);
            line("selector 1.024M/64 8k", ln, median_ns([&] { fn(c, x.data(), y.data(), n); }, repeats) / n, "sample");
            // radio_peers.py's channel job: decimation 16, the same 12 kHz stopband edge.
            ChannelSelector c16 = ChannelSelector::make(1.024e6, 100e3, 16, 8e3, 8e3);
            line("selector 1.024M/16 8k (peers' job)", ln, median_ns([&] { fn(c16, x.data(), y.data(), n); }, repeats) / n, "sample");
        }
        void (*rf)(Resampler&, const cf32*, cf32*, std::size_t);
        pick(level, rf, resampler_process_baseline, resampler_process_v3, resampler_process_v4);
        for (auto [a, b] : {std::pair{2.4e6, 48e3}, std::pair{240e3, 48e3}, std::pair{44.1e3, 48e3}}) {
            Resampler r = Resampler::make(a, b);
            char job[64];
            std::snprintf(job, sizeof job, "resamp %g -> %g (%zu+%zu taps)", a, b, r.fir.d1 > 1 ? r.fir.first.n_taps : 0,
                          r.fir.second.n_taps);
            line(job, ln, median_ns([&] { rf(r, x.data(), y.data(), n); }, repeats) / n, "sample");
        }
        {
            Resampler r = Resampler::make(2.4e6, 48e3);
            const double per_call = median_ns(
                [&] {
                    for (int k = 0; k < 1000; ++k) rf(r, x.data() + 64 * k, y.data(), 64);
                },
                repeats) / 1000.0;
            line("call64 resamp 2.4M -> 48k", ln, per_call, "call");
        }
        {
            void (*uf)(Upconverter&, const cf32*, cf32*, std::size_t);
            pick(level, uf, upconverter_process_baseline, upconverter_process_v3, upconverter_process_v4);
            Upconverter u = Upconverter::make(48e3, 20, 200e3, 16e3);
            const std::size_t nn = n / 20;
            line("upconv 48k x20 (per output)", ln, median_ns([&] { uf(u, x.data(), y.data(), nn); }, repeats) / (nn * 20), "sample");
        }
    }
#if defined(HALVO_HAVE_LIQUID)
    {
        // liquid's multi-stage resampler at the same rate and stopband.
        msresamp_crcf q = msresamp_crcf_create(48e3f / 2.4e6f, 70.0f);
        std::vector<liquid_float_complex> lx(n), ly(n / 40 + 64);
        for (std::size_t i = 0; i < n; ++i) lx[i] = liquid_float_complex(x[i].re, x[i].im);
        unsigned int written = 0;
        line("liquid msresamp_crcf 2.4M -> 48k", "liquid", median_ns([&] { msresamp_crcf_execute(q, lx.data(), static_cast<unsigned>(n), ly.data(), &written); }, repeats) / n, "sample");
        msresamp_crcf_destroy(q);
    }
#endif
    return 0;
}
