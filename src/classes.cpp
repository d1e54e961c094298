// The Python side of halvo_sdr's ten classes: names, method rows and
// docstrings. The wrappers themselves are generic (binding.hpp); the order
// of registration is the class list's (class_list.hpp).
#include "classes.hpp"

#include <iterator>

#include "binding.hpp"

namespace halvo {
namespace {

using namespace binding;

// Method docstrings: text signatures.
const char kProcessIqDoc[] = "process($self, iq)\n--\n\n";
const char kProcessAudioDoc[] = "process($self, audio)\n--\n\n";
const char kProcessKeyingDoc[] = "process($self, audio)\n--\n\nInput: keying envelope 0..1 as float32 array.";
const char kSetGainDoc[] = "set_gain($self, g)\n--\n\n";
const char kSetClampDoc[] = "set_clamp($self, on)\n--\n\n";
const char kSetDeviationDoc[] = "set_deviation($self, hz)\n--\n\n";
const char kSetSensitivityDoc[] = "set_sensitivity($self, kp)\n--\n\n";

constexpr const char* kIq[] = {"iq"};
constexpr const char* kAudio[] = {"audio"};
constexpr const char* kG[] = {"g"};
constexpr const char* kOn[] = {"on"};
constexpr const char* kHz[] = {"hz"};
constexpr const char* kKp[] = {"kp"};

// One block per class, only what is its own: parameter names, the method
// rows, the docstrings. Conversion and the make() call follow the class's
// own signature; element types come from its kernel slot (binding.hpp).
// ---- CwEnvelopeDemod ------------------------------------------------------
constexpr const char* CwEnvelopeDemod_params[] = {"sample_rate", "tone_hz", "env_bw_hz"};
HALVO_DESCRIPTOR(CwEnvelopeDemod_new_desc, "CwEnvelopeDemod", "__new__", CwEnvelopeDemod_params)
HALVO_DESCRIPTOR(CwEnvelopeDemod_set_gain_desc, "CwEnvelopeDemod", "set_gain", kG)
HALVO_DESCRIPTOR(CwEnvelopeDemod_process_desc, "CwEnvelopeDemod", "process", kIq)
PyMethodDef CwEnvelopeDemod_methods[] = {
    {"set_gain", fastcall<method<&CwEnvelopeDemod::set_gain, CwEnvelopeDemod_set_gain_desc>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<&kernels::KernelTable::CwEnvelopeDemod, CwEnvelopeDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot CwEnvelopeDemod_slots[6];
PyType_Spec CwEnvelopeDemod_spec = make_spec<CwEnvelopeDemod>(
    "builtins.CwEnvelopeDemod", "CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)\n--\n\n",
    construct<CwEnvelopeDemod, CwEnvelopeDemod_new_desc, &CwEnvelopeDemod::make>,
    CwEnvelopeDemod_methods, CwEnvelopeDemod_slots);

// ---- AmEnvelopeDemod ------------------------------------------------------
constexpr const char* AmEnvelopeDemod_params[] = {"fs", "audio_bw_hz", "abs_approx"};
constexpr ArgDescriptor AmEnvelopeDemod_new_desc = {"AmEnvelopeDemod", "__new__", AmEnvelopeDemod_params, 3, 2};
HALVO_DESCRIPTOR(AmEnvelopeDemod_process_desc, "AmEnvelopeDemod", "process", kIq)
PyMethodDef AmEnvelopeDemod_methods[] = {
    {"process", fastcall<process_method<&kernels::KernelTable::AmEnvelopeDemod, AmEnvelopeDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot AmEnvelopeDemod_slots[6];
PyType_Spec AmEnvelopeDemod_spec = make_spec<AmEnvelopeDemod>(
    "builtins.AmEnvelopeDemod", "AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)\n--\n\n",
    construct<AmEnvelopeDemod, AmEnvelopeDemod_new_desc, &AmEnvelopeDemod::make>,
    AmEnvelopeDemod_methods, AmEnvelopeDemod_slots);

// ---- SsbProductDemod ------------------------------------------------------
constexpr const char* SsbProductDemod_params[] = {"fs", "bfo_hz", "audio_bw_hz"};
HALVO_DESCRIPTOR(SsbProductDemod_new_desc, "SsbProductDemod", "__new__", SsbProductDemod_params)
HALVO_DESCRIPTOR(SsbProductDemod_process_desc, "SsbProductDemod", "process", kIq)
PyMethodDef SsbProductDemod_methods[] = {
    {"process", fastcall<process_method<&kernels::KernelTable::SsbProductDemod, SsbProductDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot SsbProductDemod_slots[6];
PyType_Spec SsbProductDemod_spec = make_spec<SsbProductDemod>(
    "builtins.SsbProductDemod", "SsbProductDemod(fs, bfo_hz, audio_bw_hz)\n--\n\n",
    construct<SsbProductDemod, SsbProductDemod_new_desc, &SsbProductDemod::make>,
    SsbProductDemod_methods, SsbProductDemod_slots);

// ---- FmQuadratureDemod ----------------------------------------------------
constexpr const char* FmQuadratureDemod_params[] = {"fs", "dev_hz", "audio_bw_hz"};
HALVO_DESCRIPTOR(FmQuadratureDemod_new_desc, "FmQuadratureDemod", "__new__", FmQuadratureDemod_params)
HALVO_DESCRIPTOR(FmQuadratureDemod_process_desc, "FmQuadratureDemod", "process", kIq)
PyMethodDef FmQuadratureDemod_methods[] = {
    {"process", fastcall<process_method<&kernels::KernelTable::FmQuadratureDemod, FmQuadratureDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot FmQuadratureDemod_slots[6];
PyType_Spec FmQuadratureDemod_spec = make_spec<FmQuadratureDemod>(
    "builtins.FmQuadratureDemod", "FmQuadratureDemod(fs, dev_hz, audio_bw_hz)\n--\n\n",
    construct<FmQuadratureDemod, FmQuadratureDemod_new_desc, &FmQuadratureDemod::make>,
    FmQuadratureDemod_methods, FmQuadratureDemod_slots);

// ---- PmQuadratureDemod ----------------------------------------------------
constexpr const char* PmQuadratureDemod_params[] = {"fs", "k", "audio_bw_hz"};
HALVO_DESCRIPTOR(PmQuadratureDemod_new_desc, "PmQuadratureDemod", "__new__", PmQuadratureDemod_params)
HALVO_DESCRIPTOR(PmQuadratureDemod_process_desc, "PmQuadratureDemod", "process", kIq)
PyMethodDef PmQuadratureDemod_methods[] = {
    {"process", fastcall<process_method<&kernels::KernelTable::PmQuadratureDemod, PmQuadratureDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot PmQuadratureDemod_slots[6];
PyType_Spec PmQuadratureDemod_spec = make_spec<PmQuadratureDemod>(
    "builtins.PmQuadratureDemod", "PmQuadratureDemod(fs, k, audio_bw_hz)\n--\n\n",
    construct<PmQuadratureDemod, PmQuadratureDemod_new_desc, &PmQuadratureDemod::make>,
    PmQuadratureDemod_methods, PmQuadratureDemod_slots);

// ---- AmDsbMod -------------------------------------------------------------
constexpr const char* AmDsbMod_params[] = {"fs", "rf_hz", "carrier_level", "modulation_index"};
HALVO_DESCRIPTOR(AmDsbMod_new_desc, "AmDsbMod", "__new__", AmDsbMod_params)
HALVO_DESCRIPTOR(AmDsbMod_set_gain_desc, "AmDsbMod", "set_gain", kG)
HALVO_DESCRIPTOR(AmDsbMod_set_clamp_desc, "AmDsbMod", "set_clamp", kOn)
HALVO_DESCRIPTOR(AmDsbMod_process_desc, "AmDsbMod", "process", kAudio)
PyMethodDef AmDsbMod_methods[] = {
    {"set_gain", fastcall<method<&AmDsbMod::set_gain, AmDsbMod_set_gain_desc>>(), kFastcallKeywords, kSetGainDoc},
    {"set_clamp", fastcall<method<&AmDsbMod::set_clamp, AmDsbMod_set_clamp_desc>>(), kFastcallKeywords, kSetClampDoc},
    {"process", fastcall<process_method<&kernels::KernelTable::AmDsbMod, AmDsbMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot AmDsbMod_slots[6];
PyType_Spec AmDsbMod_spec = make_spec<AmDsbMod>(
    "builtins.AmDsbMod", "AmDsbMod(fs, rf_hz, carrier_level, modulation_index)\n--\n\n",
    construct<AmDsbMod, AmDsbMod_new_desc, &AmDsbMod::make>, AmDsbMod_methods, AmDsbMod_slots);

// ---- CwKeyedMod -----------------------------------------------------------
constexpr const char* CwKeyedMod_params[] = {"sample_rate", "tone_hz", "rise_ms", "fall_ms"};
HALVO_DESCRIPTOR(CwKeyedMod_new_desc, "CwKeyedMod", "__new__", CwKeyedMod_params)
HALVO_DESCRIPTOR(CwKeyedMod_set_gain_desc, "CwKeyedMod", "set_gain", kG)
HALVO_DESCRIPTOR(CwKeyedMod_process_desc, "CwKeyedMod", "process", kAudio)
PyMethodDef CwKeyedMod_methods[] = {
    {"set_gain", fastcall<method<&CwKeyedMod::set_gain, CwKeyedMod_set_gain_desc>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<&kernels::KernelTable::CwKeyedMod, CwKeyedMod_process_desc>>(), kFastcallKeywords, kProcessKeyingDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot CwKeyedMod_slots[6];
PyType_Spec CwKeyedMod_spec = make_spec<CwKeyedMod>(
    "builtins.CwKeyedMod", "CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)\n--\n\n",
    construct<CwKeyedMod, CwKeyedMod_new_desc, &CwKeyedMod::make>, CwKeyedMod_methods, CwKeyedMod_slots);

// ---- SsbPhasingMod --------------------------------------------------------
constexpr const char* SsbPhasingMod_params[] = {"fs", "audio_bw_hz", "audio_if_hz", "rf_hz", "usb"};
HALVO_DESCRIPTOR(SsbPhasingMod_new_desc, "SsbPhasingMod", "__new__", SsbPhasingMod_params)
HALVO_DESCRIPTOR(SsbPhasingMod_process_desc, "SsbPhasingMod", "process", kAudio)
PyMethodDef SsbPhasingMod_methods[] = {
    {"process", fastcall<process_method<&kernels::KernelTable::SsbPhasingMod, SsbPhasingMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot SsbPhasingMod_slots[6];
PyType_Spec SsbPhasingMod_spec = make_spec<SsbPhasingMod>(
    "builtins.SsbPhasingMod", "SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)\n--\n\n",
    construct<SsbPhasingMod, SsbPhasingMod_new_desc, &SsbPhasingMod::make>,
    SsbPhasingMod_methods, SsbPhasingMod_slots);

// ---- FmPhaseAccumMod ------------------------------------------------------
constexpr const char* FmPhaseAccumMod_params[] = {"sample_rate", "deviation_hz", "rf_hz"};
HALVO_DESCRIPTOR(FmPhaseAccumMod_new_desc, "FmPhaseAccumMod", "__new__", FmPhaseAccumMod_params)
HALVO_DESCRIPTOR(FmPhaseAccumMod_set_deviation_desc, "FmPhaseAccumMod", "set_deviation", kHz)
HALVO_DESCRIPTOR(FmPhaseAccumMod_set_gain_desc, "FmPhaseAccumMod", "set_gain", kG)
HALVO_DESCRIPTOR(FmPhaseAccumMod_process_desc, "FmPhaseAccumMod", "process", kAudio)
PyMethodDef FmPhaseAccumMod_methods[] = {
    {"set_deviation", fastcall<method<&FmPhaseAccumMod::set_deviation, FmPhaseAccumMod_set_deviation_desc>>(), kFastcallKeywords, kSetDeviationDoc},
    {"set_gain", fastcall<method<&FmPhaseAccumMod::set_gain, FmPhaseAccumMod_set_gain_desc>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<&kernels::KernelTable::FmPhaseAccumMod, FmPhaseAccumMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot FmPhaseAccumMod_slots[6];
PyType_Spec FmPhaseAccumMod_spec = make_spec<FmPhaseAccumMod>(
    "builtins.FmPhaseAccumMod", "FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)\n--\n\n",
    construct<FmPhaseAccumMod, FmPhaseAccumMod_new_desc, &FmPhaseAccumMod::make>,
    FmPhaseAccumMod_methods, FmPhaseAccumMod_slots);

// ---- PmDirectPhaseMod -----------------------------------------------------
constexpr const char* PmDirectPhaseMod_params[] = {"sample_rate", "kp_rad_per_unit", "rf_hz"};
HALVO_DESCRIPTOR(PmDirectPhaseMod_new_desc, "PmDirectPhaseMod", "__new__", PmDirectPhaseMod_params)
HALVO_DESCRIPTOR(PmDirectPhaseMod_set_gain_desc, "PmDirectPhaseMod", "set_gain", kG)
HALVO_DESCRIPTOR(PmDirectPhaseMod_set_sensitivity_desc, "PmDirectPhaseMod", "set_sensitivity", kKp)
HALVO_DESCRIPTOR(PmDirectPhaseMod_process_desc, "PmDirectPhaseMod", "process", kAudio)
PyMethodDef PmDirectPhaseMod_methods[] = {
    {"set_gain", fastcall<method<&PmDirectPhaseMod::set_gain, PmDirectPhaseMod_set_gain_desc>>(), kFastcallKeywords, kSetGainDoc},
    {"set_sensitivity", fastcall<method<&PmDirectPhaseMod::set_sensitivity, PmDirectPhaseMod_set_sensitivity_desc>>(), kFastcallKeywords, kSetSensitivityDoc},
    {"process", fastcall<process_method<&kernels::KernelTable::PmDirectPhaseMod, PmDirectPhaseMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot PmDirectPhaseMod_slots[6];
PyType_Spec PmDirectPhaseMod_spec = make_spec<PmDirectPhaseMod>(
    "builtins.PmDirectPhaseMod", "PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)\n--\n\n",
    construct<PmDirectPhaseMod, PmDirectPhaseMod_new_desc, &PmDirectPhaseMod::make>,
    PmDirectPhaseMod_methods, PmDirectPhaseMod_slots);

}  // namespace

const ClassEntry kClasses[kClassCount] = {
#define HALVO_CLASS_ENTRY(Class, In, Out) {#Class, &Class##_spec},
    HALVO_CLASSES(HALVO_CLASS_ENTRY)
#undef HALVO_CLASS_ENTRY
};

}  // namespace halvo
