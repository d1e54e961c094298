// The audio stage (Deemphasis, Preemphasis, PowerSquelch, Agc) and the
// Receiver: every instruction-set level against the baseline (bits), random
// splits of a stream against one call (bits), what each class does to a
// signal, the receiver's audio per mode, and the constructors' refusals.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.hpp"
#include "radio/audio/agc.hpp"
#include "radio/audio/emphasis.hpp"
#include "radio/audio/squelch.hpp"
#include "radio/receiver.hpp"
#include "radio/transmitter.hpp"

using halvo::cf32;
using halvo::audio::Agc;
using halvo::audio::Deemphasis;
using halvo::audio::PowerSquelch;
using halvo::audio::Preemphasis;
using halvo::radio::Receiver;
using halvo::radio::Transmitter;

#define HALVO_DECLARE_LEVELS(name, T, S, O)                  \
    void name##_baseline(T&, const S*, O*, std::size_t);    \
    void name##_v3(T&, const S*, O*, std::size_t);          \
    void name##_v4(T&, const S*, O*, std::size_t);
HALVO_DECLARE_LEVELS(deemphasis_process, Deemphasis, float, float)
HALVO_DECLARE_LEVELS(preemphasis_process, Preemphasis, float, float)
HALVO_DECLARE_LEVELS(squelch_process, PowerSquelch, cf32, cf32)
HALVO_DECLARE_LEVELS(agc_process, Agc, float, float)
HALVO_DECLARE_LEVELS(receiver_process, Receiver, cf32, float)
HALVO_DECLARE_LEVELS(transmitter_process, Transmitter, float, cf32)

namespace {

constexpr double kPi = std::numbers::pi;

template <class T, class S, class O>
using Fn = void (*)(T&, const S*, O*, std::size_t);

[[maybe_unused]] bool has_v3() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
[[maybe_unused]] bool has_v4() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
#else
    return false;
#endif
}

#if defined(__x86_64__)
#define LEVELS(name, T, S, O)                                                     \
    [] {                                                                          \
        std::vector<std::pair<const char*, Fn<T, S, O>>> out{{"baseline", name##_baseline}}; \
        if (has_v3()) out.push_back({"x86-64-v3", name##_v3});                    \
        if (has_v4()) out.push_back({"x86-64-v4", name##_v4});                    \
        return out;                                                               \
    }()
#else
#define LEVELS(name, T, S, O) std::vector<std::pair<const char*, Fn<T, S, O>>>{{"baseline", name##_baseline}}
#endif

// Runs obj over x in blocks of the given sizes (the rest in one last block).
template <class T, class S, class O>
std::vector<O> run(T obj, Fn<T, S, O> fn, const std::vector<S>& x, const std::vector<std::size_t>& sizes = {}) {
    std::vector<O> y;
    std::size_t at = 0;
    auto block = [&](std::size_t n) {
        std::size_t count = n;
        if constexpr (requires { obj.output_count(n); }) count = obj.output_count(n);
        std::vector<O> o(count + 1);
        fn(obj, x.data() + at, o.data(), n);
        y.insert(y.end(), o.begin(), o.begin() + static_cast<long>(count));
        at += n;
    };
    for (std::size_t n : sizes) {
        if (at + n > x.size()) break;
        block(n);
    }
    block(x.size() - at);
    return y;
}

bool same_bits(const void* a, const void* b, std::size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

template <class O>
bool same_bits(const std::vector<O>& a, const std::vector<O>& b) {
    return a.size() == b.size() && same_bits(a.data(), b.data(), a.size() * sizeof(O));
}

// Random block sizes: zeros, ones, short and long blocks.
std::vector<std::size_t> random_split(std::uint64_t seed, std::size_t total) {
    halvo_test::Rng rng(seed);
    std::vector<std::size_t> s;
    std::size_t sum = 0;
    while (sum < total) {
        const std::uint64_t r = rng.next();
        std::size_t n = (r % 4 == 0) ? r % 3 : (r % 4 == 1) ? 1 + (r >> 8) % 17 : (r >> 8) % 9000;
        s.push_back(n);
        sum += n;
    }
    return s;
}

std::vector<float> real_noise(std::size_t n, std::uint64_t seed, double amp = 1.0) {
    halvo_test::Rng rng(seed);
    std::vector<float> x(n);
    for (float& v : x) v = rng.uniform(-amp, amp);
    return x;
}

std::vector<cf32> complex_noise(std::size_t n, std::uint64_t seed, double amp = 1.0) {
    halvo_test::Rng rng(seed);
    std::vector<cf32> x(n);
    for (cf32& v : x) v = cf32{rng.uniform(-amp, amp), rng.uniform(-amp, amp)};
    return x;
}

// The amplitude of a tone at f in y (least squares over y[from..]) and the
// ratio in dB of its power to the power of what is left.
struct ToneFit {
    double amplitude;
    double snr_db;
};
ToneFit fit_tone(const std::vector<float>& y, double f, double fs, std::size_t from) {
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (std::size_t i = from; i < y.size(); ++i) {
        const double a = 2 * kPi * f * static_cast<double>(i) / fs;
        const double c = std::cos(a), s = std::sin(a);
        cc += c * c, ss += s * s, cs += c * s, yc += y[i] * c, ys += y[i] * s;
    }
    const double det = cc * ss - cs * cs;
    const double A = (yc * ss - ys * cs) / det, B = (ys * cc - yc * cs) / det;
    double sig = 0, res = 0;
    for (std::size_t i = from; i < y.size(); ++i) {
        const double a = 2 * kPi * f * static_cast<double>(i) / fs;
        const double m = A * std::cos(a) + B * std::sin(a);
        sig += m * m;
        res += (y[i] - m) * (y[i] - m);
    }
    return {std::hypot(A, B), 10 * std::log10(sig / res)};
}

}  // namespace

// ---------------------------------------------------------------- levels and splits

// Silence after a signal holds the de-emphasis pole a few units of 2^-149
// from zero for good; from there every level runs the guarded steps. Each
// level, in one call and in random blocks, against the plain loop; the
// loop's state must end subnormal, or the case would not reach the guard.
TEST(deemphasis_silence_after_a_signal) {
    std::vector<float> x(30000, 0.0f);
    const std::vector<float> burst = real_noise(500, 5, 0.5);
    std::copy(burst.begin(), burst.end(), x.begin());
    const Deemphasis d = Deemphasis::make(48000.0, 75.0);
    std::vector<float> want(x.size());
    float y = 0.0f;
    for (std::size_t i = 0; i < x.size(); ++i) want[i] = y = halvo::fma32(d.a, y, d.b * x[i]);
    CHECK(y != 0.0f && std::fabs(y) < 0x1p-126f);
    for (auto [name, fn] : LEVELS(deemphasis_process, Deemphasis, float, float)) {
        INFO("deemphasis level %s", name);
        CHECK(same_bits(run(d, fn, x), want));
        CHECK(same_bits(run(d, fn, x, random_split(21, x.size())), want));
    }
}

// A signal fading out through the range where its square is subnormal and
// into silence: the AGC runs guarded steps there. Each level, in one call
// and in random blocks, against the plain loop of its step.
TEST(agc_fading_signal) {
    std::vector<float> x = real_noise(40000, 6, 0.5);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] *= std::pow(0.995f, static_cast<float>(i));  // 2^-63 near i = 8700
    std::fill(x.begin() + 30000, x.end(), 0.0f);
    const Agc g = Agc::make(48000.0, 0.5, 10.0, 300.0, 60.0);
    std::vector<float> want(x.size());
    Agc plain = g;
    std::size_t faint = 0;  // inputs whose square is subnormal or zero: the guard's range
    for (std::size_t i = 0; i < x.size(); ++i) {
        want[i] = plain.step(x[i]);
        faint += x[i] != 0.0f && std::fabs(x[i]) < 0x1p-63f;
    }
    CHECK(faint > 4096);
    for (auto [name, fn] : LEVELS(agc_process, Agc, float, float)) {
        INFO("agc level %s", name);
        CHECK(same_bits(run(g, fn, x), want));
        CHECK(same_bits(run(g, fn, x, random_split(22, x.size())), want));
    }
}

// Silence after a signal: the squelch's mean power decays into the
// subnormal range and stays there (the gate closed: exact zeros out), where
// the guarded steps run; then the signal returns. Each level, in one call
// and in random blocks, against the plain per-sample loop.
TEST(squelch_silence_after_a_signal) {
    std::vector<cf32> x(40000, cf32{0.0f, 0.0f});
    const std::vector<cf32> burst = complex_noise(2000, 7, 0.5);
    std::copy(burst.begin(), burst.end(), x.begin());
    std::copy(burst.begin(), burst.end(), x.begin() + 30000);  // and back: the state carries over
    const PowerSquelch q = PowerSquelch::make(48000.0, -20.0);
    std::vector<cf32> want(x.size());
    float p = q.p, g = q.gain;
    bool open = q.open, reached = false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float e = x[i].re * x[i].re + x[i].im * x[i].im;
        p = halvo::fma32(q.keep, p, q.alpha * e);
        open = open ? !(p < q.close_level) : p >= q.open_level;
        g = open ? std::min(g + q.up, 1.0f) : std::max(g - q.down, 0.0f);
        want[i] = (g == 0.0f) ? cf32{0.0f, 0.0f} : cf32{x[i].re * g, x[i].im * g};
        reached |= p != 0.0f && std::fabs(p) < 0x1p-126f;
    }
    CHECK(reached);
    for (auto [name, fn] : LEVELS(squelch_process, PowerSquelch, cf32, cf32)) {
        INFO("squelch level %s", name);
        CHECK(same_bits(run(q, fn, x), want));
        CHECK(same_bits(run(q, fn, x, random_split(23, x.size())), want));
    }
}

TEST(audio_levels_and_splits_give_the_baseline_bits) {
    const std::vector<float> a = [] {
        std::vector<float> v = real_noise(20000, 1);
        v[5] = 0.0f, v[6] = -0.0f, v[7] = 1e-42f, v[8] = 3e38f, v[9] = -3e38f;
        return v;
    }();
    const std::vector<cf32> z = [] {
        std::vector<cf32> v = complex_noise(20000, 2, 0.3);
        for (std::size_t i = 8000; i < 12000; ++i) v[i] = cf32{v[i].re * 1e-3f, v[i].im * 1e-3f};  // closes
        return v;
    }();
    for (std::uint64_t seed : {11u, 12u, 13u}) {
        const std::vector<std::size_t> split = random_split(seed, 20000);
        for (auto [name, fn] : LEVELS(deemphasis_process, Deemphasis, float, float)) {
            INFO("deemphasis level %s seed %d", name, int(seed));
            const Deemphasis d = Deemphasis::make(48000.0, 75.0);
            const auto want = run(d, deemphasis_process_baseline, a);
            CHECK(same_bits(run(d, fn, a), want));
            CHECK(same_bits(run(d, fn, a, split), want));
        }
        for (auto [name, fn] : LEVELS(preemphasis_process, Preemphasis, float, float)) {
            INFO("preemphasis level %s seed %d", name, int(seed));
            const Preemphasis p = Preemphasis::make(44100.0, 50.0);
            const auto want = run(p, preemphasis_process_baseline, a);
            CHECK(same_bits(run(p, fn, a), want));
            CHECK(same_bits(run(p, fn, a, split), want));
        }
        for (auto [name, fn] : LEVELS(squelch_process, PowerSquelch, cf32, cf32)) {
            INFO("squelch level %s seed %d", name, int(seed));
            const PowerSquelch q = PowerSquelch::make(48000.0, -20.0);
            const auto want = run(q, squelch_process_baseline, z);
            CHECK(same_bits(run(q, fn, z), want));
            CHECK(same_bits(run(q, fn, z, split), want));
        }
        for (auto [name, fn] : LEVELS(agc_process, Agc, float, float)) {
            INFO("agc level %s seed %d", name, int(seed));
            const Agc g = Agc::make(48000.0, 0.5, 10.0, 300.0, 60.0);
            const auto want = run(g, agc_process_baseline, a);
            CHECK(same_bits(run(g, fn, a), want));
            CHECK(same_bits(run(g, fn, a, split), want));
        }
    }
}

// NaN in, NaN out from then on (the state keeps it), never a crash.
TEST(a_nan_input_stays_in_the_recurrences) {
    std::vector<float> a = real_noise(100, 3);
    a[10] = NAN;
    std::vector<float> y(100);
    Deemphasis d = Deemphasis::make(48000.0);
    deemphasis_process_baseline(d, a.data(), y.data(), 100);
    CHECK(std::isnan(y[10]) && std::isnan(y[99]));
    Agc g = Agc::make(48000.0);
    agc_process_baseline(g, a.data(), y.data(), 100);
    CHECK(std::isnan(y[10]) && std::isnan(y[99]) && !std::isnan(y[9]));
}

// ---------------------------------------------------------------- behaviour

// Deemphasis against the analogue response 1 / (1 + j w tau) at low
// frequencies; pre-emphasis then de-emphasis gives the input back.
TEST(emphasis_response_and_inverse) {
    const double fs = 48000.0;
    for (double f : {100.0, 1000.0, 2122.0, 5000.0}) {
        std::vector<float> x(48000);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(2 * kPi * f * double(i) / fs));
        const auto y = run(Deemphasis::make(fs, 75.0), deemphasis_process_baseline, x);
        const double want = 1.0 / std::hypot(1.0, 2 * kPi * f * 75e-6);
        INFO("f = %g", f);
        CHECK_NEAR(fit_tone(y, f, fs, 1000).amplitude, want, 0.03 * want);
        const auto back = run(Deemphasis::make(fs, 75.0), deemphasis_process_baseline,
                              run(Preemphasis::make(fs, 75.0), preemphasis_process_baseline, x));
        double worst = 0;
        for (std::size_t i = 0; i < x.size(); ++i) worst = std::fmax(worst, std::fabs(back[i] - x[i]));
        CHECK(worst < 1e-5);
    }
    // tau_us = 0 passes the input through.
    const std::vector<float> x = real_noise(100, 4);
    CHECK(same_bits(run(Deemphasis::make(fs, 0.0), deemphasis_process_baseline, x), x));
    CHECK(same_bits(run(Preemphasis::make(fs, 0.0), preemphasis_process_baseline, x), x));
}

// The gate: closed (exact zeros) on weak input, open on strong, back to
// zeros after the release ramp; the hysteresis keeps it open in between.
TEST(squelch_opens_closes_and_holds) {
    const double fs = 48000.0;
    PowerSquelch q = PowerSquelch::make(fs, -20.0, 6.0, 1.0, 10.0, 2.0);
    auto level = [](float amp, std::size_t n) {  // a tone of power amp^2
        std::vector<cf32> x(n);
        for (std::size_t i = 0; i < n; ++i) x[i] = cf32{amp * float(std::cos(0.1 * double(i))), amp * float(std::sin(0.1 * double(i)))};
        return x;
    };
    std::vector<cf32> y(4800);
    const auto weak = level(0.05f, 4800);    // -26 dB: closed
    squelch_process_baseline(q, weak.data(), y.data(), 4800);
    CHECK(!q.open);
    bool zeros = true;
    for (const cf32& v : y) zeros = zeros && std::bit_cast<std::uint32_t>(v.re) == 0 && std::bit_cast<std::uint32_t>(v.im) == 0;
    CHECK(zeros);
    const auto strong = level(0.2f, 4800);   // -14 dB: opens
    squelch_process_baseline(q, strong.data(), y.data(), 4800);
    CHECK(q.open);
    CHECK(same_bits(&y[4000], &strong[4000], 800 * sizeof(cf32)));  // fully open: the input itself
    const auto between = level(0.07f, 4800); // -23 dB: above the closing level
    squelch_process_baseline(q, between.data(), y.data(), 4800);
    CHECK(q.open);
    squelch_process_baseline(q, weak.data(), y.data(), 4800);
    CHECK(!q.open);
    CHECK(y[4799].re == 0.0f && y[4799].im == 0.0f);
    // The ramps: no step larger than the attack step anywhere.
    PowerSquelch r = PowerSquelch::make(fs, -20.0, 6.0, 1.0, 10.0, 2.0);
    std::vector<cf32> steady(9600, cf32{0.2f, 0.0f});
    std::vector<cf32> o(9600);
    squelch_process_baseline(r, steady.data(), o.data(), 9600);
    float biggest = 0;
    for (std::size_t i = 1; i < o.size(); ++i) biggest = std::fmax(biggest, std::fabs(o[i].re - o[i - 1].re));
    CHECK(biggest <= 0.2f / 48.0f * 1.001f);
}

// Output RMS near the target for inputs 60 dB apart; the gain limit holds.
TEST(agc_output_level) {
    const double fs = 48000.0;
    for (double amp : {0.001, 0.1, 1.0, 30.0}) {
        std::vector<float> x(48000);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(amp * std::sin(2 * kPi * 440.0 * double(i) / fs));
        const auto y = run(Agc::make(fs, 0.5), agc_process_baseline, x);
        double ms = 0;
        for (std::size_t i = 24000; i < y.size(); ++i) ms += double(y[i]) * y[i];
        INFO("amplitude %g", amp);
        CHECK_NEAR(std::sqrt(ms / 24000.0), 0.5, 0.02);
    }
    std::vector<float> quiet(4800, 1e-6f);
    const auto y = run(Agc::make(fs, 0.5, 10.0, 300.0, 20.0), agc_process_baseline, quiet);
    CHECK(y.back() == 1e-6f * 10.0f);
}

// Peaks never beyond the ceiling: a loud onset after a quiet stretch (the
// averaged level lags it by the attack time) and speech-like bursts whose
// crest factor the target RMS would push past full scale. Each comes close
// to the ceiling, none goes over it.
TEST(agc_holds_peaks_at_the_ceiling) {
    const double fs = 48000.0;
    std::vector<float> onset(48000), bursts(48000);
    for (std::size_t i = 0; i < onset.size(); ++i) {
        const double amp = i < 24000 ? 0.01 : 0.3;
        onset[i] = static_cast<float>(amp * std::sin(2 * kPi * 1000.0 * double(i) / fs));
    }
    const std::vector<float> noise = real_noise(bursts.size(), 9);
    for (std::size_t i = 0; i < bursts.size(); ++i)  // 0.05-level noise, a full-scale click every 10 ms
        bursts[i] = (i % 480 == 7) ? 0.9f : 0.05f * noise[i];
    for (double ceiling : {1.0, 0.3}) {
        for (const auto* x : {&onset, &bursts}) {
            const auto y = run(Agc::make(fs, 0.5, 10.0, 300.0, 60.0, ceiling), agc_process_baseline, *x);
            float peak = 0;
            for (float v : y) peak = std::fmax(peak, std::fabs(v));
            INFO("ceiling %g, %s", ceiling, x == &onset ? "onset" : "bursts");
            CHECK(peak <= static_cast<float>(ceiling));
            CHECK(peak >= 0.9f * static_cast<float>(ceiling));
        }
    }
}

// ---------------------------------------------------------------- receiver

namespace {

// A carrier at offset_hz in a capture at fs, modulated by a tone at tone_hz
// (computed in float64; tiny noise so nothing is exactly periodic).
std::vector<cf32> capture(const std::string& mode, double fs, double offset_hz, double tone_hz, double seconds,
                          double dev) {
    const std::size_t n = static_cast<std::size_t>(seconds * fs);
    std::vector<cf32> x(n);
    halvo_test::Rng rng(99);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / fs;
        std::complex<double> v;
        const double carrier = 2 * kPi * offset_hz * t;
        if (mode == "nbfm" || mode == "wbfm")  // phase: dev/tone * (1 - cos): frequency dev * sin
            v = std::polar(0.5, carrier + dev / tone_hz * (1 - std::cos(2 * kPi * tone_hz * t)));
        else if (mode == "pm") v = std::polar(0.5, carrier + dev * std::sin(2 * kPi * tone_hz * t));
        else if (mode == "am") v = std::polar(0.25 * (1 + 0.8 * std::sin(2 * kPi * tone_hz * t)), carrier);
        else if (mode == "usb") v = std::polar(0.25, carrier + 2 * kPi * tone_hz * t);
        else if (mode == "lsb") v = std::polar(0.25, carrier - 2 * kPi * tone_hz * t);
        else v = std::polar(0.25, carrier);  // cw: the carrier itself
        x[i] = cf32{float(v.real() + rng.uniform(-1e-4, 1e-4)), float(v.imag() + rng.uniform(-1e-4, 1e-4))};
    }
    return x;
}

struct RxCase {
    const char* mode;
    double fs;
    double offset_hz;
    double tone_hz;   // in the capture's modulation
    double out_hz;    // in the audio
    double dev;       // FM deviation (Hz) or PM deviation (rad)
    double amp_lo, amp_hi, snr_db;
};

}  // namespace

TEST(receiver_modes_give_the_tone_at_its_level) {
    const RxCase cases[] = {
        {"nbfm", 240000.0, 37000.0, 1000.0, 1000.0, 5000.0, 0.95, 1.05, 40.0},
        {"wbfm", 2400000.0, -300000.0, 1000.0, 1000.0, 75000.0, 0.95, 1.05, 40.0},
        {"pm", 240000.0, 20000.0, 800.0, 800.0, 1.0, 0.95, 1.05, 40.0},
        {"am", 240000.0, -50000.0, 800.0, 800.0, 0.0, 0.6, 0.8, 35.0},
        {"usb", 240000.0, 10000.0, 1200.0, 1200.0, 0.0, 0.6, 0.8, 35.0},
        {"lsb", 240000.0, 10000.0, 1200.0, 1200.0, 0.0, 0.6, 0.8, 35.0},
        {"cw", 240000.0, 5000.0, 0.0, 700.0, 0.0, 0.6, 0.8, 35.0},
    };
    for (const RxCase& c : cases) {
        const auto x = capture(c.mode, c.fs, c.offset_hz, c.tone_hz, c.fs > 1e6 ? 0.5 : 1.0, c.dev);
        const Receiver r = Receiver::make(c.mode, c.fs, c.offset_hz, 48000.0, NAN, NAN, NAN, NAN, true);
        const auto y = run(r, receiver_process_baseline, x);
        INFO("mode %s", c.mode);
        CHECK(y.size() == x.size() * 48000 / std::size_t(c.fs));
        const ToneFit f = fit_tone(y, c.out_hz, 48000.0, y.size() / 2);
        CHECK(f.amplitude > c.amp_lo && f.amplitude < c.amp_hi);
        CHECK(f.snr_db > c.snr_db);
        if (!(f.amplitude > c.amp_lo && f.amplitude < c.amp_hi) || !(f.snr_db > c.snr_db))
            std::printf("    %s: amplitude %.4f, SNR %.1f dB\n", c.mode, f.amplitude, f.snr_db);
        bool finite = true;
        for (float v : y) finite = finite && std::isfinite(v);
        CHECK(finite);
    }
}

TEST(receiver_levels_and_splits_give_the_same_bits) {
    struct Setup {
        const char* mode;
        double fs;
        double squelch_db;
    };
    for (const Setup s : {Setup{"nbfm", 240000.0, -30.0}, Setup{"wbfm", 2400000.0, NAN}, Setup{"am", 240000.0, NAN},
                          Setup{"usb", 250000.0, NAN}, Setup{"pm", 96000.0, NAN}}) {
        const auto x = complex_noise(60000, 5, 0.4);
        const Receiver r = Receiver::make(s.mode, s.fs, 0.1 * s.fs, 48000.0, s.squelch_db);
        const auto want = run(r, receiver_process_baseline, x);
        for (auto [name, fn] : LEVELS(receiver_process, Receiver, cf32, float)) {
            for (std::uint64_t seed : {21u, 22u}) {
                INFO("receiver %s level %s seed %d", s.mode, name, int(seed));
                CHECK(same_bits(run(r, fn, x, random_split(seed, x.size())), want));
            }
        }
        // Blocks shorter than the decimation, one sample at a time.
        std::vector<std::size_t> ones(3000, 1);
        INFO("receiver %s one sample at a time", s.mode);
        CHECK(same_bits(run(r, receiver_process_baseline, x, ones), want));
        CHECK(want.size() == r.output_count(x.size()));
    }
}

// The receiver is its stages chained: the same bits as the channel
// selector, the demodulator, the resampler and the de-emphasis run one after
// the other over whole streams, with the first `mute` samples zeroed.
TEST(receiver_is_its_stages_chained) {
    struct Chain {
        const char* mode;
        double fs;
    };
    for (const Chain c : {Chain{"nbfm", 240000.0}, Chain{"wbfm", 2400000.0}}) {
        const auto x = capture(c.mode, c.fs, 0.1 * c.fs, 1000.0, 0.05, std::string(c.mode) == "wbfm" ? 75000.0 : 5000.0);
        const Receiver r = Receiver::make(c.mode, c.fs, 0.1 * c.fs);
        const auto got = run(r, receiver_process_baseline, x);
        struct Isa {};
        halvo::frontend::ChannelSelector sel = r.channel;
        std::vector<cf32> ch(sel.output_count(x.size()));
        sel.process<Isa>(x.data(), ch.data(), x.size());
        halvo::PmQuadratureDemod demod = r.quad;
        std::vector<float> d(ch.size());
        demod.process<Isa>(ch.data(), d.data(), ch.size());
        std::vector<float> a = d;
        if (r.has_resampler) {
            halvo::frontend::RealResampler res = r.resampler;
            a.assign(res.output_count(d.size()), 0.0f);
            res.process<Isa>(d.data(), a.data(), d.size());
        }
        Deemphasis de = r.deemphasis;
        de.process<Isa>(a.data(), a.data(), a.size());
        for (std::size_t i = 0; i < r.mute && i < a.size(); ++i) a[i] = 0.0f;
        INFO("chain %s", c.mode);
        CHECK(r.has_deemphasis && r.mute < a.size());
        CHECK(same_bits(got, a));
    }
}

// ---------------------------------------------------------------- transmitter

// Transmitter -> Receiver per mode: a tone (the keying for cw) comes back
// at its level, above an SNR; a second signal elsewhere in the band does
// not disturb it.
TEST(transmitter_to_receiver_round_trips) {
    struct Trip {
        const char* mode;
        double fs;
        double offset_hz;
        double tone_hz;  // audio in (0: cw keying held on)
        double out_hz;
        double amp_lo, amp_hi, snr_db;
    };
    const Trip trips[] = {
        {"nbfm", 240000.0, 30000.0, 1000.0, 1000.0, 0.75, 0.85, 40.0},
        {"wbfm", 2400000.0, 400000.0, 1000.0, 1000.0, 0.75, 0.85, 40.0},
        {"pm", 240000.0, -30000.0, 700.0, 700.0, 0.75, 0.85, 40.0},
        {"am", 240000.0, 60000.0, 700.0, 700.0, 0.6, 0.8, 30.0},
        {"usb", 240000.0, 10000.0, 1000.0, 1000.0, 0.6, 0.8, 30.0},
        {"lsb", 240000.0, 10000.0, 1000.0, 1000.0, 0.6, 0.8, 30.0},
        {"cw", 240000.0, 5000.0, 0.0, 700.0, 0.6, 0.8, 30.0},
    };
    for (const Trip& t : trips) {
        const double audio_fs = 48000.0;
        std::vector<float> a(48000);
        for (std::size_t i = 0; i < a.size(); ++i)
            a[i] = t.tone_hz == 0.0 ? 1.0f : static_cast<float>(0.8 * std::sin(2 * kPi * t.tone_hz * double(i) / audio_fs));
        const Transmitter tx = Transmitter::make(t.mode, audio_fs, t.fs, t.offset_hz);
        auto x = run(tx, transmitter_process_baseline, a);
        INFO("round trip %s", t.mode);
        CHECK(x.size() == a.size() * std::size_t(t.fs / audio_fs));
        // Another transmitter (voice-band audio) 20 kHz beyond 3 channels away.
        std::vector<float> voice(a.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            voice[i] = static_cast<float>(0.5 * std::sin(2 * kPi * 450.0 * double(i) / audio_fs) + 0.3 * std::sin(2 * kPi * 1730.0 * double(i) / audio_fs));
        const auto other = run(Transmitter::make("nbfm", audio_fs, t.fs, t.offset_hz > 0 ? t.offset_hz - 3 * tx.bandwidth_hz - 20000 : t.offset_hz + 3 * tx.bandwidth_hz + 20000),
                               transmitter_process_baseline, voice);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = cf32{x[i].re + other[i].re, x[i].im + other[i].im};
        const auto y = run(Receiver::make(t.mode, t.fs, t.offset_hz, audio_fs, NAN, NAN, NAN, NAN, false),
                           receiver_process_baseline, x);
        const ToneFit f = fit_tone(y, t.out_hz, audio_fs, y.size() / 2);
        CHECK(f.amplitude > t.amp_lo && f.amplitude < t.amp_hi);
        CHECK(f.snr_db > t.snr_db);
        if (!(f.amplitude > t.amp_lo && f.amplitude < t.amp_hi) || !(f.snr_db > t.snr_db))
            std::printf("    %s: amplitude %.4f, SNR %.1f dB\n", t.mode, f.amplitude, f.snr_db);
    }
}

TEST(transmitter_levels_and_splits_give_the_same_bits) {
    for (const char* mode : {"nbfm", "wbfm", "am", "usb", "lsb", "cw", "pm"}) {
        const auto a = real_noise(6000, 9, 0.9);
        const Transmitter t = Transmitter::make(mode, 48000.0, std::string(mode) == "wbfm" ? 1200000.0 : 240000.0, 20000.0);
        const auto want = run(t, transmitter_process_baseline, a);
        CHECK(want.size() == t.output_count(a.size()));
        for (auto [name, fn] : LEVELS(transmitter_process, Transmitter, float, cf32)) {
            INFO("transmitter %s level %s", mode, name);
            CHECK(same_bits(run(t, fn, a, random_split(31, a.size())), want));
        }
    }
}

// ---------------------------------------------------------------- refusals

TEST(invalid_arguments_are_refused_by_name) {
    struct Bad {
        const char* name;  // expected at the start of the message
        std::function<void()> make;
    };
    const Bad bad[] = {
        {"fs", [] { Deemphasis::make(0.0); }},
        {"fs", [] { Preemphasis::make(NAN); }},
        {"tau_us", [] { Deemphasis::make(48000.0, -1.0); }},
        {"tau_us", [] { Preemphasis::make(48000.0, INFINITY); }},
        {"threshold_db", [] { PowerSquelch::make(48000.0, NAN); }},
        {"hysteresis_db", [] { PowerSquelch::make(48000.0, -20.0, -1.0); }},
        {"attack_ms", [] { PowerSquelch::make(48000.0, -20.0, 3.0, -1.0); }},
        {"release_ms", [] { PowerSquelch::make(48000.0, -20.0, 3.0, 1.0, NAN); }},
        {"average_ms", [] { PowerSquelch::make(48000.0, -20.0, 3.0, 1.0, 1.0, 0.0); }},
        {"target", [] { Agc::make(48000.0, 0.0); }},
        {"attack_ms", [] { Agc::make(48000.0, 0.5, 0.0); }},
        {"decay_ms", [] { Agc::make(48000.0, 0.5, 1.0, -5.0); }},
        {"max_gain_db", [] { Agc::make(48000.0, 0.5, 1.0, 5.0, 300.0); }},
        {"ceiling", [] { Agc::make(48000.0, 0.5, 1.0, 5.0, 60.0, 0.0); }},
        {"mode", [] { Receiver::make("fm", 240000.0, 0.0); }},
        {"fs", [] { Receiver::make("nbfm", -1.0, 0.0); }},
        {"audio_fs", [] { Receiver::make("nbfm", 240000.0, 0.0, 480000.0); }},
        {"offset_hz", [] { Receiver::make("nbfm", 240000.0, 130000.0); }},
        {"bandwidth_hz", [] { Receiver::make("nbfm", 240000.0, 0.0, 48000.0, NAN, 0.0); }},
        {"deviation_hz", [] { Receiver::make("wbfm", 2400000.0, 0.0, 48000.0, NAN, NAN, -5.0); }},
        {"deviation_hz", [] { Receiver::make("pm", 240000.0, 0.0, 48000.0, NAN, NAN, 4.0); }},
        {"tau_us", [] { Receiver::make("nbfm", 240000.0, 0.0, 48000.0, NAN, NAN, NAN, -3.0, true); }},
        {"cw_pitch_hz", [] { Receiver::make("cw", 240000.0, 0.0, 48000.0, NAN, NAN, NAN, NAN, false, 20000.0); }},
        {"threshold_db", [] { Receiver::make("nbfm", 240000.0, 0.0, 48000.0, 500.0); }},
        {"mode", [] { Transmitter::make("ssb", 48000.0, 240000.0, 0.0); }},
        {"audio_fs", [] { Transmitter::make("am", 0.0, 240000.0, 0.0); }},
        {"fs", [] { Transmitter::make("am", 48000.0, 24000.0, 0.0); }},
        {"offset_hz", [] { Transmitter::make("am", 48000.0, 240000.0, -200000.0); }},
        {"bandwidth_hz", [] { Transmitter::make("am", 48000.0, 240000.0, 0.0, 130000.0); }},
        {"deviation_hz", [] { Transmitter::make("nbfm", 48000.0, 240000.0, 0.0, NAN, 0.0); }},
        {"tau_us", [] { Transmitter::make("wbfm", 48000.0, 2400000.0, 0.0, NAN, NAN, NAN, true) , Transmitter::make("wbfm", 48000.0, 2400000.0, 0.0, NAN, NAN, -1.0, true); }},
    };
    for (const Bad& b : bad) {
        std::string what;
        try {
            b.make();
        } catch (const std::invalid_argument& e) {
            what = e.what();
        }
        INFO("expected a refusal naming %s, got '%s'", b.name, what.c_str());
        CHECK(what.rfind(std::string(b.name) + " must", 0) == 0);
    }
}

HALVO_TEST_MAIN()
