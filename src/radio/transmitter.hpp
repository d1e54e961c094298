// Transmitter: float32 audio at audio_fs in, complex64 at fs out, the
// signal placed at offset_hz, one stage after the other in one call:
//
//   Preemphasis (nbfm, wbfm; tau_us, 75 us by default)
//   -> RealResampler (audio_fs -> fs_mod = fs / interpolation, when they differ)
//   -> modulator at fs_mod, at 0 Hz -> Upconverter (fs_mod -> fs, to offset_hz)
//
// Modes and their modulators (halvo's own):
//   nbfm, wbfm  FmPhaseAccumMod, deviation_hz for an input of 1
//   pm          PmDirectPhaseMod, deviation_hz radians for an input of 1
//   am          AmDsbMod, carrier 0.5 and index 0.5: an input of +-1 is
//               100 % modulation, envelope from 0 to 1
//   usb, lsb    SsbPhasingMod with its audio IF at bandwidth_hz/2: audio f
//               comes out at offset_hz + f (usb) or offset_hz - f (lsb)
//   cw          CwKeyedMod at 0 Hz, 5 ms rise and fall: the input is the
//               keying (0 off, 1 on), the carrier at offset_hz
// Every count follows from the samples seen so far (after n audio samples
// exactly ceil(n * fs / audio_fs) output samples): any split of the input
// gives the same concatenated output. Work buffers are fixed at
// construction.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../modulate/am.hpp"
#include "../modulate/cw.hpp"
#include "../modulate/fm.hpp"
#include "../modulate/pm.hpp"
#include "../modulate/ssb.hpp"
#include "audio/emphasis.hpp"
#include "frontend/resampler.hpp"
#include "frontend/upconverter.hpp"
#include "receiver.hpp"

namespace halvo::radio {

inline constexpr std::size_t kTransmitterChunk = 1024;  // audio samples per pass through the stages

struct Transmitter : ModeOptions {  // tau_us: pre-emphasis
    double audio_fs = 48000.0;
    double fs = 1.0;
    double offset_hz = 0.0;
    double fs_mod = 1.0;        // modulation rate fs / interpolation
    int interpolation = 1;
    bool has_preemphasis = false;
    audio::Preemphasis preemphasis;
    bool has_resampler = false;
    frontend::RealResampler resampler;
    FmPhaseAccumMod fm;   // nbfm, wbfm
    PmDirectPhaseMod pm;  // pm
    AmDsbMod am;          // am
    SsbPhasingMod ssb;    // usb, lsb
    CwKeyedMod cw;        // cw
    frontend::Upconverter up;
    std::vector<float> aud;  // audio of one chunk after pre-emphasis
    std::vector<float> res;  // the same at fs_mod
    std::vector<cf32> mod;   // modulated, at fs_mod
    // The output count: output sample j belongs to audio time j * audio_fs / fs
    // (rate: num/den = fs / audio_fs). The upconverter makes `interpolation`
    // samples per modulated sample at once; those past that count wait in
    // `held` (at most interpolation - 1) until their time has come.
    RateCount rate;
    std::vector<cf32> held;  // made but not yet due; interpolation samples of room
    std::size_t waiting = 0;

    static Transmitter make(const std::string& mode_s, double audio_fs, double fs, double offset_hz,
                            double bandwidth_hz = NAN, double deviation_hz = NAN, double tau_us = NAN,
                            bool tau_given = false) {
        Transmitter t;
        t.mode = parse_mode(mode_s);
        const ModeDefaults d = mode_defaults(t.mode);
        if (!(audio_fs > 0.0 && std::isfinite(audio_fs))) frontend::refuse("audio_fs", audio_fs, "finite and > 0");
        if (!(fs >= audio_fs && std::isfinite(fs)))
            frontend::refuse("fs", fs, "finite and at least audio_fs = " + frontend::show(audio_fs));
        frontend::check_offset("offset_hz", offset_hz, fs);
        t.audio_fs = audio_fs;
        t.fs = fs;
        t.offset_hz = offset_hz;
        t.resolve(fs, bandwidth_hz, deviation_hz, tau_us, tau_given);
        const double bw = t.bandwidth_hz;
        const double audio_bw = (t.mode == Mode::cw) ? bw : d.audio_bw_hz;
        // The modulated signal spans +-bw/2 (0 to bw for SSB, placed at the dial).
        const bool sideband = t.mode == Mode::usb || t.mode == Mode::lsb;
        t.interpolation = channel_decimation(fs, audio_fs, min_channel_rate(t.mode, bw, audio_bw));
        t.fs_mod = fs / t.interpolation;
        const double up_bw = sideband ? 2.0 * bw : bw;
        if (!(up_bw < t.fs_mod))
            frontend::refuse("bandwidth_hz", bw, "small enough for the modulation rate " + frontend::show(t.fs_mod));
        if (!std::isnan(t.tau_us) && t.tau_us > 0.0) {
            t.has_preemphasis = true;
            t.preemphasis = audio::Preemphasis::make(audio_fs, t.tau_us);
        }
        if (t.fs_mod != audio_fs) {
            t.has_resampler = true;
            t.resampler = frontend::RealResampler::make(audio_fs, t.fs_mod, 0.9, 70.0);
        }
        switch (t.mode) {
            case Mode::nbfm:
            case Mode::wbfm: t.fm = FmPhaseAccumMod::make(t.fs_mod, t.deviation_hz, 0.0); break;
            case Mode::pm: t.pm = PmDirectPhaseMod::make(t.fs_mod, t.deviation_hz, 0.0); break;
            case Mode::am: t.am = AmDsbMod::make(t.fs_mod, 0.0, 0.5, 0.5); break;
            case Mode::usb: t.ssb = SsbPhasingMod::make(t.fs_mod, 0.5 * bw, 0.5 * bw, 0.5 * bw, false); break;
            case Mode::lsb: t.ssb = SsbPhasingMod::make(t.fs_mod, 0.5 * bw, 0.5 * bw, -0.5 * bw, true); break;
            case Mode::cw: t.cw = CwKeyedMod::make(t.fs_mod, 0.0, 5.0, 5.0); break;
        }
        t.up = frontend::Upconverter::make(t.fs_mod, t.interpolation, offset_hz, up_bw);
        t.aud.resize(kTransmitterChunk);
        const std::size_t most = static_cast<std::size_t>(std::ceil(kTransmitterChunk * t.fs_mod / audio_fs)) + 2;
        t.res.resize(most);
        t.mod.resize(most);
        const std::uint64_t rl = t.has_resampler ? static_cast<std::uint64_t>(t.resampler.l) : 1;
        const std::uint64_t rm = t.has_resampler ? static_cast<std::uint64_t>(t.resampler.m) : 1;
        t.rate = RateCount::make(rl * static_cast<std::uint64_t>(t.interpolation), rm);
        t.held.resize(static_cast<std::size_t>(t.interpolation));
        return t;
    }

    // The binding's constructor: the mode by its index (see Receiver).
    static Transmitter make_indexed(int mode, double audio_fs, double fs, double offset_hz, double bandwidth_hz,
                                    double deviation_hz, double tau_us, bool tau_given) {
        return make(mode_name_at(mode), audio_fs, fs, offset_hz, bandwidth_hz, deviation_hz, tau_us, tau_given);
    }

    HALVO_INLINE std::size_t output_count(std::size_t n) const { return rate.output_count(n); }

    template <class Isa>
    void process(const float* in, cf32* out, std::size_t n) {
        for (std::size_t i0 = 0; i0 < n; i0 += kTransmitterChunk) {
            const std::size_t m = (n - i0 < kTransmitterChunk) ? n - i0 : kTransmitterChunk;
            const float* a = in + i0;
            if (has_preemphasis) {
                preemphasis.process<Isa>(a, aud.data(), m);
                a = aud.data();
            }
            std::size_t c = m;
            const float* r = a;
            if (has_resampler) {
                c = resampler.output_count(m);
                resampler.process<Isa>(a, res.data(), m);
                r = res.data();
            }
            switch (mode) {
                case Mode::nbfm:
                case Mode::wbfm: kernels::process_guarded<Isa>(fm, r, mod.data(), c); break;
                case Mode::pm: kernels::process_guarded<Isa>(pm, r, mod.data(), c); break;
                case Mode::am: kernels::process_guarded<Isa>(am, r, mod.data(), c); break;
                case Mode::cw: kernels::process_guarded<Isa>(cw, r, mod.data(), c); break;
                default: kernels::process_guarded<Isa>(ssb, r, mod.data(), c); break;
            }
            // What waited comes first; then all but the last modulated
            // sample straight to out (all of that is due), the last one's
            // `interpolation` samples through `held`, as many as are due.
            const std::size_t give = rate.take(m);
            const std::size_t first = (waiting < give) ? waiting : give;
            for (std::size_t i = 0; i < first; ++i) out[i] = held[i];
            for (std::size_t i = first; i < waiting; ++i) held[i - first] = held[i];
            waiting -= first;
            out += first;
            if (c == 0) continue;
            const std::size_t ni = static_cast<std::size_t>(interpolation);
            up.process<Isa>(mod.data(), out, c - 1);
            out += (c - 1) * ni;
            up.process<Isa>(mod.data() + (c - 1), held.data(), 1);
            const std::size_t rest = give - first - (c - 1) * ni;
            for (std::size_t i = 0; i < rest; ++i) out[i] = held[i];
            for (std::size_t i = rest; i < ni; ++i) held[i - rest] = held[i];
            waiting = ni - rest;
            out += rest;
        }
    }
};

}  // namespace halvo::radio
