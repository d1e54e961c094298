// Every kernel level on the same data, side by side: ns per sample of the
// sample loops alone (no Python, no allocation), median of several runs.
//
//   cmake -S . -B build/bench -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_BENCH=ON
//   cmake --build build/bench && build/bench/kernels_bench
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "kernels/table.hpp"

using halvo::cf32;
using halvo::kernels::KernelTable;

namespace {

constexpr std::size_t kSamples = std::size_t{1} << 20;
constexpr int kRuns = 9;

std::vector<cf32> iq_input() {
    std::vector<cf32> v(kSamples);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    for (std::size_t i = 0; i < kSamples; ++i) {
        const float ph = 0.19f * static_cast<float>(i) + 0.5f * std::sin(0.013f * static_cast<float>(i));
        v[i] = {std::cos(ph) + noise(rng), std::sin(ph) + noise(rng)};
    }
    return v;
}

std::vector<float> audio_input() {
    std::vector<float> v(kSamples);
    for (std::size_t i = 0; i < kSamples; ++i) v[i] = 0.5f * std::sin(0.09f * static_cast<float>(i));
    return v;
}

template <class T, class In, class Out>
double time_level(const KernelTable& t, void (*KernelTable::*slot)(T&, const In*, Out*, std::size_t), const T& fresh,
                  const std::vector<In>& in) {
    std::vector<Out> out(in.size());
    std::vector<double> ns;
    for (int r = 0; r < kRuns; ++r) {
        T st = fresh;
        const auto t0 = std::chrono::steady_clock::now();
        (t.*slot)(st, in.data(), out.data(), in.size());
        const auto t1 = std::chrono::steady_clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(in.size()));
    }
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2];
}

template <class T, class In, class Out>
void row(const char* name, void (*KernelTable::*slot)(T&, const In*, Out*, std::size_t), const T& fresh,
         const std::vector<In>& in) {
    const double base = time_level(halvo::kernels::baseline, slot, fresh, in);
    std::printf("| %-18s | %8.2f |", name, base);
#if defined(__x86_64__)
    if (__builtin_cpu_supports("x86-64-v3")) {
        const double v3 = time_level(halvo::kernels::x86_64_v3, slot, fresh, in);
        std::printf(" %9.2f | %6.1f× |", v3, base / v3);
    } else {
        std::printf("         - |      - |");
    }
#endif
    std::printf("\n");
}

}  // namespace

int main() {
    const auto iq = iq_input();
    const auto audio = audio_input();
    std::printf("ns per sample, %zu-sample blocks, median of %d runs; active level: %s\n\n", kSamples, kRuns,
                halvo::kernels::active().level);
    std::printf("| class              | x86-64   | x86-64-v3 | ratio  |\n|---|---|---|---|\n");
    row("CwEnvelopeDemod", &KernelTable::CwEnvelopeDemod, halvo::CwEnvelopeDemod::make(48000, 700, 50), iq);
    row("AmEnvelopeDemod", &KernelTable::AmEnvelopeDemod, halvo::AmEnvelopeDemod::make(48000, 3000, false), iq);
    row("SsbProductDemod", &KernelTable::SsbProductDemod, halvo::SsbProductDemod::make(48000, 1500, 2700), iq);
    row("FmQuadratureDemod", &KernelTable::FmQuadratureDemod, halvo::FmQuadratureDemod::make(48000, 5000, 3000), iq);
    row("PmQuadratureDemod", &KernelTable::PmQuadratureDemod, halvo::PmQuadratureDemod::make(48000, 1, 3000), iq);
    row("AmDsbMod", &KernelTable::AmDsbMod, halvo::AmDsbMod::make(48000, 10000, 0.5, 0.5), audio);
    row("CwKeyedMod", &KernelTable::CwKeyedMod, halvo::CwKeyedMod::make(48000, 700, 5, 5), audio);
    row("SsbPhasingMod", &KernelTable::SsbPhasingMod, halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, true),
        audio);
    row("FmPhaseAccumMod", &KernelTable::FmPhaseAccumMod, halvo::FmPhaseAccumMod::make(48000, 5000, 10000), audio);
    row("PmDirectPhaseMod", &KernelTable::PmDirectPhaseMod, halvo::PmDirectPhaseMod::make(48000, 1, 10000), audio);
    return 0;
}
