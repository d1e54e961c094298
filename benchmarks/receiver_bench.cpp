// The audio stage, Receiver and Transmitter timed per instruction-set level:
//
//   receiver_bench                 table: ns per input sample of the whole-stream
//                                  jobs and microseconds per 64-sample call
//   receiver_bench rx MODE FS OFFSET SQUELCH_DB IN OUT
//                                  runs one Receiver over a raw complex64 file
//                                  (squelch_db "none" for none) and writes the
//                                  float32 audio (benchmarks/receiver_peers.py)
//
// Times are medians of repeated runs, measured with steady_clock.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "radio/audio/agc.hpp"
#include "radio/audio/emphasis.hpp"
#include "radio/audio/squelch.hpp"
#include "radio/receiver.hpp"
#include "radio/transmitter.hpp"

using halvo::cf32;
using namespace halvo::audio;
using halvo::radio::Receiver;
using halvo::radio::Transmitter;

#define HALVO_DECLARE_LEVELS(name, T, S, O)               \
    void name##_baseline(T&, const S*, O*, std::size_t); \
    void name##_v3(T&, const S*, O*, std::size_t);
HALVO_DECLARE_LEVELS(deemphasis_process, Deemphasis, float, float)
HALVO_DECLARE_LEVELS(preemphasis_process, Preemphasis, float, float)
HALVO_DECLARE_LEVELS(squelch_process, PowerSquelch, cf32, cf32)
HALVO_DECLARE_LEVELS(agc_process, Agc, float, float)
HALVO_DECLARE_LEVELS(receiver_process, Receiver, cf32, float)
HALVO_DECLARE_LEVELS(transmitter_process, Transmitter, float, cf32)

namespace {

bool v3() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

double median_ns(const std::function<void()>& f, int repeats) {
    f();
    std::vector<double> t;
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

std::vector<cf32> noise_iq(std::size_t n) {
    std::vector<cf32> x(n);
    std::uint64_t s = 1;
    auto u = [&s] {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>(static_cast<double>(s >> 40) / 16777216.0 - 0.5);
    };
    for (cf32& v : x) v = cf32{u(), u()};
    return x;
}

template <class T, class S, class O>
void stream(const char* name, T obj, void (*fn)(T&, const S*, O*, std::size_t), const std::vector<S>& x,
            double fs, std::size_t out_n) {
    std::vector<O> y(out_n + 8);
    const double ns = median_ns([&] { T o = obj; fn(o, x.data(), y.data(), x.size()); }, 7) / double(x.size());
    std::printf("%-34s %8.3f ns/sample  %8.1f x real time\n", name, ns, 1e9 / (ns * fs));
}

template <class T, class S, class O>
void call64(const char* name, T obj, void (*fn)(T&, const S*, O*, std::size_t), const std::vector<S>& x) {
    std::vector<O> y(64 * 64);
    const double ns = median_ns([&] { for (int k = 0; k < 1000; ++k) fn(obj, x.data() + (k % 16) * 64, y.data(), 64); }, 9) / 1000.0;
    std::printf("%-34s %8.3f us per 64-sample call\n", name, ns / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fast = v3();
    auto pick = [fast](auto base, auto lv3) { return fast ? lv3 : base; };
    if (argc >= 8 && std::string(argv[1]) == "rx") {
        const double sq = std::string(argv[5]) == "none" ? NAN : std::strtod(argv[5], nullptr);
        Receiver r = Receiver::make(argv[2], std::strtod(argv[3], nullptr), std::strtod(argv[4], nullptr), 48000.0, sq);
        FILE* f = std::fopen(argv[6], "rb");
        if (!f) return 2;
        std::vector<cf32> x;
        cf32 v;
        while (std::fread(&v, sizeof v, 1, f) == 1) x.push_back(v);
        std::fclose(f);
        std::vector<float> y(r.output_count(x.size()));
        pick(receiver_process_baseline, receiver_process_v3)(r, x.data(), y.data(), x.size());
        f = std::fopen(argv[7], "wb");
        if (!f) return 2;
        std::fwrite(y.data(), sizeof(float), y.size(), f);
        std::fclose(f);
        return 0;
    }
    std::printf("level: %s\n", fast ? "x86-64-v3" : "baseline");
    const std::size_t n = std::size_t{1} << 22;
    const auto iq = noise_iq(n);
    std::vector<float> au(n);
    for (std::size_t i = 0; i < n; ++i) au[i] = iq[i].re;
    for (int lv = 0; lv < (fast ? 2 : 1); ++lv) {
        const bool b = lv == 0;
        std::printf("-- %s\n", b ? "baseline" : "x86-64-v3");
        const Receiver nb = Receiver::make("nbfm", 240000.0, 30000.0, 48000.0, -40.0);
        stream("Receiver nbfm 240k->48k, squelch", nb, b ? receiver_process_baseline : receiver_process_v3, iq, 240000.0, nb.output_count(n));
        const Receiver wb = Receiver::make("wbfm", 2400000.0, 300000.0);
        stream("Receiver wbfm 2.4M->48k", wb, b ? receiver_process_baseline : receiver_process_v3, iq, 2400000.0, wb.output_count(n));
        const Receiver us = Receiver::make("usb", 240000.0, 30000.0);
        stream("Receiver usb 240k->48k", us, b ? receiver_process_baseline : receiver_process_v3, iq, 240000.0, us.output_count(n));
        const Receiver am = Receiver::make("am", 240000.0, 30000.0);
        stream("Receiver am 240k->48k", am, b ? receiver_process_baseline : receiver_process_v3, iq, 240000.0, am.output_count(n));
        const std::vector<float> a48(au.begin(), au.begin() + n / 16);
        const Transmitter tn = Transmitter::make("nbfm", 48000.0, 240000.0, 30000.0);
        stream("Transmitter nbfm 48k->240k (per audio)", tn, b ? transmitter_process_baseline : transmitter_process_v3, a48, 48000.0, tn.output_count(a48.size()));
        stream("Deemphasis", Deemphasis::make(48000.0), b ? deemphasis_process_baseline : deemphasis_process_v3, au, 48000.0, n);
        stream("Preemphasis", Preemphasis::make(48000.0), b ? preemphasis_process_baseline : preemphasis_process_v3, au, 48000.0, n);
        stream("PowerSquelch", PowerSquelch::make(48000.0, -20.0), b ? squelch_process_baseline : squelch_process_v3, iq, 48000.0, n);
        stream("Agc", Agc::make(48000.0), b ? agc_process_baseline : agc_process_v3, au, 48000.0, n);
        call64("Deemphasis", Deemphasis::make(48000.0), b ? deemphasis_process_baseline : deemphasis_process_v3, au);
        call64("Preemphasis", Preemphasis::make(48000.0), b ? preemphasis_process_baseline : preemphasis_process_v3, au);
        call64("PowerSquelch", PowerSquelch::make(48000.0, -20.0), b ? squelch_process_baseline : squelch_process_v3, iq);
        call64("Agc", Agc::make(48000.0), b ? agc_process_baseline : agc_process_v3, au);
        Receiver nb2 = nb;
        call64("Receiver nbfm", nb2, b ? receiver_process_baseline : receiver_process_v3, iq);
        Receiver wb2 = wb;
        call64("Receiver wbfm", wb2, b ? receiver_process_baseline : receiver_process_v3, iq);
        Transmitter tn2 = tn;
        call64("Transmitter nbfm", tn2, b ? transmitter_process_baseline : transmitter_process_v3, au);
        Transmitter tw = Transmitter::make("wbfm", 48000.0, 960000.0, 200000.0);
        call64("Transmitter wbfm 48k->960k", tw, b ? transmitter_process_baseline : transmitter_process_v3, au);
    }
    return 0;
}
