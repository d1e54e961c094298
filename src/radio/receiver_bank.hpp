// ReceiverBank: one mode over many channels of a wideband capture. Complex
// baseband at fs in; float32 audio at audio_fs out, one row per channel.
//
// Front end: a Channelizer of M channels, twice oversampled by default
// (spacing D = fs/M, channel rate fs_ch = oversample*fs/M). A channel at offset_hz is served
// by the channelizer's nearest channel b = round(offset_hz / D) (row b mod M)
// and by a Receiver at fs_ch tuned to what is left, offset_hz - b*D:
//
//   row k = Receiver(mode, fs_ch, offset_hz[k] - b_k*D, audio_fs, squelch_db[k], options)
//             .process(Channelizer(fs, M, oversample).process(x)[b_k mod M])
//
// bit for bit, for any split of x. The channel (for usb and lsb the band
// beside the dial frequency) must lie inside the channelizer's passband,
// within +-pass*D of b_k*D (pass = 0.5 twice oversampled, 0.4 critically
// sampled: kChannelizerEdges); other offsets are refused.
//
// Channels are added one by one (add_channel) before the first process call.
// The input goes through in passes of a fixed number of frames; each pass
// runs the channelizer into a work buffer and then every channel's receiver
// on its row. All receivers share their configuration but the offset and the
// squelch, so every row has the same length.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "channelizer.hpp"
#include "receiver.hpp"

namespace halvo::radio {

struct ReceiverBank {
    Mode mode = Mode::nbfm;
    double fs = 1.0;
    int m = 2;                  // channelizer channels
    double spacing = 1.0;       // D = fs / M
    double pass = 0.5;          // the channelizer's passband edge, in D
    double fs_ch = 1.0;         // oversample * D
    double audio_fs = 48000.0;
    double bandwidth_hz = NAN;  // NaN: the mode's default (as Receiver)
    double deviation_hz = NAN;
    double tau_us = NAN;
    bool tau_given = false;
    double cw_pitch_hz = 700.0;
    double stopband_db = 70.0;
    Channelizer bank;
    Receiver proto;             // the shared configuration, tuned to 0 Hz, never run
    std::vector<Receiver> rx;   // one per channel
    std::vector<int> row;       // the channelizer row feeding each channel
    std::vector<double> offsets;
    std::size_t frames_per_pass = 0;
    std::vector<cf32> work;     // M rows of at most frames_per_pass samples
    bool started = false;

    // Twice oversampled; set_oversample(1) before any channel is added
    // makes it critically sampled.
    static ReceiverBank make(int mode_index, double fs, int n_channels, double audio_fs, double bandwidth_hz,
                             double deviation_hz, double tau_us, bool tau_given, double cw_pitch_hz,
                             double stopband_db) {
        return build(mode_index, fs, n_channels, audio_fs, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz,
                     stopband_db, 2);
    }

    static ReceiverBank build(int mode_index, double fs, int n_channels, double audio_fs, double bandwidth_hz,
                              double deviation_hz, double tau_us, bool tau_given, double cw_pitch_hz,
                              double stopband_db, int oversample) {
        ReceiverBank b;
        b.stopband_db = stopband_db;
        b.bank = Channelizer::make(fs, n_channels, oversample, stopband_db);
        b.mode = static_cast<Mode>(mode_index < 0 || mode_index > 6 ? 0 : mode_index);
        b.fs = fs;
        b.m = n_channels;
        b.spacing = fs / n_channels;
        b.pass = kChannelizerEdges[oversample - 1].pass;
        b.fs_ch = oversample * b.spacing;
        b.audio_fs = audio_fs;
        b.bandwidth_hz = bandwidth_hz;
        b.deviation_hz = deviation_hz;
        b.tau_us = tau_us;
        b.tau_given = tau_given;
        b.cw_pitch_hz = cw_pitch_hz;
        // Every option is checked once, on a receiver at the channel rate.
        b.proto = Receiver::make_indexed(mode_index, b.fs_ch, 0.0, audio_fs, NAN, bandwidth_hz, deviation_hz, tau_us,
                                         tau_given, cw_pitch_hz);
        // About 32k complex samples of work space, at least 8 frames a pass.
        b.frames_per_pass = static_cast<std::size_t>(n_channels >= 4096 ? 8 : 32768 / n_channels);
        b.work.assign(static_cast<std::size_t>(n_channels) * b.frames_per_pass, cf32{0.0f, 0.0f});
        return b;
    }

    void set_oversample(int oversample) {
        if (!rx.empty()) throw ArgumentError("oversample must be set before channels are added");
        *this = build(static_cast<int>(mode), fs, m, audio_fs, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz,
                      stopband_db, oversample);
    }

    // Adds channel number `index` (its place in the output; channels are
    // added in order 0, 1, 2, ...) at offset_hz with its own squelch (NaN:
    // none). Returns the channelizer row that feeds it.
    int add_channel(int index, double offset_hz, double squelch_db) {
        if (started) throw ArgumentError("channels must be added before the first process call");
        if (index != static_cast<int>(rx.size()))
            throw ArgumentError("channel index must be " + std::to_string(rx.size()) + ", got " + std::to_string(index));
        const std::string name = "offsets_hz[" + std::to_string(index) + "]";
        if (!(std::fabs(offset_hz) <= 0.5 * fs))
            frontend::refuse(name.c_str(), offset_hz, "within +-fs/2 = +-" + frontend::show(0.5 * fs));
        const double nearest = std::nearbyint(offset_hz / spacing);
        const double residual = offset_hz - nearest * spacing;
        // The band the receiver's channel filter keeps, relative to the
        // channelizer channel's centre.
        const double bw = proto.bandwidth_hz;
        double lo = residual - 0.5 * bw, hi = residual + 0.5 * bw;
        if (mode == Mode::usb) lo = residual, hi = residual + bw;
        if (mode == Mode::lsb) lo = residual - bw, hi = residual;
        if (!(lo >= -pass * spacing && hi <= pass * spacing))
            frontend::refuse(name.c_str(), offset_hz,
                             "a channel whose band (" + frontend::show(bw) +
                                 " Hz wide) lies within +-" + frontend::show(pass * spacing) +
                                 " Hz of a multiple of the spacing fs/n_channels = " + frontend::show(spacing) + " Hz");
        if (!std::isnan(squelch_db) && !std::isfinite(squelch_db))
            frontend::refuse("squelch_db", squelch_db, "finite, or None");
        rx.push_back(tuned(residual, squelch_db));
        long long r = static_cast<long long>(nearest) % m;
        if (r < 0) r += m;
        row.push_back(static_cast<int>(r));
        offsets.push_back(offset_hz);
        return static_cast<int>(r);
    }

    // Receiver::make(mode, fs_ch, residual, audio_fs, squelch_db, <the
    // options>) without designing its filters again: of a receiver's parts
    // only the channel oscillator and the squelch depend on the offset and
    // the threshold, so the prototype (tuned to 0 Hz, fresh, no squelch) is
    // copied and those two set as make sets them.
    Receiver tuned(double residual, double squelch_db) const {
        Receiver r = proto;
        r.offset_hz = residual;
        double centre = residual;
        if (mode == Mode::usb) centre = residual + 0.5 * r.bandwidth_hz;
        if (mode == Mode::lsb) centre = residual - 0.5 * r.bandwidth_hz;
        r.channel.set_offset(centre);
        r.squelch_db = squelch_db;
        if (!std::isnan(squelch_db)) {
            r.has_squelch = true;
            r.squelch = audio::PowerSquelch::make(r.fs_ch, squelch_db);
        }
        return r;
    }

    HALVO_INLINE int output_rows() const { return static_cast<int>(rx.size()); }

    // Audio samples per channel that n more input samples complete (every
    // receiver has seen the same number of channel samples).
    HALVO_INLINE std::size_t output_count(std::size_t n) const {
        if (rx.empty()) return 0;
        return rx[0].output_count(bank.output_count(n));
    }

    bool is_open(int index) const {
        if (index < 0 || index >= static_cast<int>(rx.size()))
            throw ArgumentError("channel must be from 0 to " + std::to_string(rx.size()) + " - 1, got " +
                                std::to_string(index));
        return rx[static_cast<std::size_t>(index)].is_open();
    }
    int channel_row(int index) const {
        if (index < 0 || index >= static_cast<int>(rx.size()))
            throw ArgumentError("channel must be from 0 to " + std::to_string(rx.size()) + " - 1, got " +
                                std::to_string(index));
        return row[static_cast<std::size_t>(index)];
    }
    double channel_fs() const { return fs_ch; }
    double spacing_hz() const { return spacing; }

    // out: output_rows() rows of output_count(n) samples each.
    template <class Isa>
    void process(const cf32* in, float* out, std::size_t n) {
        if (rx.empty()) return;  // nothing to feed: the input is not consumed
        started = true;
        const std::size_t total = output_count(n);
        const std::size_t per_pass = frames_per_pass * static_cast<std::size_t>(bank.r);
        std::size_t done = 0;
        for (std::size_t i0 = 0; i0 < n; i0 += per_pass) {
            const std::size_t len = (n - i0 < per_pass) ? n - i0 : per_pass;
            const std::size_t frames = bank.output_count(len);  // <= frames_per_pass
            bank.process<Isa>(in + i0, work.data(), len);
            if (frames == 0) continue;
            std::size_t made = 0;
            for (std::size_t c = 0; c < rx.size(); ++c) {
                made = rx[c].output_count(frames);
                rx[c].process<Isa>(work.data() + static_cast<std::size_t>(row[c]) * frames, out + c * total + done,
                                   frames);
            }
            done += made;
        }
    }
};

}  // namespace halvo::radio
