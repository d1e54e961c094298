// The scanner's receiver bank in C++ alone, for a profiler: 64 NBFM channels
// 25 kHz apart out of a 1.6 MS/s capture, squelch -40 dB, 48 kHz audio, the
// capture read from a raw complex64 file (benchmarks/receiver_bank_peers.py's
// capture: noise at -40 dB of full scale plus carriers on 8 channels).
//
//   g++ -std=c++20 -O2 -g -march=x86-64-v4 -ffp-contract=off -fno-fast-math -fno-math-errno \
//       -ftree-loop-vectorize -fno-tree-slp-vectorize -fno-trapping-math \
//       -Isrc benchmarks/receiver_bank_profile.cpp -o /tmp/rbprof
//   perf record -g /tmp/rbprof capture.c64 [passes] [audio_fs]
//
// Prints the thread's CPU time per pass over the capture and the real-time
// factor (capture seconds per CPU second).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "radio/receiver_bank.hpp"

namespace {
struct Isa {};
double thread_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int passes = argc > 2 ? std::atoi(argv[2]) : 5;
    const double audio_fs = argc > 3 ? std::atof(argv[3]) : 48000.0;
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) return 1;
    std::vector<halvo::cf32> x;
    halvo::cf32 buf[4096];
    for (std::size_t got; (got = std::fread(buf, sizeof(halvo::cf32), 4096, f)) > 0;) x.insert(x.end(), buf, buf + got);
    std::fclose(f);
    const double fs = 1.6e6;
    using halvo::radio::ReceiverBank;
    const std::size_t block = 16384;
    for (int p = 0; p < passes; ++p) {
        ReceiverBank rb = ReceiverBank::make(4, fs, 64, audio_fs, NAN, NAN, NAN, false, 700.0, 70.0);
        for (int k = 0; k < 64; ++k) rb.add_channel(k, (k - 32) * 25000.0, -40.0);
        std::vector<float> out(64 * (rb.output_count(block) + 2));
        std::size_t subnormal = 0, zero = 0, total = 0;
        const double t0 = thread_s();
        for (std::size_t i = 0; i < x.size(); i += block) {
            const std::size_t n = x.size() - i < block ? x.size() - i : block;
            const std::size_t made = 64 * rb.output_count(n);
            rb.process<Isa>(x.data() + i, out.data(), n);
            for (std::size_t j = 0; j < made; ++j) {
                subnormal += std::fpclassify(out[j]) == FP_SUBNORMAL;
                zero += out[j] == 0.0f;
            }
            total += made;
        }
        const double t = thread_s() - t0;
        std::printf("audio samples: %zu, %zu subnormal, %zu zero\n", total, subnormal, zero);
        std::printf("pass %d: %.3f s CPU for %.3f s of capture, %.1fx real time, %.1f ns per input sample\n", p, t,
                    static_cast<double>(x.size()) / fs, static_cast<double>(x.size()) / fs / t,
                    1e9 * t / static_cast<double>(x.size()));
    }
    return 0;
}
