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
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace halvo
