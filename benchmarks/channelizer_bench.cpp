// Times the Channelizer (the sample loop as compiled for the x86-64-v3 and
// x86-64-v4 levels) and liquid-dsp's polyphase channelizers on the same
// prototype taps, in one process: 64 channels, 70 dB, critically sampled
// (liquid's firpfbch_crcf analyzer) and twice oversampled (firpfbch2_crcf,
// its taps padded with zeros to liquid's length 2*M*m).
//
//   channelizer_bench [--taps-out DIR] [--samples N] [--repeats R] [--no-baseline]
//
// prints one line per job: the median ns per input sample over the repeats
// (halvo's levels alternating call by call),
// timed as the thread's CPU time (on a shared machine the time spent
// descheduled would otherwise count), and the same figure in cycles of a
// clock calibrated against the time-stamp counter over the run.
// With --taps-out, writes the prototypes (float32, raw) as
// DIR/taps_os1.f32 and DIR/taps_os2.f32 for benchmarks/channelizer_peers.py.
#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>
#include <x86intrin.h>

#include <liquid/liquid.h>

#include "radio/channelizer.hpp"

using halvo::cf32;
using halvo::Channelizer;
using ProcessFn = void (*)(Channelizer&, const cf32*, cf32*, std::size_t);
void channelizer_process_baseline(Channelizer&, const cf32*, cf32*, std::size_t);
void channelizer_process_v3(Channelizer&, const cf32*, cf32*, std::size_t);
void channelizer_process_v4(Channelizer&, const cf32*, cf32*, std::size_t);

namespace {

double thread_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Time-stamp counter ticks per ns, over a 50 ms busy loop.
double tsc_per_ns() {
    const auto t0 = std::chrono::steady_clock::now();
    const unsigned long long c0 = __rdtsc();
    while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(50)) {
    }
    const unsigned long long c1 = __rdtsc();
    return static_cast<double>(c1 - c0) / std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
}

template <class F>
double median_ns_per_sample(F&& run, std::size_t n, int repeats) {
    run();  // warm up
    std::vector<double> t;
    for (int i = 0; i < repeats; ++i) {
        const double t0 = thread_ns();
        run();
        const double t1 = thread_ns();
        t.push_back((t1 - t0) / static_cast<double>(n));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = 1 << 20;
    int repeats = 15;
    const char* taps_out = nullptr;
    bool baseline = true;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--no-baseline")) baseline = false;
    const double ghz = tsc_per_ns();
    std::printf("clock %.3f GHz (time-stamp counter); figures: ns per input sample (cycles)\n", ghz);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--no-baseline")) {
            --i;
            continue;
        }
        if (!std::strcmp(argv[i], "--samples")) n = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--repeats")) repeats = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--taps-out")) taps_out = argv[i + 1];
    }
    const int m = 64;
    std::vector<cf32> x(n);
    unsigned s = 1;
    for (cf32& v : x) {
        s = s * 1664525u + 1013904223u;
        v.re = static_cast<float>(static_cast<int>(s >> 8) % 2001 - 1000) * 3e-4f;
        s = s * 1664525u + 1013904223u;
        v.im = static_cast<float>(static_cast<int>(s >> 8) % 2001 - 1000) * 3e-4f;
    }
    for (int os = 1; os <= 2; ++os) {
        const Channelizer proto = Channelizer::make(1.0, m, os, 70.0);
        if (taps_out) {
            const std::string path = std::string(taps_out) + "/taps_os" + std::to_string(os) + ".f32";
            FILE* f = std::fopen(path.c_str(), "wb");
            if (!f) return 1;
            std::fwrite(proto.taps.data(), sizeof(float), proto.taps.size(), f);
            std::fclose(f);
        }
        std::vector<cf32> y(static_cast<std::size_t>(m) * (n / static_cast<std::size_t>(proto.r) + 1));
        const struct {
            const char* name;
            ProcessFn fn;
        } levels[] = {{"x86-64", channelizer_process_baseline}, {"x86-64-v3", channelizer_process_v3}, {"x86-64-v4", channelizer_process_v4}};
        // The levels take turns, one call each per round, so a change in
        // the machine's load falls on all of them alike.
        std::vector<ProcessFn> fns;
        std::vector<const char*> names;
        for (const auto& lv : levels) {
            if (!std::strcmp(lv.name, "x86-64-v4") && !__builtin_cpu_supports("avx512f")) continue;
            if (!std::strcmp(lv.name, "x86-64") && !baseline) continue;
            fns.push_back(lv.fn);
            names.push_back(lv.name);
        }
        std::vector<Channelizer> chans(fns.size(), proto);
        std::vector<std::vector<double>> t(fns.size());
        for (int round = -1; round < repeats; ++round) {  // round -1 warms up
            for (std::size_t l = 0; l < fns.size(); ++l) {
                const double t0 = thread_ns();
                fns[l](chans[l], x.data(), y.data(), n);
                const double t1 = thread_ns();
                if (round >= 0) t[l].push_back((t1 - t0) / static_cast<double>(n));
            }
        }
        for (std::size_t l = 0; l < fns.size(); ++l) {
            std::sort(t[l].begin(), t[l].end());
            const double ns = t[l][t[l].size() / 2];
            std::printf("halvo %-9s oversample=%d taps/branch=%d  %.3f ns/sample (%.2f), min %.3f\n", names[l], os, proto.p,
                        ns, ns * ghz, t[l][0]);
        }
        std::vector<std::complex<float>> lin(proto.taps.size() + 2 * m);
        std::vector<float> h = proto.taps;
        std::vector<std::complex<float>> out(static_cast<std::size_t>(m));
        auto* xin = reinterpret_cast<std::complex<float>*>(x.data());
        if (os == 1) {
            firpfbch_crcf q = firpfbch_crcf_create(LIQUID_ANALYZER, m, proto.p, h.data());
            const std::size_t frames = n / m;
            const double ns = median_ns_per_sample([&] {
                for (std::size_t f = 0; f < frames; ++f) firpfbch_crcf_analyzer_execute(q, xin + f * m, out.data());
            }, frames * m, repeats);
            std::printf("liquid firpfbch_crcf  oversample=1 taps/branch=%d  %.3f ns/sample (%.2f)\n", proto.p, ns, ns * ghz);
            firpfbch_crcf_destroy(q);
        } else {
            const unsigned semi = static_cast<unsigned>((proto.p + 1) / 2);
            h.resize(static_cast<std::size_t>(2 * m * semi), 0.0f);
            firpfbch2_crcf q = firpfbch2_crcf_create(LIQUID_ANALYZER, m, semi, h.data());
            const std::size_t frames = n / (m / 2);
            const double ns = median_ns_per_sample([&] {
                for (std::size_t f = 0; f < frames; ++f) firpfbch2_crcf_execute(q, xin + f * (m / 2), out.data());
            }, frames * (m / 2), repeats);
            std::printf("liquid firpfbch2_crcf oversample=2 taps/branch=%d  %.3f ns/sample (%.2f)\n", 2 * semi, ns, ns * ghz);
            firpfbch2_crcf_destroy(q);
        }
    }
    return 0;
}
