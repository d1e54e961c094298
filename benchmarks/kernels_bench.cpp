// Every kernel level on the same data, side by side: the sample loops alone
// (no Python, no allocation).
//
//   cmake -S . -B build/bench -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_BENCH=ON
//   cmake --build build/bench && taskset -c 1 build/bench/kernels_bench
//
// Two figures per level: ns per sample over a 4M-sample block (median of 9
// runs; input and output stream through memory; the output 64-byte aligned,
// as the module's large outputs are), and cycles per sample with
// the data in cache (4096-sample blocks, state carried from block to block,
// the best of many repetitions), against a clock calibrated in the same run
// with a chain of dependent adds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "kernels/table.hpp"
#if defined(__x86_64__)
#include "port/cpu_x86.hpp"
#endif

using halvo::cf32;
using halvo::kernels::KernelTable;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSamples = std::size_t{1} << 22;
constexpr int kRuns = 9;
constexpr std::size_t kHot = 4096;  // samples per cache-resident block
constexpr int kHotBlocks = 64;      // blocks per timed repetition
constexpr int kHotReps = 40;        // repetitions; the best one counts

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Core clock in GHz: 10^8 dependent integer adds take 10^8 cycles.
double calibrate_ghz() {
    double best = 0.0;
    for (int r = 0; r < 5; ++r) {
        unsigned long x = 0;
        const auto t0 = Clock::now();
        for (long i = 0; i < 10000000; ++i) {
#if defined(__x86_64__)
            asm volatile("add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\t"
                         "add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0"
                         : "+r"(x));
#else
            asm volatile("" : "+r"(x));
#endif
        }
        const double ghz = 1e8 / seconds(t0, Clock::now()) / 1e9;
        best = std::max(best, ghz);
    }
    return best;
}

std::vector<cf32> iq_input(std::size_t n) {
    std::vector<cf32> v(n);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    for (std::size_t i = 0; i < n; ++i) {
        const float ph = 0.19f * static_cast<float>(i) + 0.5f * std::sin(0.013f * static_cast<float>(i));
        v[i] = {std::cos(ph) + noise(rng), std::sin(ph) + noise(rng)};
    }
    return v;
}

std::vector<float> audio_input(std::size_t n) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = 0.5f * std::sin(0.09f * static_cast<float>(i));
    return v;
}

template <class T, class In, class Out>
using Slot = void (*KernelTable::*)(T&, const In*, Out*, std::size_t);

struct Figures {
    double big_ns;   // ns per sample, 1M-sample block
    double hot_ns;   // ns per sample, cache-resident blocks
};

template <class T, class In, class Out>
Figures time_level(const KernelTable& t, Slot<T, In, Out> slot, const T& fresh, const std::vector<In>& in) {
    // Written once before timing, so no run pays for first-touch page faults.
    std::unique_ptr<Out[]> out_buffer(new (std::align_val_t{64}) Out[in.size()]());
    Out* const out = out_buffer.get();
    std::vector<double> ns;
    for (int r = 0; r < kRuns; ++r) {
        T st = fresh;
        const auto t0 = Clock::now();
        (t.*slot)(st, in.data(), out, in.size());
        ns.push_back(seconds(t0, Clock::now()) * 1e9 / static_cast<double>(in.size()));
    }
    std::sort(ns.begin(), ns.end());
    double hot = 1e30;
    T st = fresh;
    for (int r = 0; r < kHotReps; ++r) {
        const auto t0 = Clock::now();
        for (int b = 0; b < kHotBlocks; ++b) (t.*slot)(st, in.data() + kHot * b, out, kHot);
        hot = std::min(hot, seconds(t0, Clock::now()) * 1e9 / static_cast<double>(kHot * kHotBlocks));
    }
    return {ns[ns.size() / 2], hot};
}

double g_ghz = 0.0;

template <class T, class In, class Out>
void row(const char* name, Slot<T, In, Out> slot, const T& fresh, const std::vector<In>& in) {
    const Figures base = time_level(halvo::kernels::baseline, slot, fresh, in);
    std::printf("| %-18s | %8.2f | %6.1f |", name, base.big_ns, base.hot_ns * g_ghz);
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) {
        const Figures v3 = time_level(halvo::kernels::x86_64_v3, slot, fresh, in);
        std::printf(" %9.2f | %6.1f | %6.1f× |", v3.big_ns, v3.hot_ns * g_ghz, base.big_ns / v3.big_ns);
    } else {
        std::printf("         - |      - |      - |");
    }
#endif
    std::printf("\n");
}

}  // namespace

int main() {
    g_ghz = calibrate_ghz();
    const auto iq = iq_input(kSamples);
    const auto audio = audio_input(kSamples);
    std::printf("active level: %s; clock %.2f GHz (dependent adds)\n", halvo::kernels::active().level, g_ghz);
    std::printf("ns/sample: %zu-sample block, median of %d runs; cycles/sample: %zu-sample blocks in cache, best of %d\n\n",
                kSamples, kRuns, kHot, kHotReps);
    std::printf("| class              | x86-64 ns | cycles | x86-64-v3 ns | cycles | ratio  |\n|---|---|---|---|---|---|\n");
    row("CwEnvelopeDemod", &KernelTable::CwEnvelopeDemod, halvo::CwEnvelopeDemod::make(48000, 700, 50), iq);
    row("AmEnvelopeDemod", &KernelTable::AmEnvelopeDemod, halvo::AmEnvelopeDemod::make(48000, 3000, false), iq);
    row("SsbProductDemod", &KernelTable::SsbProductDemod, halvo::SsbProductDemod::make(48000, 1500, 2700), iq);
    row("FmQuadratureDemod", &KernelTable::FmQuadratureDemod, halvo::FmQuadratureDemod::make(48000, 5000, 3000), iq);
    row("PmQuadratureDemod", &KernelTable::PmQuadratureDemod, halvo::PmQuadratureDemod::make(48000, 1, 3000), iq);
    row("AmDsbMod", &KernelTable::AmDsbMod, halvo::AmDsbMod::make(48000, 10000, 0.5, 0.5), audio);
    row("CwKeyedMod", &KernelTable::CwKeyedMod, halvo::CwKeyedMod::make(48000, 700, 5, 5), audio);
    row("  (rise 5, fall 8)", &KernelTable::CwKeyedMod, halvo::CwKeyedMod::make(48000, 700, 5, 8), audio);
    row("SsbPhasingMod", &KernelTable::SsbPhasingMod, halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, true),
        audio);
    row("FmPhaseAccumMod", &KernelTable::FmPhaseAccumMod, halvo::FmPhaseAccumMod::make(48000, 5000, 10000), audio);
    row("PmDirectPhaseMod", &KernelTable::PmDirectPhaseMod, halvo::PmDirectPhaseMod::make(48000, 1, 10000), audio);
    std::printf("\nclock after: %.2f GHz\n", calibrate_ghz());
    return 0;
}
