// Receiver: complex64 at fs in, float32 audio at audio_fs out, one stage
// after the other in one call:
//
//   ChannelSelector (fs -> fs_ch = fs / decimation, centred on the channel)
//   -> PowerSquelch (when squelch_db is given)
//   -> demodulator at fs_ch -> RealResampler (fs_ch -> audio_fs, when they differ)
//   -> Deemphasis (nbfm, wbfm) or Agc (am, usb, lsb, cw) at audio_fs
//
// Modes and their demodulators (halvo's own, run on the channel):
//   nbfm, wbfm  PmQuadratureDemod with k = fs_ch / (2 pi deviation_hz):
//               full deviation comes out as +-1; audio low-pass at the
//               audio band (6 kHz: flat to 3 kHz; 15 kHz)
//   pm          the phase itself, fast_atan2(im, re) / deviation (radians)
//   am          AmEnvelopeDemod, then Agc
//   usb, lsb    SsbProductDemod on a channel centred bandwidth/2 above
//               (usb) or below (lsb) the dial frequency offset_hz, the BFO
//               on the suppressed carrier; then Agc
//   cw          SsbProductDemod with its BFO cw_pitch_hz below the carrier:
//               the carrier comes out as a tone at cw_pitch_hz; then Agc
//
// The demodulators run through the subnormal guard of kernels/guard.hpp, as
// halvo_sdr's classes do.
//
// Start-up: the channel filter starts from zeros and the demodulators from
// their initial state. The first `settle` channel samples (the channel
// filter's length and 2 ms) are demodulated as usual; after them the DC
// blocker of am/usb/lsb/cw forgets its output (its y1 is set to 0, so the
// level reached counts as DC from then on), and the audio samples made
// before then (`mute` of them) come out as exact zeros; they are zeroed
// before the AGC, so it starts on the settled audio.
//
// Every count follows from the samples seen so far: after n input samples
// there are exactly ceil(n * audio_fs / fs) audio samples (audio sample j
// belongs to input time j * fs / audio_fs), so any split of the input gives
// the same concatenated output. Work buffers are fixed at
// construction; a call of any length uses no other memory.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "../demodulate/am.hpp"
#include "../demodulate/pm.hpp"
#include "../demodulate/ssb.hpp"
#include "../dsp/fast_atan2.hpp"
#include "../kernels/guard.hpp"
#include "audio/agc.hpp"
#include "audio/emphasis.hpp"
#include "audio/squelch.hpp"
#include "frontend/channel_selector.hpp"
#include "frontend/resampler.hpp"
#include "rate_count.hpp"

namespace halvo::radio {

enum class Mode { am, usb, lsb, cw, nbfm, wbfm, pm };

inline constexpr const char* kModeNames[] = {"am", "usb", "lsb", "cw", "nbfm", "wbfm", "pm"};  // Mode's order

inline Mode parse_mode(const std::string& s) {
    for (int i = 0; i < 7; ++i)
        if (s == kModeNames[i]) return static_cast<Mode>(i);
    throw ArgumentError("mode must be one of 'am', 'usb', 'lsb', 'cw', 'nbfm', 'wbfm', 'pm', got '" + s + "'");
}

inline const char* mode_name(Mode m) { return kModeNames[static_cast<int>(m)]; }

// The name of the mode at `index` in Mode's order (the bindings' constructors
// take the index; the Python layer maps the name).
inline const char* mode_name_at(int index) {
    if (index < 0 || index > 6) throw ArgumentError("mode index must be from 0 to 6, got " + std::to_string(index));
    return kModeNames[index];
}

// Per-mode defaults: channel bandwidth, deviation (Hz; radians for pm),
// de-emphasis time constant (NaN: none), audio band of the demodulator.
struct ModeDefaults {
    double bandwidth_hz;
    double deviation_hz;
    double tau_us;
    double audio_bw_hz;
};

inline ModeDefaults mode_defaults(Mode m) {
    switch (m) {
        case Mode::am: return {10000.0, NAN, NAN, 5000.0};
        case Mode::usb:
        case Mode::lsb: return {2800.0, NAN, NAN, 3000.0};
        case Mode::cw: return {500.0, NAN, NAN, 0.0};
        // nbfm's demodulator low-pass (a Butterworth pair, -6 dB at 0.9 x
        // the audio band) sits at 6 kHz so that the voice band up to 3 kHz
        // comes out within 0.75 dB of the de-emphasis alone; at 3 kHz it cut
        // a 2.3 kHz tone by 3.6 dB.
        case Mode::nbfm: return {16000.0, 5000.0, 75.0, 6000.0};
        case Mode::wbfm: return {200000.0, 75000.0, 75.0, 15000.0};
        case Mode::pm: return {16000.0, 1.0, NAN, 3000.0};
    }
    return {};
}

// The deviation a mode runs with: deviation_hz, or the mode's default where
// it is NaN; for nbfm and wbfm in Hz, above 0 and at most fs/2, for pm in
// radians, above 0 and at most 3.15; NaN for the other modes.
inline double mode_deviation(Mode m, double deviation_hz, double fs) {
    const bool fm = m == Mode::nbfm || m == Mode::wbfm;
    if (!fm && m != Mode::pm) return NAN;
    const double dev = std::isnan(deviation_hz) ? mode_defaults(m).deviation_hz : deviation_hz;
    if (fm && !(dev > 0.0 && dev <= 0.5 * fs))
        frontend::refuse("deviation_hz", dev, "above 0 and at most fs/2 = " + frontend::show(0.5 * fs));
    if (!fm && !(dev > 0.0 && dev <= 3.15))
        frontend::refuse("deviation_hz", dev, "(radians of phase for pm) above 0 and at most 3.15");
    return dev;
}

// The emphasis time constant: tau_us when given (None arrives as NaN: no
// emphasis), else the mode's default; from 0 to 1e6 us.
inline double mode_tau(Mode m, double tau_us, bool tau_given) {
    const double tau = tau_given ? tau_us : mode_defaults(m).tau_us;
    if (!std::isnan(tau) && !(tau >= 0.0 && tau <= audio::kMaxTauUs))
        frontend::refuse("tau_us", tau, "from 0 to 1e6, or None");
    return tau;
}

// A mode and the options the receiver and the transmitter share: each one
// NaN (tau_us: not given) the mode's default, each checked against the
// wideband rate fs.
struct ModeOptions {
    Mode mode = Mode::nbfm;
    double bandwidth_hz = 0.0;
    double deviation_hz = NAN;  // FM: Hz; pm: radians; others: NaN
    double tau_us = NAN;        // NaN: no emphasis

    void resolve(double fs, double bandwidth, double deviation, double tau, bool tau_given) {
        bandwidth_hz = std::isnan(bandwidth) ? mode_defaults(mode).bandwidth_hz : bandwidth;
        if (!(bandwidth_hz > 0.0 && bandwidth_hz < 0.5 * fs))
            frontend::refuse("bandwidth_hz", bandwidth_hz, "above 0 and below fs/2 = " + frontend::show(0.5 * fs));
        deviation_hz = mode_deviation(mode, deviation, fs);
        tau_us = mode_tau(mode, tau, tau_given);
    }
};

// The lowest channel rate a mode needs for a channel of bandwidth bw.
inline double min_channel_rate(Mode m, double bw, double audio_bw) {
    switch (m) {
        case Mode::usb:
        case Mode::lsb:
        case Mode::cw: return std::fmax(2.5 * bw, 2.5 * audio_bw);
        default: return std::fmax(1.25 * bw, 2.5 * audio_bw);
    }
}

// The decimation of the channel selector: the largest divisor of
// fs/audio_fs giving at least the rate the mode needs when that ratio is a
// whole number (no resampler then, or an integer one), otherwise the
// largest decimation that keeps that rate.
inline int channel_decimation(double fs, double audio_fs, double min_rate) {
    const double cap = std::floor(fs / min_rate);
    if (cap < 1.0) return 1;
    const double r = fs / audio_fs;
    if (r >= 1.0 && r == std::floor(r) && r <= 1e9) {
        const long long k = static_cast<long long>(r);
        for (long long d = static_cast<long long>(std::fmin(cap, static_cast<double>(frontend::kMaxFactor))); d >= 1; --d)
            if (k % d == 0) return static_cast<int>(d);
    }
    return static_cast<int>(std::fmin(cap, static_cast<double>(frontend::kMaxFactor)));
}

// SSB's channel filter has a sharp edge (a 200 Hz transition), whose taps
// grow with the rate it runs at: 240 kHz -> 48 kHz at decimation 5 would be
// some 5400 taps per channel sample; and 5 is prime, so no two-stage plan.
// So SSB and FM decimate as far as the mode's minimum rate allows and let
// the audio resampler go back up: among the
// decimations from cap/2 to cap (cap = floor(fs/min_rate)) whose channel
// rate has a resampling ratio to audio_fs, the one whose channel filter
// (one stage or two, chain.hpp) costs the fewest multiply-adds per input
// sample, the larger on a tie.
// transition < 0: FM's, min(pass, the selector's default at that decimation).
inline int sideband_decimation(double fs, double audio_fs, double min_rate, double pass, double transition) {
    const double cap = std::fmin(std::floor(fs / min_rate), static_cast<double>(frontend::kMaxFactor));
    if (cap < 2.0) return 1;
    int best_d = 1;
    double best = 0.0;
    for (int d = static_cast<int>(cap); d >= 1 && d >= static_cast<int>(cap) / 2; --d) {
        long long l = 0, m = 0;
        if (!frontend::rational_ratio(audio_fs / (fs / d), l, m)) continue;
        double cost = 0.0;
        const double tr = transition >= 0.0
                              ? transition
                              : std::fmin(pass, frontend::ChannelSelector::default_transition(fs, d, 2.0 * pass));
        frontend::plan_first_stage(fs, 1, d, pass, pass + tr, 70.0, &cost);
        if (best_d == 1 || cost < best) {
            best = cost;
            best_d = d;
        }
    }
    return best_d == 1 ? channel_decimation(fs, audio_fs, min_rate) : best_d;
}

inline constexpr std::size_t kReceiverChunk = 4096;  // input samples per pass through the stages

struct Receiver : ModeOptions {  // tau_us: de-emphasis
    double fs = 1.0;
    double offset_hz = 0.0;
    double audio_fs = 48000.0;
    double squelch_db = NAN;      // NaN: no squelch
    double cw_pitch_hz = 700.0;
    double fs_ch = 1.0;           // channel rate fs / decimation
    int decimation = 1;
    frontend::ChannelSelector channel;
    bool has_squelch = false;
    audio::PowerSquelch squelch;
    PmQuadratureDemod quad;       // nbfm, wbfm
    AmEnvelopeDemod am;           // am
    SsbProductDemod ssb;          // usb, lsb, cw
    float pm_scale = 1.0f;        // pm: 1 / deviation
    bool has_resampler = false;
    frontend::RealResampler resampler;
    bool has_deemphasis = false;
    audio::Deemphasis deemphasis;
    bool has_agc = false;
    audio::Agc agc;
    std::uint64_t settle = 0;     // channel samples still to come before the DC blocker forgets
    std::uint64_t mute = 0;       // audio samples still to come out as zeros
    std::vector<cf32> ch;         // channel samples of one chunk
    std::vector<float> dem;       // demodulated samples of one chunk
    // The output count: audio sample j belongs to input time j * fs / audio_fs
    // (rate: num/den = audio_fs / fs). The resampler may make up to
    // ceil(l/m) of them earlier (its input, a channel sample, stands for
    // the decimation's first input sample); those wait in `aud` until
    // their input time has come.
    RateCount rate;
    std::vector<float> aud;       // audio made but not yet due, then one chunk's new audio
    std::size_t waiting = 0;      // samples of aud not yet due

    static Receiver make(const std::string& mode_s, double fs, double offset_hz, double audio_fs = 48000.0,
                         double squelch_db = NAN, double bandwidth_hz = NAN, double deviation_hz = NAN,
                         double tau_us = NAN, bool tau_given = false, double cw_pitch_hz = 700.0) {
        Receiver r;
        r.mode = parse_mode(mode_s);
        const ModeDefaults d = mode_defaults(r.mode);
        audio::check_rate(fs);
        if (!(audio_fs > 0.0 && std::isfinite(audio_fs) && audio_fs <= fs))
            frontend::refuse("audio_fs", audio_fs, "above 0 and at most fs = " + frontend::show(fs));
        frontend::check_offset("offset_hz", offset_hz, fs);
        r.fs = fs;
        r.offset_hz = offset_hz;
        r.audio_fs = audio_fs;
        r.squelch_db = squelch_db;
        r.resolve(fs, bandwidth_hz, deviation_hz, tau_us, tau_given);
        const bool fm = r.mode == Mode::nbfm || r.mode == Mode::wbfm;
        r.cw_pitch_hz = cw_pitch_hz;
        if (!(cw_pitch_hz >= 0.0 && cw_pitch_hz <= 0.25 * audio_fs))
            frontend::refuse("cw_pitch_hz", cw_pitch_hz, "from 0 to audio_fs/4 = " + frontend::show(0.25 * audio_fs));

        const double bw = r.bandwidth_hz;
        const double audio_bw = (r.mode == Mode::cw) ? cw_pitch_hz + bw : d.audio_bw_hz;
        const double min_rate = min_channel_rate(r.mode, bw, audio_bw);
        r.decimation = (r.mode == Mode::usb || r.mode == Mode::lsb)
                           ? sideband_decimation(fs, audio_fs, min_rate, 0.5 * bw, std::fmin(200.0, 0.1 * bw))
                       : fm ? sideband_decimation(fs, audio_fs, min_rate, 0.5 * bw, -1.0)
                            : channel_decimation(fs, audio_fs, min_rate);
        r.fs_ch = fs / r.decimation;
        // The channel's centre: the carrier, or beside the dial for SSB.
        double centre = offset_hz;
        if (r.mode == Mode::usb) centre = offset_hz + 0.5 * bw;
        if (r.mode == Mode::lsb) centre = offset_hz - 0.5 * bw;
        if (!(std::fabs(centre) <= 0.5 * fs))
            frontend::refuse("offset_hz", offset_hz, "such that the channel stays within +-fs/2 = +-" + frontend::show(0.5 * fs));
        // SSB keeps the other sideband out with a sharp edge at the carrier;
        // fm and pm stop at 1.5 x the channel's half width (noise beyond
        // the channel would otherwise reach the demodulator: 11 dB of audio
        // SNR lost at 20 dB carrier-to-noise with the selector's default)
        // (cw and am keep the selector's default. am's 1-second tone SNR
        // moved with the filter's length, not its width: the DC blocker
        // forgets at `settle`, taking the envelope there, carrier plus the
        // tone's value at that instant, as the DC, an error of up to the
        // tone's amplitude that decays over 80 ms and, through the AGC's held
        // level, some 300 ms per e-fold; a longer filter moves `settle` to
        // another phase of the tone. From 1.5 s on it is 40.8 dB, the
        // demodulator's own, for any transition.)
        const double dflt = frontend::ChannelSelector::default_transition(fs, r.decimation, bw);
        const double transition = (r.mode == Mode::usb || r.mode == Mode::lsb) ? std::fmin(200.0, 0.1 * bw)
                                  : (r.mode == Mode::cw || r.mode == Mode::am)  ? dflt
                                                                                : std::fmin(0.5 * bw, dflt);
        r.channel = frontend::ChannelSelector::make(fs, centre, r.decimation, bw, transition);
        if (!std::isnan(squelch_db)) {
            r.has_squelch = true;
            r.squelch = audio::PowerSquelch::make(r.fs_ch, squelch_db);
        }
        switch (r.mode) {
            case Mode::nbfm:
            case Mode::wbfm:
                r.quad = PmQuadratureDemod::make(r.fs_ch, r.fs_ch / (2.0 * std::numbers::pi * r.deviation_hz), d.audio_bw_hz);
                break;
            case Mode::pm: r.pm_scale = static_cast<float>(1.0 / r.deviation_hz); break;
            case Mode::am: r.am = AmEnvelopeDemod::make(r.fs_ch, 0.5 * bw, false); break;
            case Mode::usb: r.ssb = SsbProductDemod::make(r.fs_ch, -0.5 * bw, audio_bw); break;
            case Mode::lsb: r.ssb = SsbProductDemod::make(r.fs_ch, 0.5 * bw, audio_bw); break;
            case Mode::cw: r.ssb = SsbProductDemod::make(r.fs_ch, -cw_pitch_hz, audio_bw); break;
        }
        if (r.fs_ch != audio_fs) {
            r.has_resampler = true;
            r.resampler = frontend::RealResampler::make(r.fs_ch, audio_fs, 0.9, 70.0);
        }
        if (!std::isnan(r.tau_us) && r.tau_us > 0.0) {
            r.has_deemphasis = true;
            r.deemphasis = audio::Deemphasis::make(audio_fs, r.tau_us);
        }
        if (r.mode == Mode::am || r.mode == Mode::usb || r.mode == Mode::lsb || r.mode == Mode::cw) {
            r.has_agc = true;
            r.agc = audio::Agc::make(audio_fs, 0.5, 10.0, 300.0, 60.0);
        }
        // The channel filter's span (twice its group delay), in channel samples.
        r.settle = static_cast<std::uint64_t>(std::ceil(2.0 * r.channel.fir.delay_in() / r.decimation)) +
                   static_cast<std::uint64_t>(std::ceil(0.002 * r.fs_ch));
        double res_len = r.has_resampler ? 2.0 * r.resampler.delay() : 0.0;
        r.mute = static_cast<std::uint64_t>(std::ceil(static_cast<double>(r.settle) * audio_fs / r.fs_ch + res_len)) + 1;
        // A chunk gives at most ceil(chunk / decimation) channel samples.
        r.ch.resize(kReceiverChunk / static_cast<std::size_t>(r.decimation) + 2);
        r.dem.resize(r.ch.size());
        const std::uint64_t rl = r.has_resampler ? static_cast<std::uint64_t>(r.resampler.l) : 1;
        const std::uint64_t rm = r.has_resampler ? static_cast<std::uint64_t>(r.resampler.m) : 1;
        r.rate = RateCount::make(rl, rm * static_cast<std::uint64_t>(r.decimation));
        // One chunk's audio and what waits before it: ceil(c * l / m) + 1
        // new samples for c channel samples, ceil(l / m) + 1 waiting.
        r.aud.resize((r.ch.size() * rl + rm - 1) / rm + 2 * ((rl + rm - 1) / rm) + 4);
        return r;
    }

    // The binding's constructor: the mode by its index in mode_name's
    // order (the Python layer maps the name), NaN for an omitted option.
    static Receiver make_indexed(int mode, double fs, double offset_hz, double audio_fs, double squelch_db,
                                 double bandwidth_hz, double deviation_hz, double tau_us, bool tau_given,
                                 double cw_pitch_hz) {
        return make(mode_name_at(mode), fs, offset_hz, audio_fs, squelch_db, bandwidth_hz, deviation_hz, tau_us,
                    tau_given, cw_pitch_hz);
    }
    bool is_open() const { return !has_squelch || squelch.open; }
    double channel_fs() const { return fs_ch; }

    HALVO_INLINE std::size_t output_count(std::size_t n) const { return rate.output_count(n); }

    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        for (std::size_t i0 = 0; i0 < n; i0 += kReceiverChunk) {
            const std::size_t m = (n - i0 < kReceiverChunk) ? n - i0 : kReceiverChunk;
            const std::size_t c = channel.output_count(m);
            channel.process<Isa>(in + i0, ch.data(), m);
            if (has_squelch) squelch.process<Isa>(ch.data(), ch.data(), c);
            // The DC blocker forgets at channel sample `settle`: the
            // demodulator runs in two parts around it.
            std::size_t done = 0;
            if (settle > 0 && settle <= c) {
                demodulate<Isa>(0, static_cast<std::size_t>(settle));
                done = static_cast<std::size_t>(settle);
                am.dc.y1 = 0.0f;
                ssb.dc.y1 = 0.0f;
                settle = 0;
            }
            demodulate<Isa>(done, c);
            if (settle > c) settle -= c;
            const std::size_t a = has_resampler ? resampler.output_count(c) : c;
            float* made = aud.data() + waiting;
            if (has_resampler) resampler.process<Isa>(dem.data(), made, c);
            else
                for (std::size_t i = 0; i < c; ++i) made[i] = dem[i];
            if (has_deemphasis) deemphasis.process<Isa>(made, made, a);
            // The start-up audio is zeroed before the AGC, which so starts
            // from the settled audio: had it seen the demodulator's start
            // (a carrier's step before the DC blocker forgets), its held
            // level and peak would take some 300 ms to fall back.
            if (mute > 0) {
                const std::size_t z = (mute < a) ? static_cast<std::size_t>(mute) : a;
                for (std::size_t i = 0; i < z; ++i) made[i] = 0.0f;
                mute -= z;
            }
            if (has_agc) agc.process<Isa>(made, made, a);
            // Hand out what is due by the end of this chunk; the rest waits.
            const std::size_t give = rate.take(m);
            const std::size_t have = waiting + a;
            for (std::size_t i = 0; i < give; ++i) out[i] = aud[i];
            for (std::size_t i = give; i < have; ++i) aud[i - give] = aud[i];
            waiting = have - give;
            out += give;
        }
    }

private:
    template <class Isa>
    void demodulate(std::size_t from, std::size_t to) {
        if (to <= from) return;
        const cf32* x = ch.data() + from;
        float* y = dem.data() + from;
        const std::size_t k = to - from;
        switch (mode) {
            case Mode::nbfm:
            case Mode::wbfm: kernels::process_guarded<Isa>(quad, x, y, k); break;
            case Mode::pm:
                for (std::size_t i = 0; i < k; ++i) y[i] = fast_atan2(x[i].im, x[i].re) * pm_scale;
                break;
            case Mode::am: kernels::process_guarded<Isa>(am, x, y, k); break;
            default: kernels::process_guarded<Isa>(ssb, x, y, k); break;
        }
    }
};

}  // namespace halvo::radio
