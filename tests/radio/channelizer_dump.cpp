// Runs a Channelizer over a raw complex64 file for the NumPy model test
// (model_check.py): channelizer_dump M OVERSAMPLE STOPBAND_DB IN OUT TAPS
// [CALL_SIZES...]. OUT gets the outputs joined along time, channel-major
// (M rows); TAPS the prototype as float32. The sample loop is the x86-64-v3
// build where the CPU has it, else the baseline one.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "radio/channelizer.hpp"

using halvo::cf32;
using halvo::Channelizer;
void channelizer_process_baseline(Channelizer&, const cf32*, cf32*, std::size_t);
#if defined(__x86_64__)
void channelizer_process_v3(Channelizer&, const cf32*, cf32*, std::size_t);
#endif

int main(int argc, char** argv) {
    if (argc < 7) return 2;
    Channelizer c = Channelizer::make(1.0, std::atoi(argv[1]), std::atoi(argv[2]), std::atof(argv[3]));
    FILE* f = std::fopen(argv[4], "rb");
    if (!f) return 1;
    std::vector<cf32> x;
    cf32 s;
    while (std::fread(&s, sizeof s, 1, f) == 1) x.push_back(s);
    std::fclose(f);
    auto fn = channelizer_process_baseline;
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) fn = channelizer_process_v3;
#endif
    std::vector<std::size_t> sizes;
    for (int i = 7; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizes.empty()) sizes.push_back(x.size());
    std::vector<std::vector<cf32>> rows(static_cast<std::size_t>(c.m));
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        if (at + n > x.size()) return 3;
        const std::size_t frames = c.output_count(n);
        std::vector<cf32> out(static_cast<std::size_t>(c.m) * frames);
        fn(c, x.data() + at, out.data(), n);
        at += n;
        for (std::size_t k = 0; k < rows.size(); ++k) rows[k].insert(rows[k].end(), out.begin() + k * frames, out.begin() + (k + 1) * frames);
    }
    FILE* o = std::fopen(argv[5], "wb");
    for (const auto& r : rows) std::fwrite(r.data(), sizeof(cf32), r.size(), o);
    std::fclose(o);
    FILE* t = std::fopen(argv[6], "wb");
    std::fwrite(c.taps.data(), sizeof(float), c.taps.size(), t);
    std::fclose(t);
    return 0;
}
