// The Python side of halvo_radio._native: per class its name, constructor,
// docstring and method rows (the wrappers are binding.hpp's, the shape
// class_block.hpp's), and the module functions. Registration order is the
// radio class list's.
#include "class_block.hpp"
#include "classes.hpp"
#include "kernels/bank_table.hpp"

namespace halvo {
namespace {

using namespace binding;
using kernels::RadioKernelTable;

// One block per class (class_block.hpp): qualified name, constructor,
// docstring, method rows; the parameter lists come from the text signatures.
using ChannelizerPy = PyClass<Channelizer, "halvo_radio", &Channelizer::make,
    "Channelizer(fs, n_channels, oversample, stopband_db)\n--\n\n"
    "A polyphase bank of n_channels channels (a power of two), oversample 1 or 2.",
    Process<&kernels::BankKernelTable::Channelizer,
            "process($self, iq)\n--\n\nChannel k of each completed frame in row k: complex64, n_channels rows.">,
    Method<&Channelizer::output_rows, "n_channels($self)">>;

// ---- the front end (python/halvo_radio/frontend.py wraps these) -------------
using ChannelSelectorPy = PyClass<ChannelSelector, "halvo_radio", &ChannelSelector::make,
    "ChannelSelector(fs, offset_hz, decimation, bandwidth_hz, transition_hz, stopband_db)\n--\n\n"
    "Native channel selector (transition_hz NaN: the default); see halvo_radio.frontend.",
    Process<&RadioKernelTable::ChannelSelector, "process($self, iq)\n--\n\nThe outputs the samples complete, complex64.">,
    Method<&ChannelSelector::set_offset, "set_offset($self, hz)">, Method<&ChannelSelector::delay, "delay($self)">,
    Method<&ChannelSelector::transition, "transition($self)">>;

using ResamplerPy = PyClass<Resampler, "halvo_radio", &Resampler::make,
    "Resampler(fs_in, fs_out, bandwidth, stopband_db)\n--\n\nNative complex64 resampler; see halvo_radio.frontend.",
    Process<&RadioKernelTable::Resampler, "process($self, iq)">, Method<&Resampler::delay, "delay($self)">,
    Method<&Resampler::interpolation, "interpolation($self)">, Method<&Resampler::decimation, "decimation($self)">>;

using RealResamplerPy = PyClass<RealResampler, "halvo_radio", &RealResampler::make,
    "RealResampler(fs_in, fs_out, bandwidth, stopband_db)\n--\n\nNative float32 resampler; see halvo_radio.frontend.",
    Process<&RadioKernelTable::RealResampler, "process($self, x)">, Method<&RealResampler::delay, "delay($self)">,
    Method<&RealResampler::interpolation, "interpolation($self)">, Method<&RealResampler::decimation, "decimation($self)">>;

using UpconverterPy = PyClass<Upconverter, "halvo_radio", &Upconverter::make,
    "Upconverter(fs, interpolation, offset_hz, bandwidth_hz, stopband_db)\n--\n\n"
    "Native upconverter; see halvo_radio.frontend.",
    Process<&RadioKernelTable::Upconverter, "process($self, iq)\n--\n\ninterpolation outputs per input sample, complex64.">,
    Method<&Upconverter::set_offset, "set_offset($self, hz)">, Method<&Upconverter::delay, "delay($self)">>;

// ---- audio stage -----------------------------------------------------------
// The Python classes of halvo_radio (python/halvo_radio/audio.py) hold the
// documentation.
using DeemphasisPy = PyClass<Deemphasis, "halvo_radio._native", &Deemphasis::make,
    "Deemphasis(fs, tau_us=75.0)\n--\n\nFirst-order de-emphasis of float32 audio.",
    Process<&RadioKernelTable::Deemphasis,
            "process($self, x)\n--\n\nDe-emphasised float32 audio, one sample per input sample.">>;

using PreemphasisPy = PyClass<Preemphasis, "halvo_radio._native", &Preemphasis::make,
    "Preemphasis(fs, tau_us=75.0)\n--\n\nFirst-order pre-emphasis of float32 audio.",
    Process<&RadioKernelTable::Preemphasis,
            "process($self, x)\n--\n\nPre-emphasised float32 audio, one sample per input sample.">>;

using PowerSquelchPy = PyClass<PowerSquelch, "halvo_radio._native", &PowerSquelch::make,
    "PowerSquelch(fs, threshold_db, hysteresis_db=3.0, attack_ms=1.0, release_ms=10.0, average_ms=2.0)\n--\n\n"
    "A power squelch on complex64 samples.",
    Process<&RadioKernelTable::PowerSquelch, "process($self, iq)\n--\n\nThe input gated: zeros while closed, complex64.">,
    Method<&PowerSquelch::is_open, "is_open($self)">, Method<&PowerSquelch::set_threshold, "set_threshold($self, db)">>;

using AgcPy = PyClass<Agc, "halvo_radio._native", &Agc::make,
    "Agc(fs, target=0.5, attack_ms=10.0, decay_ms=300.0, max_gain_db=60.0, ceiling=1.0)\n--\n\n"
    "Automatic gain control of float32 audio.",
    Process<&RadioKernelTable::Agc, "process($self, x)\n--\n\nThe audio scaled towards the target RMS, float32.">>;

// ---- whole receiver and transmitter ----------------------------------------
// The mode comes as its index, every option explicitly (NaN: the mode's
// default); halvo_radio.Receiver / Transmitter take names and None.
using ReceiverPy = PyClass<Receiver, "halvo_radio._native", &Receiver::make_indexed,
    "Receiver(mode, fs, offset_hz, audio_fs, squelch_db, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz)"
    "\n--\n\nA whole receiver, complex64 at fs in, float32 audio out.",
    Process<&RadioKernelTable::Receiver, "process($self, iq)\n--\n\nfloat32 audio at audio_fs.">,
    Method<&Receiver::is_open, "is_open($self)">, Method<&Receiver::channel_fs, "channel_fs($self)">>;

using TransmitterPy = PyClass<Transmitter, "halvo_radio._native", &Transmitter::make_indexed,
    "Transmitter(mode, audio_fs, fs, offset_hz, bandwidth_hz, deviation_hz, tau_us, tau_given)\n--\n\n"
    "A whole transmitter, float32 audio in, complex64 at fs out.",
    Process<&RadioKernelTable::Transmitter, "process($self, x)\n--\n\ncomplex64 at fs.">>;

// ---- receiver bank (python/halvo_radio/receiver_bank.py wraps it) ----------
using ReceiverBankPy = PyClass<ReceiverBank, "halvo_radio._native", &ReceiverBank::make,
    "ReceiverBank(mode, fs, n_channels, audio_fs, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz, "
    "stopband_db)\n--\n\nNative receiver bank; see halvo_radio.receiver_bank.",
    Process<&kernels::BankKernelTable::ReceiverBank,
            "process($self, iq)\n--\n\nfloat32 audio at audio_fs, one row per channel.">,
    Method<&ReceiverBank::add_channel, "add_channel($self, index, offset_hz, squelch_db)">,
    Method<&ReceiverBank::is_open, "is_open($self, channel)">,
    Method<&ReceiverBank::channel_row, "channel_row($self, channel)">,
    Method<&ReceiverBank::channel_fs, "channel_fs($self)">,
    Method<&ReceiverBank::set_oversample, "set_oversample($self, oversample)">>;

}  // namespace

const ClassEntry kRadioClasses[kRadioClassCount] = {
#define HALVO_CLASS_ENTRY(Class, In, Out) {#Class, &Class##Py::type_spec},
    HALVO_RADIO_CLASSES(HALVO_CLASS_ENTRY)
#undef HALVO_CLASS_ENTRY
#define HALVO_BANK_ENTRY(Class, In, Out) {#Class "Bank", &Class##Bank_spec},
    HALVO_CLASSES(HALVO_BANK_ENTRY)
#undef HALVO_BANK_ENTRY
};

PyMethodDef kRadioFunctions[] = {
    function_row<"halvo_radio", &Channelizer::prototype_taps,
                 "channelizer_taps(n_channels, oversample, stopband_db)\n--\n\n"
                 "The prototype low-pass of such a bank, float32.">(),
    function_row<"halvo_radio", &frontend::lowpass_taps,
                 "lowpass_taps(fs, passband_hz, stopband_hz, stopband_db)\n--\n\n"
                 "Kaiser-windowed sinc low-pass, float32, unit DC gain.">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace halvo
