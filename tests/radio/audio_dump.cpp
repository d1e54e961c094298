// Runs an audio-stage class over a raw input file for the NumPy model test
// (audio_model_check.py):
//   audio_dump deemphasis FS TAU_US IN OUT [CALL_SIZES...]
//   audio_dump preemphasis FS TAU_US IN OUT [CALL_SIZES...]
//   audio_dump squelch FS THRESHOLD_DB HYSTERESIS_DB ATTACK_MS RELEASE_MS AVERAGE_MS IN OUT [CALL_SIZES...]
//   audio_dump agc FS TARGET ATTACK_MS DECAY_MS MAX_GAIN_DB CEILING IN OUT [CALL_SIZES...]
// IN holds float32 samples (complex64 for the squelch), OUT gets the outputs
// joined. The sample loops are the x86-64-v3 build where the CPU has it,
// else the baseline one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "radio/audio/agc.hpp"
#include "radio/audio/emphasis.hpp"
#include "radio/audio/squelch.hpp"
#include "radio/receiver.hpp"

using halvo::cf32;
using namespace halvo::audio;
using halvo::radio::Receiver;

#define HALVO_DECLARE_LEVELS(name, T, S, O)               \
    void name##_baseline(T&, const S*, O*, std::size_t); \
    void name##_v3(T&, const S*, O*, std::size_t);
HALVO_DECLARE_LEVELS(deemphasis_process, Deemphasis, float, float)
HALVO_DECLARE_LEVELS(preemphasis_process, Preemphasis, float, float)
HALVO_DECLARE_LEVELS(squelch_process, PowerSquelch, cf32, cf32)
HALVO_DECLARE_LEVELS(agc_process, Agc, float, float)
HALVO_DECLARE_LEVELS(receiver_process, Receiver, cf32, float)
#if defined(__x86_64__)
#define HALVO_PICK(name) (v3() ? name##_v3 : name##_baseline)
#else
#define HALVO_PICK(name) name##_baseline
#endif

namespace {

[[maybe_unused]] bool v3() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

template <class S>
std::vector<S> read_all(const char* path) {
    std::vector<S> x;
    FILE* f = std::fopen(path, "rb");
    if (!f) std::exit(2);
    S s;
    while (std::fread(&s, sizeof s, 1, f) == 1) x.push_back(s);
    std::fclose(f);
    return x;
}

template <class T, class S, class O, class Fn>
int run(T obj, Fn fn, char** argv, int argc, int first_size) {
    const std::vector<S> x = read_all<S>(argv[0]);
    std::vector<O> y(x.size());
    std::size_t at = 0;
    for (int i = first_size; i < argc && at < x.size(); ++i) {
        std::size_t n = std::strtoull(argv[i], nullptr, 10);
        if (n > x.size() - at) n = x.size() - at;
        fn(obj, x.data() + at, y.data() + at, n);
        at += n;
    }
    fn(obj, x.data() + at, y.data() + at, x.size() - at);
    FILE* f = std::fopen(argv[1], "wb");
    if (!f) return 2;
    std::fwrite(y.data(), sizeof(O), y.size(), f);
    std::fclose(f);
    return 0;
}

double num(const char* s) { return std::strtod(s, nullptr); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string what = argv[1];
    if (what == "deemphasis" && argc >= 6)
        return run<Deemphasis, float, float>(Deemphasis::make(num(argv[2]), num(argv[3])), HALVO_PICK(deemphasis_process),
                                             argv + 4, argc - 4, 2);
    if (what == "preemphasis" && argc >= 6)
        return run<Preemphasis, float, float>(Preemphasis::make(num(argv[2]), num(argv[3])),
                                              HALVO_PICK(preemphasis_process), argv + 4, argc - 4, 2);
    if (what == "squelch" && argc >= 10)
        return run<PowerSquelch, cf32, cf32>(
            PowerSquelch::make(num(argv[2]), num(argv[3]), num(argv[4]), num(argv[5]), num(argv[6]), num(argv[7])),
            HALVO_PICK(squelch_process), argv + 8, argc - 8, 2);
    if (what == "agc" && argc >= 10)
        return run<Agc, float, float>(
            Agc::make(num(argv[2]), num(argv[3]), num(argv[4]), num(argv[5]), num(argv[6]), num(argv[7])),
            HALVO_PICK(agc_process), argv + 8, argc - 8, 2);
    return 2;
}
