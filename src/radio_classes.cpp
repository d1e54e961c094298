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
