// The Python side of halvo_radio._native: per class its parameter names,
// method rows and docstrings (the wrappers are binding.hpp's), and the
// module functions. Registration order is the radio class list's.
#include <iterator>

#include "binding.hpp"
#include "classes.hpp"

namespace halvo {
namespace {

using namespace binding;

// ---- Channelizer -----------------------------------------------------------
constexpr const char* Channelizer_params[] = {"fs", "n_channels", "oversample", "stopband_db"};
HALVO_DESCRIPTOR(Channelizer_new_desc, "Channelizer", "__new__", Channelizer_params)
constexpr const char* kIq[] = {"iq"};
constexpr const char* kNone[] = {nullptr};
constexpr ArgDescriptor Channelizer_process_desc = {"Channelizer", "process", kIq, 1, 1};
constexpr ArgDescriptor Channelizer_n_channels_desc = {"Channelizer", "n_channels", kNone, 0, 0};
PyMethodDef Channelizer_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Channelizer, Channelizer_process_desc>>(),
     kFastcallKeywords,
     "process($self, iq)\n--\n\nChannel k of each completed frame in row k: complex64, n_channels rows."},
    {"n_channels", fastcall<method<&Channelizer::output_rows, Channelizer_n_channels_desc>>(), kFastcallKeywords,
     "n_channels($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Channelizer_slots[6];
PyType_Spec Channelizer_spec = make_spec<Channelizer>(
    "halvo_radio.Channelizer",
    "Channelizer(fs, n_channels, oversample, stopband_db)\n--\n\n"
    "A polyphase bank of n_channels channels (a power of two), oversample 1 or 2.",
    construct<Channelizer, Channelizer_new_desc, &Channelizer::make>, Channelizer_methods, Channelizer_slots);

// ---- the front end (python/halvo_radio/frontend.py wraps these) -------------
constexpr const char* kX[] = {"x"};
constexpr const char* kHz[] = {"hz"};

constexpr const char* ChannelSelector_params[] = {"fs", "offset_hz", "decimation", "bandwidth_hz", "transition_hz", "stopband_db"};
HALVO_DESCRIPTOR(ChannelSelector_new_desc, "ChannelSelector", "__new__", ChannelSelector_params)
constexpr ArgDescriptor ChannelSelector_process_desc = {"ChannelSelector", "process", kIq, 1, 1};
constexpr ArgDescriptor ChannelSelector_set_offset_desc = {"ChannelSelector", "set_offset", kHz, 1, 1};
constexpr ArgDescriptor ChannelSelector_delay_desc = {"ChannelSelector", "delay", kNone, 0, 0};
constexpr ArgDescriptor ChannelSelector_transition_desc = {"ChannelSelector", "transition", kNone, 0, 0};
PyMethodDef ChannelSelector_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::ChannelSelector, ChannelSelector_process_desc>>(),
     kFastcallKeywords, "process($self, iq)\n--\n\nThe outputs the samples complete, complex64."},
    {"set_offset", fastcall<method<&ChannelSelector::set_offset, ChannelSelector_set_offset_desc>>(), kFastcallKeywords,
     "set_offset($self, hz)\n--\n\n"},
    {"delay", fastcall<method<&ChannelSelector::delay, ChannelSelector_delay_desc>>(), kFastcallKeywords, "delay($self)\n--\n\n"},
    {"transition", fastcall<method<&ChannelSelector::transition, ChannelSelector_transition_desc>>(), kFastcallKeywords,
     "transition($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot ChannelSelector_slots[6];
PyType_Spec ChannelSelector_spec = make_spec<ChannelSelector>(
    "halvo_radio.ChannelSelector",
    "ChannelSelector(fs, offset_hz, decimation, bandwidth_hz, transition_hz, stopband_db)\n--\n\n"
    "Native channel selector (transition_hz NaN: the default); see halvo_radio.frontend.",
    construct<ChannelSelector, ChannelSelector_new_desc, &ChannelSelector::make>, ChannelSelector_methods,
    ChannelSelector_slots);

constexpr const char* Resampler_params[] = {"fs_in", "fs_out", "bandwidth", "stopband_db"};
HALVO_DESCRIPTOR(Resampler_new_desc, "Resampler", "__new__", Resampler_params)
HALVO_DESCRIPTOR(RealResampler_new_desc, "RealResampler", "__new__", Resampler_params)
#define HALVO_RESAMPLER_BLOCK(Name, Arg, Doc)                                                                           \
    constexpr ArgDescriptor Name##_process_desc = {#Name, "process", Arg, 1, 1};                                      \
    constexpr ArgDescriptor Name##_delay_desc = {#Name, "delay", kNone, 0, 0};                                        \
    constexpr ArgDescriptor Name##_interpolation_desc = {#Name, "interpolation", kNone, 0, 0};                        \
    constexpr ArgDescriptor Name##_decimation_desc = {#Name, "decimation", kNone, 0, 0};                              \
    PyMethodDef Name##_methods[] = {                                                                                   \
        {"process", fastcall<process_method<&kernels::RadioKernelTable::Name, Name##_process_desc>>(), kFastcallKeywords, \
         "process($self, x)\n--\n\n"},                                                                               \
        {"delay", fastcall<method<&Name::delay, Name##_delay_desc>>(), kFastcallKeywords, "delay($self)\n--\n\n"},     \
        {"interpolation", fastcall<method<&Name::interpolation, Name##_interpolation_desc>>(), kFastcallKeywords,      \
         "interpolation($self)\n--\n\n"},                                                                            \
        {"decimation", fastcall<method<&Name::decimation, Name##_decimation_desc>>(), kFastcallKeywords,              \
         "decimation($self)\n--\n\n"},                                                                               \
        {nullptr, nullptr, 0, nullptr},                                                                                \
    };                                                                                                                 \
    PyType_Slot Name##_slots[6];                                                                                       \
    PyType_Spec Name##_spec = make_spec<Name>("halvo_radio." #Name, #Name "(fs_in, fs_out, bandwidth, stopband_db)\n--\n\n" Doc, \
                                              construct<Name, Name##_new_desc, &Name::make>, Name##_methods, Name##_slots);
HALVO_RESAMPLER_BLOCK(Resampler, kIq, "Native complex64 resampler; see halvo_radio.frontend.")
HALVO_RESAMPLER_BLOCK(RealResampler, kX, "Native float32 resampler; see halvo_radio.frontend.")
#undef HALVO_RESAMPLER_BLOCK

constexpr const char* Upconverter_params[] = {"fs", "interpolation", "offset_hz", "bandwidth_hz", "stopband_db"};
HALVO_DESCRIPTOR(Upconverter_new_desc, "Upconverter", "__new__", Upconverter_params)
constexpr ArgDescriptor Upconverter_process_desc = {"Upconverter", "process", kIq, 1, 1};
constexpr ArgDescriptor Upconverter_set_offset_desc = {"Upconverter", "set_offset", kHz, 1, 1};
constexpr ArgDescriptor Upconverter_delay_desc = {"Upconverter", "delay", kNone, 0, 0};
PyMethodDef Upconverter_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Upconverter, Upconverter_process_desc>>(),
     kFastcallKeywords, "process($self, iq)\n--\n\ninterpolation outputs per input sample, complex64."},
    {"set_offset", fastcall<method<&Upconverter::set_offset, Upconverter_set_offset_desc>>(), kFastcallKeywords,
     "set_offset($self, hz)\n--\n\n"},
    {"delay", fastcall<method<&Upconverter::delay, Upconverter_delay_desc>>(), kFastcallKeywords, "delay($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Upconverter_slots[6];
PyType_Spec Upconverter_spec = make_spec<Upconverter>(
    "halvo_radio.Upconverter",
    "Upconverter(fs, interpolation, offset_hz, bandwidth_hz, stopband_db)\n--\n\nNative upconverter; see halvo_radio.frontend.",
    construct<Upconverter, Upconverter_new_desc, &Upconverter::make>, Upconverter_methods, Upconverter_slots);

constexpr const char* lowpass_taps_params[] = {"fs", "passband_hz", "stopband_hz", "stopband_db"};
HALVO_DESCRIPTOR(lowpass_taps_desc, "halvo_radio", "lowpass_taps", lowpass_taps_params)
// ---- audio stage -----------------------------------------------------------
// One process row and the setters/queries; the Python classes of
// halvo_radio (python/halvo_radio/audio.py) hold the documentation.
#define HALVO_RADIO_PROCESS(Name, arg)                                                                              \
    constexpr ArgDescriptor Name##_process_desc = {#Name, "process", arg, 1, 1};
constexpr const char* kDb[] = {"db"};

constexpr const char* Deemphasis_params[] = {"fs", "tau_us"};
constexpr ArgDescriptor Deemphasis_new_desc = {"Deemphasis", "__new__", Deemphasis_params, 2, 1};
constexpr double emphasis_defaults[] = {0.0, 75.0};
HALVO_RADIO_PROCESS(Deemphasis, kX)
PyMethodDef Deemphasis_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Deemphasis, Deemphasis_process_desc>>(),
     kFastcallKeywords, "process($self, x)\n--\n\nDe-emphasised float32 audio, one sample per input sample."},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Deemphasis_slots[6];
PyType_Spec Deemphasis_spec = make_spec<Deemphasis>(
    "halvo_radio._native.Deemphasis", "Deemphasis(fs, tau_us=75.0)\n--\n\nFirst-order de-emphasis of float32 audio.",
    construct<Deemphasis, Deemphasis_new_desc, &Deemphasis::make, emphasis_defaults, 2>, Deemphasis_methods,
    Deemphasis_slots);

constexpr const char* Preemphasis_params[] = {"fs", "tau_us"};
constexpr ArgDescriptor Preemphasis_new_desc = {"Preemphasis", "__new__", Preemphasis_params, 2, 1};
HALVO_RADIO_PROCESS(Preemphasis, kX)
PyMethodDef Preemphasis_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Preemphasis, Preemphasis_process_desc>>(),
     kFastcallKeywords, "process($self, x)\n--\n\nPre-emphasised float32 audio, one sample per input sample."},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Preemphasis_slots[6];
PyType_Spec Preemphasis_spec = make_spec<Preemphasis>(
    "halvo_radio._native.Preemphasis", "Preemphasis(fs, tau_us=75.0)\n--\n\nFirst-order pre-emphasis of float32 audio.",
    construct<Preemphasis, Preemphasis_new_desc, &Preemphasis::make, emphasis_defaults, 2>, Preemphasis_methods,
    Preemphasis_slots);

constexpr const char* PowerSquelch_params[] = {"fs", "threshold_db", "hysteresis_db", "attack_ms", "release_ms",
                                               "average_ms"};
constexpr ArgDescriptor PowerSquelch_new_desc = {"PowerSquelch", "__new__", PowerSquelch_params, 6, 2};
constexpr double PowerSquelch_defaults[] = {0.0, 0.0, 3.0, 1.0, 10.0, 2.0};
HALVO_RADIO_PROCESS(PowerSquelch, kIq)
constexpr ArgDescriptor PowerSquelch_is_open_desc = {"PowerSquelch", "is_open", kNone, 0, 0};
constexpr ArgDescriptor PowerSquelch_set_threshold_desc = {"PowerSquelch", "set_threshold", kDb, 1, 1};
PyMethodDef PowerSquelch_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::PowerSquelch, PowerSquelch_process_desc>>(),
     kFastcallKeywords, "process($self, iq)\n--\n\nThe input gated: zeros while closed, complex64."},
    {"is_open", fastcall<method<&PowerSquelch::is_open, PowerSquelch_is_open_desc>>(), kFastcallKeywords,
     "is_open($self)\n--\n\n"},
    {"set_threshold", fastcall<method<&PowerSquelch::set_threshold, PowerSquelch_set_threshold_desc>>(),
     kFastcallKeywords, "set_threshold($self, db)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot PowerSquelch_slots[6];
PyType_Spec PowerSquelch_spec = make_spec<PowerSquelch>(
    "halvo_radio._native.PowerSquelch",
    "PowerSquelch(fs, threshold_db, hysteresis_db=3.0, attack_ms=1.0, release_ms=10.0, average_ms=2.0)\n--\n\n"
    "A power squelch on complex64 samples.",
    construct<PowerSquelch, PowerSquelch_new_desc, &PowerSquelch::make, PowerSquelch_defaults, 6>,
    PowerSquelch_methods, PowerSquelch_slots);

constexpr const char* Agc_params[] = {"fs", "target", "attack_ms", "decay_ms", "max_gain_db"};
constexpr ArgDescriptor Agc_new_desc = {"Agc", "__new__", Agc_params, 5, 1};
constexpr double Agc_defaults[] = {0.0, 0.5, 10.0, 300.0, 60.0};
HALVO_RADIO_PROCESS(Agc, kX)
PyMethodDef Agc_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Agc, Agc_process_desc>>(), kFastcallKeywords,
     "process($self, x)\n--\n\nThe audio scaled towards the target RMS, float32."},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Agc_slots[6];
PyType_Spec Agc_spec = make_spec<Agc>(
    "halvo_radio._native.Agc",
    "Agc(fs, target=0.5, attack_ms=10.0, decay_ms=300.0, max_gain_db=60.0)\n--\n\nAutomatic gain control of float32 audio.",
    construct<Agc, Agc_new_desc, &Agc::make, Agc_defaults, 5>, Agc_methods, Agc_slots);

// ---- whole receiver and transmitter ----------------------------------------
// The mode comes as its index, every option explicitly (NaN: the mode's
// default); halvo_radio.Receiver / Transmitter take names and None.
constexpr const char* Receiver_params[] = {"mode", "fs", "offset_hz", "audio_fs", "squelch_db", "bandwidth_hz",
                                           "deviation_hz", "tau_us", "tau_given", "cw_pitch_hz"};
HALVO_DESCRIPTOR(Receiver_new_desc, "Receiver", "__new__", Receiver_params)
HALVO_RADIO_PROCESS(Receiver, kIq)
constexpr ArgDescriptor Receiver_is_open_desc = {"Receiver", "is_open", kNone, 0, 0};
constexpr ArgDescriptor Receiver_channel_fs_desc = {"Receiver", "channel_fs", kNone, 0, 0};
PyMethodDef Receiver_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Receiver, Receiver_process_desc>>(),
     kFastcallKeywords, "process($self, iq)\n--\n\nfloat32 audio at audio_fs."},
    {"is_open", fastcall<method<&Receiver::is_open, Receiver_is_open_desc>>(), kFastcallKeywords,
     "is_open($self)\n--\n\n"},
    {"channel_fs", fastcall<method<&Receiver::channel_fs, Receiver_channel_fs_desc>>(), kFastcallKeywords,
     "channel_fs($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Receiver_slots[6];
PyType_Spec Receiver_spec = make_spec<Receiver>(
    "halvo_radio._native.Receiver",
    "Receiver(mode, fs, offset_hz, audio_fs, squelch_db, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz)"
    "\n--\n\nA whole receiver, complex64 at fs in, float32 audio out.",
    construct<Receiver, Receiver_new_desc, &Receiver::make_indexed>, Receiver_methods, Receiver_slots);

constexpr const char* Transmitter_params[] = {"mode", "audio_fs", "fs", "offset_hz", "bandwidth_hz", "deviation_hz",
                                              "tau_us", "tau_given"};
HALVO_DESCRIPTOR(Transmitter_new_desc, "Transmitter", "__new__", Transmitter_params)
HALVO_RADIO_PROCESS(Transmitter, kX)
PyMethodDef Transmitter_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::Transmitter, Transmitter_process_desc>>(),
     kFastcallKeywords, "process($self, x)\n--\n\ncomplex64 at fs."},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot Transmitter_slots[6];
PyType_Spec Transmitter_spec = make_spec<Transmitter>(
    "halvo_radio._native.Transmitter",
    "Transmitter(mode, audio_fs, fs, offset_hz, bandwidth_hz, deviation_hz, tau_us, tau_given)\n--\n\n"
    "A whole transmitter, float32 audio in, complex64 at fs out.",
    construct<Transmitter, Transmitter_new_desc, &Transmitter::make_indexed>, Transmitter_methods,
    Transmitter_slots);

// ---- receiver bank (python/halvo_radio/receiver_bank.py wraps it) ----------
constexpr const char* ReceiverBank_params[] = {"mode", "fs", "n_channels", "audio_fs", "bandwidth_hz", "deviation_hz",
                                               "tau_us", "tau_given", "cw_pitch_hz", "stopband_db"};
HALVO_DESCRIPTOR(ReceiverBank_new_desc, "ReceiverBank", "__new__", ReceiverBank_params)
HALVO_RADIO_PROCESS(ReceiverBank, kIq)
constexpr const char* ReceiverBank_add_params[] = {"index", "offset_hz", "squelch_db"};
constexpr ArgDescriptor ReceiverBank_add_channel_desc = {"ReceiverBank", "add_channel", ReceiverBank_add_params, 3, 3};
constexpr const char* kChannel[] = {"channel"};
constexpr ArgDescriptor ReceiverBank_is_open_desc = {"ReceiverBank", "is_open", kChannel, 1, 1};
constexpr ArgDescriptor ReceiverBank_channel_row_desc = {"ReceiverBank", "channel_row", kChannel, 1, 1};
constexpr ArgDescriptor ReceiverBank_channel_fs_desc = {"ReceiverBank", "channel_fs", kNone, 0, 0};
constexpr const char* kOversample[] = {"oversample"};
constexpr ArgDescriptor ReceiverBank_set_oversample_desc = {"ReceiverBank", "set_oversample", kOversample, 1, 1};
PyMethodDef ReceiverBank_methods[] = {
    {"process", fastcall<process_method<&kernels::RadioKernelTable::ReceiverBank, ReceiverBank_process_desc>>(),
     kFastcallKeywords, "process($self, iq)\n--\n\nfloat32 audio at audio_fs, one row per channel."},
    {"add_channel", fastcall<method<&ReceiverBank::add_channel, ReceiverBank_add_channel_desc>>(), kFastcallKeywords,
     "add_channel($self, index, offset_hz, squelch_db)\n--\n\n"},
    {"is_open", fastcall<method<&ReceiverBank::is_open, ReceiverBank_is_open_desc>>(), kFastcallKeywords,
     "is_open($self, channel)\n--\n\n"},
    {"channel_row", fastcall<method<&ReceiverBank::channel_row, ReceiverBank_channel_row_desc>>(), kFastcallKeywords,
     "channel_row($self, channel)\n--\n\n"},
    {"channel_fs", fastcall<method<&ReceiverBank::channel_fs, ReceiverBank_channel_fs_desc>>(), kFastcallKeywords,
     "channel_fs($self)\n--\n\n"},
    {"set_oversample", fastcall<method<&ReceiverBank::set_oversample, ReceiverBank_set_oversample_desc>>(),
     kFastcallKeywords, "set_oversample($self, oversample)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot ReceiverBank_slots[6];
PyType_Spec ReceiverBank_spec = make_spec<ReceiverBank>(
    "halvo_radio._native.ReceiverBank",
    "ReceiverBank(mode, fs, n_channels, audio_fs, bandwidth_hz, deviation_hz, tau_us, tau_given, cw_pitch_hz, "
    "stopband_db)\n--\n\nNative receiver bank; see halvo_radio.receiver_bank.",
    construct<ReceiverBank, ReceiverBank_new_desc, &ReceiverBank::make>, ReceiverBank_methods, ReceiverBank_slots);
#undef HALVO_RADIO_PROCESS

// ---- module functions ------------------------------------------------------
constexpr const char* channelizer_taps_params[] = {"n_channels", "oversample", "stopband_db"};
HALVO_DESCRIPTOR(channelizer_taps_desc, "halvo_radio", "channelizer_taps", channelizer_taps_params)

}  // namespace

const ClassEntry kRadioClasses[kRadioClassCount] = {
#define HALVO_CLASS_ENTRY(Class, In, Out) {#Class, &Class##_spec},
    HALVO_RADIO_CLASSES(HALVO_CLASS_ENTRY)
#undef HALVO_CLASS_ENTRY
};

PyMethodDef kRadioFunctions[] = {
    {"channelizer_taps", fastcall<function<&Channelizer::prototype_taps, channelizer_taps_desc>>(), kFastcallKeywords,
     "channelizer_taps(n_channels, oversample, stopband_db)\n--\n\nThe prototype low-pass of such a bank, float32."},
    {"lowpass_taps", fastcall<function<&frontend::lowpass_taps, lowpass_taps_desc>>(), kFastcallKeywords,
     "lowpass_taps(fs, passband_hz, stopband_hz, stopband_db)\n--\n\nKaiser-windowed sinc low-pass, float32, unit DC gain."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace halvo
