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
// the repetitions, every variant run in turn within each repetition, timed
// by the thread's CPU time. ns and cycles per channel-sample, the cycles against a
// clock calibrated in the same run with a chain of dependent adds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
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

// The thread's CPU time, not the wall clock: the machine is shared, and time
// the thread spends descheduled would otherwise count against whichever
// variant happened to be running.
struct Clock {
    using time_point = std::chrono::duration<double>;
    static time_point now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec));
    }
};

constexpr int kChannels = 16;
constexpr std::size_t kBlock = 4096;  // samples per channel per call
constexpr int kCalls = 16;            // calls per timed repetition
constexpr int kReps = 15;             // repetitions; the median counts

double seconds(Clock::time_point a, Clock::time_point b) { return (b - a).count(); }

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

// Runs every variant once per repetition, in turn, so that a change in the
// machine's load touches all of them alike; the median of each.
std::vector<double> medians_ns_per_channel_sample(std::vector<std::function<void()>>& variants) {
    std::vector<std::vector<double>> t(variants.size());
    for (auto& v : variants) v();  // warm
    for (int r = 0; r < kReps; ++r) {
        for (std::size_t i = 0; i < variants.size(); ++i) {
            const auto t0 = Clock::now();
            for (int c = 0; c < kCalls; ++c) variants[i]();
            t[i].push_back(seconds(t0, Clock::now()) * 1e9 / (double(kCalls) * kChannels * kBlock));
        }
    }
    std::vector<double> out;
    for (auto& ti : t) {
        std::sort(ti.begin(), ti.end());
        out.push_back(ti[ti.size() / 2]);
    }
    return out;
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
    std::vector<const BankKernelTable*> levels = {&halvo::kernels::bank_baseline};
#if defined(__x86_64__)
    if (halvo::port::has_x86_64_v3()) levels.push_back(&halvo::kernels::bank_x86_64_v3);
    if (halvo::kernels::has_x86_64_v4()) levels.push_back(&halvo::kernels::bank_x86_64_v4);
#endif
    std::vector<halvo::radio::Bank<C>> banks(levels.size(), halvo::radio::Bank<C>{std::vector<C>(kChannels, fresh)});
    std::vector<std::function<void()>> variants;
    variants.push_back([&] {
        for (int k = 0; k < kChannels; ++k) (active.*single)(singles[k], in.data() + k * kBlock, out.data() + k * kBlock, kBlock);
    });
    for (std::size_t i = 0; i < levels.size(); ++i) {
        variants.push_back([&, i] { (levels[i]->*slot)(banks[i], in.data(), out.data(), in.size()); });
    }
    const std::vector<double> t = medians_ns_per_channel_sample(variants);
    std::printf("%-18s 16 single objects (%s)  %6.3f ns  %5.2f cycles per channel-sample\n", name, active.level, t[0],
                t[0] * g_ghz);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        std::printf("%-18s bank of 16, %-10s      %6.3f ns  %5.2f cycles per channel-sample  %5.2fx\n", name,
                    levels[i]->level, t[i + 1], t[i + 1] * g_ghz, t[0] / t[i + 1]);
    }
}

// The C library's cosf and sinf of one phase each per channel-sample: the
// bound of the FM and PM modulators, whose bits are those calls' (the phases
// as small as the FM modulator's here: cosf and sinf take longer for large
// ones).
void bench_libm() {
    std::mt19937 rng(2);
    std::vector<float> phi(kChannels * kBlock), c(phi.size()), s(phi.size());
    // The FmPhaseAccumMod bench's phases: its audio (normal, 0.5) times
    // 2 pi 5000 / 48000.
    std::normal_distribution<float> d(0.0f, 0.5f);
    for (float& p : phi) p = d(rng) * 0.6544985f;
    std::vector<std::function<void()>> variants = {[&] {
        for (std::size_t i = 0; i < phi.size(); ++i) {
            c[i] = std::cos(phi[i]);
            s[i] = std::sin(phi[i]);
        }
    }};
    const double t = medians_ns_per_channel_sample(variants)[0];
    std::printf("%-18s cosf + sinf alone                %6.3f ns  %5.2f cycles per channel-sample\n", "(C library)", t,
                t * g_ghz);
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
    bench_libm();
    bench("FmPhaseAccumMod", halvo::FmPhaseAccumMod::make(48000, 5000, 10000), &BankKernelTable::FmPhaseAccumModBank,
          &KernelTable::FmPhaseAccumMod);
    bench("PmDirectPhaseMod", halvo::PmDirectPhaseMod::make(48000, 1, -3000), &BankKernelTable::PmDirectPhaseModBank,
          &KernelTable::PmDirectPhaseMod);
    bench("SsbPhasingMod", halvo::SsbPhasingMod::make(48000, 1500, 1500, 10000, true),
          &BankKernelTable::SsbPhasingModBank, &KernelTable::SsbPhasingMod);
    return 0;
}
