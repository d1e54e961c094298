// Runs a front-end class over a raw input file for the NumPy model test
// (frontend_model_check.py):
//   frontend_dump selector FS OFFSET DECIMATION BANDWIDTH RETUNE_AT RETUNE_HZ IN OUT TAPS [CALL_SIZES...]
//   frontend_dump resampler FS_IN FS_OUT c|r IN OUT TAPS [CALL_SIZES...]
//   frontend_dump upconverter FS INTERPOLATION OFFSET BANDWIDTH RETUNE_AT RETUNE_HZ IN OUT TAPS [CALL_SIZES...]
//   frontend_dump lowpass FS PASS STOP DB TAPS
// IN holds complex64 samples (float32 for a real resampler), OUT gets the
// outputs joined, TAPS the prototype as float32. RETUNE_AT (an input sample
// index, -1 for none) must fall on a call boundary. The sample loops are the
// x86-64-v3 build where the CPU has it, else the baseline one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "radio/frontend/channel_selector.hpp"
#include "radio/frontend/resampler.hpp"
#include "radio/frontend/upconverter.hpp"

using halvo::cf32;
using namespace halvo::frontend;

#define HALVO_DECLARE_LEVELS(name, T, S)                    \
    void name##_baseline(T&, const S*, S*, std::size_t); \
    void name##_v3(T&, const S*, S*, std::size_t);
HALVO_DECLARE_LEVELS(selector_process, ChannelSelector, cf32)
HALVO_DECLARE_LEVELS(resampler_process, Resampler, cf32)
HALVO_DECLARE_LEVELS(real_resampler_process, RealResampler, float)
HALVO_DECLARE_LEVELS(upconverter_process, Upconverter, cf32)
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
    if (!f) std::exit(1);
    S s;
    while (std::fread(&s, sizeof s, 1, f) == 1) x.push_back(s);
    std::fclose(f);
    return x;
}

template <class S>
void write_all(const char* path, const std::vector<S>& y) {
    FILE* f = std::fopen(path, "wb");
    if (!f) std::exit(1);
    std::fwrite(y.data(), sizeof(S), y.size(), f);
    std::fclose(f);
}

std::vector<float> taps_of(const PolyphaseFir& fir) {
    // The prototype back from the phases: h[p + i*l] = g[p*k + k-1-i].
    std::vector<float> h(fir.n_taps);
    for (std::size_t t = 0; t < fir.n_taps; ++t) {
        const std::size_t p = t % static_cast<std::size_t>(fir.l), i = t / static_cast<std::size_t>(fir.l);
        h[t] = fir.g[p * fir.k + fir.k - 1 - i];
    }
    return h;
}

// TAPS: the first stage's decimation d1 and tap count n1 (as floats), its
// taps, then the (last) stage's taps; d1 = 1, n1 = 0 for one stage.
template <bool C>
std::vector<float> chain_taps(const FirChain<C>& c) {
    std::vector<float> out{static_cast<float>(c.d1), c.d1 == 1 ? 0.0f : static_cast<float>(c.first.n_taps)};
    if (c.d1 > 1) {
        const std::vector<float> h1 = taps_of(c.first);
        out.insert(out.end(), h1.begin(), h1.end());
    }
    const std::vector<float> h2 = taps_of(c.second);
    out.insert(out.end(), h2.begin(), h2.end());
    return out;
}

std::vector<float> chain_taps(const PolyphaseFir& f) {
    std::vector<float> out{1.0f, 0.0f};
    const std::vector<float> h = taps_of(f);
    out.insert(out.end(), h.begin(), h.end());
    return out;
}

template <class T, class S, class Retune>
int run(T c, void (*fn)(T&, const S*, S*, std::size_t), char** files, int argc_rest, char** sizes_arg, long retune_at, Retune retune) {
    const std::vector<S> x = read_all<S>(files[0]);
    std::vector<std::size_t> sizes;
    for (int i = 0; i < argc_rest; ++i) sizes.push_back(std::strtoull(sizes_arg[i], nullptr, 10));
    if (sizes.empty()) sizes.push_back(x.size());
    std::vector<S> y;
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        if (at + n > x.size()) return 3;
        if (retune_at >= 0 && at == static_cast<std::size_t>(retune_at)) retune(c);
        std::vector<S> out(c.output_count(n));
        fn(c, x.data() + at, out.data(), n);
        y.insert(y.end(), out.begin(), out.end());
        at += n;
    }
    write_all(files[1], y);
    write_all(files[2], chain_taps(c.fir));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string kind = argv[1];
    auto d = [&](int i) { return std::atof(argv[i]); };
    if (kind == "lowpass" && argc == 7) {
        write_all(argv[6], lowpass_taps(d(2), d(3), d(4), d(5)));
        return 0;
    }
    if (kind == "selector" && argc >= 11) {
        const double hz = d(7);
        return run(ChannelSelector::make(d(2), d(3), std::atoi(argv[4]), d(5)), HALVO_PICK(selector_process),
                   argv + 8, argc - 11, argv + 11, std::atol(argv[6]), [&](ChannelSelector& c) { c.set_offset(hz); });
    }
    if (kind == "upconverter" && argc >= 11) {
        const double hz = d(7);
        return run(Upconverter::make(d(2), std::atoi(argv[3]), d(4), d(5)), HALVO_PICK(upconverter_process),
                   argv + 8, argc - 11, argv + 11, std::atol(argv[6]), [&](Upconverter& c) { c.set_offset(hz); });
    }
    if (kind == "resampler" && argc >= 8) {
        if (argv[4][0] == 'c')
            return run(Resampler::make(d(2), d(3)), HALVO_PICK(resampler_process), argv + 5, argc - 8,
                       argv + 8, -1, [](Resampler&) {});
        return run(RealResampler::make(d(2), d(3)), HALVO_PICK(real_resampler_process), argv + 5,
                   argc - 8, argv + 8, -1, [](RealResampler&) {});
    }
    return 2;
}
