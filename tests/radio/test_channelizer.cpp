// Channelizer: every instruction-set level against a plain per-frame
// reference (bits), any split of a stream against one call (bits), the
// response to tones against the mask (pass band, stop band and its aliases),
// the constructor's checks, and the receiver bank on top of it on every level.
#include <cmath>
#include <complex>
#include <numbers>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "harness.hpp"
#include "radio/channelizer.hpp"
#include "radio/receiver_bank.hpp"

using halvo::cf32;
using halvo::Channelizer;

using ProcessFn = void (*)(Channelizer&, const cf32*, cf32*, std::size_t);
void channelizer_process_baseline(Channelizer&, const cf32*, cf32*, std::size_t);
using BankFn = void (*)(halvo::radio::ReceiverBank&, const cf32*, float*, std::size_t);
void receiver_bank_process_baseline(halvo::radio::ReceiverBank&, const cf32*, float*, std::size_t);
#if defined(__x86_64__)
void channelizer_process_v3(Channelizer&, const cf32*, cf32*, std::size_t);
void channelizer_process_v4(Channelizer&, const cf32*, cf32*, std::size_t);
void receiver_bank_process_v3(halvo::radio::ReceiverBank&, const cf32*, float*, std::size_t);
void receiver_bank_process_v4(halvo::radio::ReceiverBank&, const cf32*, float*, std::size_t);
#endif

namespace {

struct Level {
    const char* name;
    ProcessFn fn;
};

std::vector<Level> levels() {
    std::vector<Level> out{{"baseline", channelizer_process_baseline}};
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) out.push_back({"x86-64-v3", channelizer_process_v3});
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq"))
        out.push_back({"x86-64-v4", channelizer_process_v4});
#endif
    return out;
}

// The bank written out frame by frame from its definition: branch sums
// straight from the input (zero before the stream), the FFT, the sign.
// Returns channel-major frames: y[k * frames + m].
std::vector<cf32> reference(const Channelizer& c, const std::vector<cf32>& x) {
    const std::size_t frames = x.size() / static_cast<std::size_t>(c.r);
    std::vector<cf32> y(static_cast<std::size_t>(c.m) * frames);
    std::vector<float> zr(static_cast<std::size_t>(c.m)), zi(static_cast<std::size_t>(c.m));
    for (std::size_t f = 0; f < frames; ++f) {
        const long t = static_cast<long>((f + 1) * c.r) - 1;
        for (int b = 0; b < c.m; ++b) {
            float ur = 0.0f, ui = 0.0f;
            for (int q = 0; q < c.p; ++q) {
                const long idx = t - b - static_cast<long>(q) * c.m;
                const float h = c.taps[static_cast<std::size_t>(q * c.m + b)];
                const cf32 s = idx >= 0 ? x[static_cast<std::size_t>(idx)] : cf32{0.0f, 0.0f};
                ur = halvo::fma32(h, s.re, ur);
                ui = halvo::fma32(h, s.im, ui);
            }
            zr[static_cast<std::size_t>(halvo::bit_reverse(b, c.log2m))] = ur;
            zi[static_cast<std::size_t>(halvo::bit_reverse(b, c.log2m))] = ui;
        }
        halvo::fft_inverse(c.m, c.wr.data(), c.wi.data(), zr.data(), zi.data());
        for (int k = 0; k < c.m; ++k) {
            const bool flip = c.stride == 2 && (k & 1) && ((f + 1) & 1);
            const std::size_t kk = static_cast<std::size_t>(k);
            y[kk * frames + f] = flip ? cf32{-zr[kk], -zi[kk]} : cf32{zr[kk], zi[kk]};
        }
    }
    halvo::simd::canonicalise_nans<struct ReferenceIsa>(&y.data()->re, 2 * y.size());
    return y;
}

std::vector<cf32> noise(std::size_t n, std::uint64_t seed) {
    halvo_test::Rng rng(seed);
    std::vector<cf32> x(n);
    for (cf32& s : x) s = cf32{rng.uniform(-1.0, 1.0), rng.uniform(-1.0, 1.0)};
    // NaNs of both signs and two payloads, and infinities, now and then:
    // they must reach the same outputs on every level (and every other
    // output keep its bits).
    for (std::size_t i = 97; i < n; i += 389) {
        x[i].re = std::bit_cast<float>(static_cast<std::uint32_t>(0x7FC01234u | (i & 1u) << 31));
        x[i + 1 < n ? i + 1 : i].im = std::bit_cast<float>(0xFFC56789u);
        x[(i + 200) % n].re = (i & 2u) ? INFINITY : -INFINITY;
    }
    return x;
}

// Runs x through c in calls of the given sizes (their sum is x.size());
// returns the outputs joined along time, channel-major.
std::vector<cf32> run_split(Channelizer& c, ProcessFn fn, const std::vector<cf32>& x, const std::vector<std::size_t>& sizes) {
    std::vector<std::vector<cf32>> rows(static_cast<std::size_t>(c.m));
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        const std::size_t frames = c.output_count(n);
        std::vector<cf32> out(static_cast<std::size_t>(c.m) * frames, cf32{12345.0f, 12345.0f});
        fn(c, x.data() + at, out.data(), n);
        at += n;
        for (int k = 0; k < c.m; ++k)
            for (std::size_t i = 0; i < frames; ++i) rows[static_cast<std::size_t>(k)].push_back(out[static_cast<std::size_t>(k) * frames + i]);
    }
    std::vector<cf32> y;
    for (auto& r : rows) y.insert(y.end(), r.begin(), r.end());
    return y;
}

// Equal bits, NaNs included: the bank writes every NaN as the one quiet NaN,
// so sign and payload must match too.
bool same_bits(const std::vector<cf32>& a, const std::vector<cf32>& b, std::size_t* where) {
    if (a.size() != b.size()) {
        *where = static_cast<std::size_t>(-1);
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (halvo_test::bits(a[i].re) != halvo_test::bits(b[i].re) ||
            halvo_test::bits(a[i].im) != halvo_test::bits(b[i].im)) {
            *where = i;
            return false;
        }
    }
    return true;
}

struct Shape {
    int m;
    int oversample;
    double stopband_db;
};
// Small banks show indexing faults in few frames; 64 channels is the size
// the bank is tuned for.
const Shape kShapes[] = {{2, 1, 40.0}, {2, 2, 40.0}, {8, 1, 70.0}, {8, 2, 60.0}, {64, 1, 70.0}, {64, 2, 70.0}, {16, 1, 100.0}};

}  // namespace

TEST(every_level_matches_the_reference_bits_in_one_call_and_in_random_splits) {
    for (const Shape& sh : kShapes) {
        const Channelizer proto = Channelizer::make(1e6, sh.m, sh.oversample, sh.stopband_db);
        // Enough frames for several chunks, ending inside a frame.
        const std::size_t n = static_cast<std::size_t>(proto.r) * 150 + static_cast<std::size_t>(proto.r) / 2 + 1;
        const std::vector<cf32> x = noise(n, 7 + static_cast<std::uint64_t>(sh.m));
        const std::vector<cf32> want = reference(proto, x);
        for (const Level& lv : levels()) {
            halvo_test::info("M=%d oversample=%d %s, one call", sh.m, sh.oversample, lv.name);
            Channelizer c = proto;
            std::size_t at = 0;
            CHECK(same_bits(run_split(c, lv.fn, x, {n}), want, &at));
            halvo_test::Rng rng(99 + static_cast<std::uint64_t>(sh.m * 3 + sh.oversample));
            for (int trial = 0; trial < 4; ++trial) {
                // Sizes from 0 to a few frames: splits inside frames, empty
                // calls, calls that complete several chunks.
                std::vector<std::size_t> sizes;
                std::size_t left = n;
                const std::size_t most = static_cast<std::size_t>(proto.r) * (trial == 3 ? 70 : 3) + 2;
                while (left > 0) {
                    std::size_t s = static_cast<std::size_t>(rng.next() % (most + 1));
                    if (s > left) s = left;
                    sizes.push_back(s);
                    left -= s;
                }
                halvo_test::info("M=%d oversample=%d %s, split trial %d (%zu calls)", sh.m, sh.oversample, lv.name, trial, sizes.size());
                Channelizer d = proto;
                CHECK(same_bits(run_split(d, lv.fn, x, sizes), want, &at));
            }
        }
    }
}

// A tone at channel k's centre plus an offset f (in channel spacings) comes
// out of channel k at amplitude |H(f)|: within the ripple in the pass band,
// at least stopband_db down from the stopband edge on, including offsets
// beyond the output rate, which alias into the channel.
TEST(tone_response_keeps_the_mask) {
    for (const Shape& sh : kShapes) {
        const double fs = 1.0;
        Channelizer c = Channelizer::make(fs, sh.m, sh.oversample, sh.stopband_db);
        const halvo::ChannelizerEdges e = halvo::kChannelizerEdges[sh.oversample - 1];
        const std::size_t frames = static_cast<std::size_t>(c.p * c.stride) + 40;
        const std::size_t n = frames * static_cast<std::size_t>(c.r);
        const double floor_amp = std::pow(10.0, -sh.stopband_db / 20.0);
        const double ripple_db = 20.0 * std::log10(1.0 + 2.0 * floor_amp) + 1e-4;
        halvo_test::Rng rng(5);
        double worst_pass = 0.0, worst_stop = 0.0;
        // Offsets: every 0.01 spacing out to +-2.5 spacings (pass band, both
        // edges, the first aliases), then 200 over the whole band.
        std::vector<double> offsets;
        for (int s = -250; s <= 250; ++s) offsets.push_back(0.01 * s + 1e-4);
        for (int s = 0; s < 200; ++s) offsets.push_back(-0.5 * sh.m + sh.m * (s + 0.5) / 200.0);
        for (const double off : offsets) {
            // The input's band wraps every M spacings.
            const double wrapped = off - sh.m * std::nearbyint(off / sh.m);
            const bool pass = std::fabs(wrapped) <= e.pass;
            const bool stop = std::fabs(wrapped) >= e.stop;
            if (!pass && !stop) continue;
            const int k = static_cast<int>(rng.next() % static_cast<std::uint64_t>(sh.m));
            const double f = (k + off) / sh.m;  // cycles per sample
            std::vector<cf32> x(n);
            for (std::size_t i = 0; i < n; ++i) {
                const double ph = 2.0 * std::numbers::pi * std::fmod(f * static_cast<double>(i), 1.0);
                x[i] = cf32{static_cast<float>(std::cos(ph)), static_cast<float>(std::sin(ph))};
            }
            Channelizer d = c;
            std::vector<cf32> y(static_cast<std::size_t>(c.m) * frames);
            channelizer_process_baseline(d, x.data(), y.data(), n);
            double peak = 0.0;
            for (std::size_t i = static_cast<std::size_t>(c.p * c.stride); i < frames; ++i) {
                const cf32 v = y[static_cast<std::size_t>(k) * frames + i];
                peak = std::fmax(peak, std::hypot(static_cast<double>(v.re), static_cast<double>(v.im)));
            }
            halvo_test::info("M=%d oversample=%d A=%g: channel %d, offset %.4f spacings, amplitude %.3g", sh.m, sh.oversample,
                             sh.stopband_db, k, off, peak);
            if (pass) {
                const double db = std::fabs(20.0 * std::log10(peak));
                worst_pass = std::fmax(worst_pass, db);
                CHECK(db <= ripple_db);
            } else {
                worst_stop = std::fmax(worst_stop, peak);
                CHECK(peak <= floor_amp);
            }
        }
        std::printf("  M=%d oversample=%d A=%g: %d taps per branch, pass-band deviation %.2g dB, stop band %.1f dB\n", sh.m,
                    sh.oversample, sh.stopband_db, c.p, worst_pass, -20.0 * std::log10(worst_stop));
    }
}

TEST(invalid_parameters_name_the_parameter_the_value_and_the_range) {
    struct Bad {
        double fs;
        int m;
        int oversample;
        double db;
        const char* text;
    };
    const Bad cases[] = {
        {1e6, 1, 1, 70.0, "n_channels must be a power of two from 2 to 4096, got 1"},
        {1e6, 48, 1, 70.0, "n_channels must be a power of two from 2 to 4096, got 48"},
        {1e6, 8192, 1, 70.0, "n_channels must be a power of two from 2 to 4096, got 8192"},
        {1e6, 64, 3, 70.0, "oversample must be 1 or 2, got 3"},
        {1e6, 64, 0, 70.0, "oversample must be 1 or 2, got 0"},
        {1e6, 64, 1, 10.0, "stopband_db must be from 20 to 140, got 10"},
        {1e6, 64, 1, NAN, "stopband_db must be from 20 to 140, got nan"},
        {0.0, 64, 1, 70.0, "fs must be finite and > 0, got 0"},
        {INFINITY, 64, 1, 70.0, "fs must be finite and > 0, got inf"},
    };
    for (const Bad& b : cases) {
        std::string what = "(no exception)";
        try {
            Channelizer::make(b.fs, b.m, b.oversample, b.db);
        } catch (const std::invalid_argument& e) {
            what = e.what();
        }
        halvo_test::info("want \"%s\", got \"%s\"", b.text, what.c_str());
        CHECK(what == b.text);
    }
}

// The receiver bank: every level gives the baseline's bits, in one call and
// in random splits (five NBFM channels on and off the channelizer's grid,
// the squelch open on some and shut on others).
TEST(receiver_bank_has_the_same_bits_on_every_level_and_for_any_split) {
    using halvo::radio::ReceiverBank;
    std::vector<std::pair<const char*, BankFn>> fns{{"baseline", receiver_bank_process_baseline}};
#if defined(__x86_64__)
    for (const Level& lv : levels()) {
        if (std::string(lv.name) == "x86-64-v3") fns.push_back({lv.name, receiver_bank_process_v3});
        if (std::string(lv.name) == "x86-64-v4") fns.push_back({lv.name, receiver_bank_process_v4});
    }
#endif
    ReceiverBank proto = ReceiverBank::make(4, 400e3, 16, 48000.0, NAN, NAN, NAN, false, 700.0, 70.0);
    const double offsets[] = {0.0, 26500.0, -100e3, 175e3, -175e3};
    const double squelch[] = {-30.0, NAN, -30.0, -30.0, NAN};
    for (int k = 0; k < 5; ++k) proto.add_channel(k, offsets[k], squelch[k]);
    const std::size_t n = 32007;
    halvo_test::Rng rng(5);
    std::vector<cf32> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 400e3;
        const std::complex<double> v = 0.3 * std::polar(1.0, 2.0 * std::numbers::pi * 26800.0 * t) +
                                       0.2 * std::polar(1.0, 2.0 * std::numbers::pi * (-99e3) * t + 3.0 * std::sin(2.0 * std::numbers::pi * 700.0 * t));
        x[i] = cf32{static_cast<float>(v.real() + rng.uniform(-0.01, 0.01)), static_cast<float>(v.imag() + rng.uniform(-0.01, 0.01))};
    }
    const auto run = [&](BankFn fn, const std::vector<std::size_t>& sizes) {
        ReceiverBank b = proto;
        std::vector<std::vector<float>> rows(5);
        std::size_t at = 0;
        for (std::size_t len : sizes) {
            const std::size_t count = b.output_count(len);
            std::vector<float> out(5 * count, 12345.0f);
            fn(b, x.data() + at, out.data(), len);
            at += len;
            for (std::size_t k = 0; k < 5; ++k) rows[k].insert(rows[k].end(), out.begin() + k * count, out.begin() + (k + 1) * count);
        }
        return rows;
    };
    const auto want = run(receiver_bank_process_baseline, {n});
    CHECK(want[0].size() > 3000);
    bool some_shut = false, some_sound = false;
    for (const auto& r : want) {
        float peak = 0.0f;
        for (float v : r) peak = std::fmax(peak, std::fabs(v));
        some_shut |= peak < 1e-30f;
        some_sound |= peak > 0.1f;
    }
    CHECK(some_shut && some_sound);
    for (const auto& [name, fn] : fns) {
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<std::size_t> sizes;
            std::size_t left = n;
            while (left > 0) {
                std::size_t len = trial == 0 ? left : static_cast<std::size_t>(rng.next() % (trial == 1 ? 40 : 9000));
                if (len > left) len = left;
                sizes.push_back(len);
                left -= len;
            }
            halvo_test::info("receiver bank %s, trial %d (%zu calls)", name, trial, sizes.size());
            const auto got = run(fn, sizes);
            bool same = true;
            for (std::size_t k = 0; k < 5; ++k) {
                same &= got[k].size() == want[k].size();
                for (std::size_t i = 0; same && i < got[k].size(); ++i) same = halvo_test::bits(got[k][i]) == halvo_test::bits(want[k][i]);
            }
            CHECK(same);
        }
    }
}

int main() { return halvo_test::run_all(); }
