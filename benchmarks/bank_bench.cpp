// A bank of 16 channels against 16 single objects, for every class, side by
// side in one run: the sample loops alone (no Python, no allocation).
//
//   cmake -S . -B build/bench -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_BENCH=ON
//   cmake --build build/bench --target bank_bench && taskset -c 1 build/bench/bank_bench
//
// Per class: the 16 single objects on the active level, then the bank on
// each of its levels this CPU runs (x86-64: each channel's own process(),
// x86-64-v3: 8 lanes, x86-64-v4: 16 lanes). Blocks of 16 x 4096 samples
// with the data in cache, state carried from block to block; the median of
// the repetitions. ns and cycles per channel-sample, the cycles against a
// clock calibrated in the same run with a chain of dependent adds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "kernels/bank_table.hpp"
#if defined(__x86_64__)
#include "port/cpu_x86.hpp"
#endif

using halvo::cf32;
using halvo::kernels::BankKernelTable;
using halvo::kernels::KernelTable;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;
constexpr std::size_t kBlock = 4096;  // samples per channel per call
constexpr int kCalls = 16;            // calls per timed repetition
constexpr int kReps = 15;             // repetitions; the median counts

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
        best = std::max(best, 1e8 / seconds(t0, Clock::now()) / 1e9);
    }
    return best;
}

template <class F>
double median_ns_per_channel_sample(F&& call) {
    std::vector<double> t;
    call();  // warm
    for (int r = 0; r < kReps; ++r) {
        const auto t0 = Clock::now();
        for (int c = 0; c < kCalls; ++c) call();
        t.push_back(seconds(t0, Clock::now()) * 1e9 / (double(kCalls) * kChannels * kBlock));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void fill(std::vector<float>& v, std::mt19937& rng) {
    std::normal_distribution<float> d(0.0f, 0.5f);
    for (float& x : v) x = d(rng);
}
void fill(std::vector<cf32>& v, std::mt19937& rng) {
    std::normal_distribution<float> d(0.0f, 1.0f);
    for (cf32& x : v) x = {d(rng), d(rng)};
}

double g_ghz = 1.0;

template <class C, class In, class Out>
void bench(const char* name, C fresh, void (*BankKernelTable::*slot)(halvo::radio::Bank<C>&, const In*, Out*, std::size_t),
           void (*KernelTable::*single)(C&, const In*, Out*, std::size_t)) {
    std::mt19937 rng(1);
    std::vector<In> in(kChannels * kBlock);
    fill(in, rng);
    std::vector<Out> out(in.size());
    std::vector<C> singles(kChannels, fresh);
    const KernelTable& active = halvo::kernels::active();
    const double t_single = median_ns_per_channel_sample([&] {
        for (int k = 0; k < kChannels; ++k) (active.*single)(singles[k], in.data() + k * kBlock, out.data() + k * kBlock, kBlock);
    });
    std::printf("%-18s 16 single objects (%s)  %6.3f ns  %5.2f cycles per channel-sample\n", name, active.level,
                t_single, t_single * g_ghz);
    std::vector<const BankKernelTable*> levels = {&halvo::kernels::bank_baseline};
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) levels.push_back(&halvo::kernels::bank_x86_64_v3);
    if (halvo::kernels::has_x86_64_v4()) levels.push_back(&halvo::kernels::bank_x86_64_v4);
#endif
    for (const BankKernelTable* level : levels) {
        auto bank = halvo::radio::Bank<C>{std::vector<C>(kChannels, fresh)};
        const double t = median_ns_per_channel_sample([&] { (level->*slot)(bank, in.data(), out.data(), in.size()); });
        std::printf("%-18s bank of 16, %-10s      %6.3f ns  %5.2f cycles per channel-sample  %5.2fx\n", name,
                    level->level, t, t * g_ghz, t_single / t);
    }
}

}  // namespace

int main() {
    g_ghz = calibrate_ghz();
    std::printf("core clock %.2f GHz (calibrated); %d channels x %zu samples per call\n", g_ghz, kChannels, kBlock);
    bench("CwEnvelopeDemod", halvo::CwEnvelopeDemod::make(48000, 700, 50), &BankKernelTable::CwEnvelopeDemodBank,
          &KernelTable::CwEnvelopeDemod);
    bench("AmEnvelopeDemod", halvo::AmEnvelopeDemod::make(48000, 3000, false), &BankKernelTable::AmEnvelopeDemodBank,
          &KernelTable::AmEnvelopeDemod);
    bench("SsbProductDemod", halvo::SsbProductDemod::make(48000, 1500, 2700), &BankKernelTable::SsbProductDemodBank,
          &KernelTable::SsbProductDemod);
    bench("FmQuadratureDemod", halvo::FmQuadratureDemod::make(48000, 5000, 3000),
          &BankKernelTable::FmQuadratureDemodBank, &KernelTable::FmQuadratureDemod);
    bench("PmQuadratureDemod", halvo::PmQuadratureDemod::make(48000, 1, 3000), &BankKernelTable::PmQuadratureDemodBank,
          &KernelTable::PmQuadratureDemod);
    bench("AmDsbMod", halvo::AmDsbMod::make(48000, 10000, 0.5, 0.8), &BankKernelTable::AmDsbModBank,
          &KernelTable::AmDsbMod);
    bench("CwKeyedMod", halvo::CwKeyedMod::make(48000, 700, 5, 5), &BankKernelTable::CwKeyedModBank,
          &KernelTable::CwKeyedMod);
    bench("FmPhaseAccumMod", halvo::FmPhaseAccumMod::make(48000, 5000, 10000), &BankKernelTable::FmPhaseAccumModBank,
          &KernelTable::FmPhaseAccumMod);
    bench("PmDirectPhaseMod", halvo::PmDirectPhaseMod::make(48000, 1, -3000), &BankKernelTable::PmDirectPhaseModBank,
          &KernelTable::PmDirectPhaseMod);
    bench("SsbPhasingMod", halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, true),
          &BankKernelTable::SsbPhasingModBank, &KernelTable::SsbPhasingMod);
    return 0;
}
