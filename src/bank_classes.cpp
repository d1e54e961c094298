// The Python side of the banks (radio/bank.hpp) in halvo_radio._native: per
// bank its constructor (n_channels, then the class's own parameters),
// process over channels x samples given flat (python/halvo_radio/bank.py
// checks the shape and makes the view), set_channel, n_channels and the
// class's setters with a channel index in front (-1: every channel).
#include <iterator>

#include "binding.hpp"
#include "classes.hpp"
#include "kernels/bank_table.hpp"

namespace halvo {
namespace {

using namespace binding;

constexpr const char* kIq[] = {"iq"};
constexpr const char* kAudio[] = {"audio"};
constexpr const char* kNone[] = {nullptr};
constexpr const char* kG[] = {"k", "g"};
constexpr const char* kOn[] = {"k", "on"};
constexpr const char* kHz[] = {"k", "hz"};
constexpr const char* kKp[] = {"k", "kp"};

// The rows every bank has; Input names process's argument.
#define HALVO_BANK_ROWS(Bank, Input)                                                                          \
    {"process", fastcall<process_method<&kernels::BankKernelTable::Bank, Bank##_process_desc>>(),             \
     kFastcallKeywords, "process($self, " #Input ")\n--\n\nRow by row, channels x samples given flat."},      \
        {"set_channel", fastcall<method<&Bank::set_channel, Bank##_set_channel_desc>>(), kFastcallKeywords,   \
         "Channel k anew with these parameters and fresh state."},                                            \
        {"n_channels", fastcall<method<&Bank::n_channels, Bank##_n_channels_desc>>(), kFastcallKeywords,      \
         "n_channels($self)\n--\n\n"}

#define HALVO_BANK_DESCRIPTORS(Bank, Input)                                                     \
    constexpr ArgDescriptor Bank##_new_desc = {#Bank, "__new__", Bank##_params,                 \
                                               static_cast<int>(std::size(Bank##_params)),      \
                                               static_cast<int>(std::size(Bank##_params))};     \
    constexpr ArgDescriptor Bank##_set_channel_desc = {#Bank, "set_channel", Bank##_params,     \
                                                       static_cast<int>(std::size(Bank##_params)), \
                                                       static_cast<int>(std::size(Bank##_params))}; \
    constexpr ArgDescriptor Bank##_process_desc = {#Bank, "process", Input, 1, 1};              \
    constexpr ArgDescriptor Bank##_n_channels_desc = {#Bank, "n_channels", kNone, 0, 0};

#define HALVO_BANK_SETTER(Bank, Class, name, names) \
    {#name, fastcall<method<&Bank::template set<&Class::name>, names##_desc_##Bank>>(), kFastcallKeywords, nullptr}

// The first parameter is the channel count for the constructor and the
// channel index for set_channel; both take the class's parameters after it.
constexpr const char* CwEnvelopeDemodBank_params[] = {"n", "sample_rate", "tone_hz", "env_bw_hz"};
constexpr const char* AmEnvelopeDemodBank_params[] = {"n", "fs", "audio_bw_hz", "abs_approx"};
constexpr const char* SsbProductDemodBank_params[] = {"n", "fs", "bfo_hz", "audio_bw_hz"};
constexpr const char* FmQuadratureDemodBank_params[] = {"n", "fs", "dev_hz", "audio_bw_hz"};
constexpr const char* PmQuadratureDemodBank_params[] = {"n", "fs", "k", "audio_bw_hz"};
constexpr const char* AmDsbModBank_params[] = {"n", "fs", "rf_hz", "carrier_level", "modulation_index"};
constexpr const char* CwKeyedModBank_params[] = {"n", "sample_rate", "tone_hz", "rise_ms", "fall_ms"};
constexpr const char* FmPhaseAccumModBank_params[] = {"n", "sample_rate", "deviation_hz", "rf_hz"};
constexpr const char* PmDirectPhaseModBank_params[] = {"n", "sample_rate", "kp_rad_per_unit", "rf_hz"};
constexpr const char* SsbPhasingModBank_params[] = {"n", "fs", "audio_bw_hz", "audio_if_hz", "rf_hz", "usb"};

HALVO_BANK_DESCRIPTORS(CwEnvelopeDemodBank, kIq)
HALVO_BANK_DESCRIPTORS(AmEnvelopeDemodBank, kIq)
HALVO_BANK_DESCRIPTORS(SsbProductDemodBank, kIq)
HALVO_BANK_DESCRIPTORS(FmQuadratureDemodBank, kIq)
HALVO_BANK_DESCRIPTORS(PmQuadratureDemodBank, kIq)
HALVO_BANK_DESCRIPTORS(AmDsbModBank, kAudio)
HALVO_BANK_DESCRIPTORS(CwKeyedModBank, kAudio)
HALVO_BANK_DESCRIPTORS(FmPhaseAccumModBank, kAudio)
HALVO_BANK_DESCRIPTORS(PmDirectPhaseModBank, kAudio)
HALVO_BANK_DESCRIPTORS(SsbPhasingModBank, kAudio)

constexpr ArgDescriptor kG_desc_CwEnvelopeDemodBank = {"CwEnvelopeDemodBank", "set_gain", kG, 2, 2};
constexpr ArgDescriptor kG_desc_AmDsbModBank = {"AmDsbModBank", "set_gain", kG, 2, 2};
constexpr ArgDescriptor kOn_desc_AmDsbModBank = {"AmDsbModBank", "set_clamp", kOn, 2, 2};
constexpr ArgDescriptor kG_desc_CwKeyedModBank = {"CwKeyedModBank", "set_gain", kG, 2, 2};
constexpr ArgDescriptor kHz_desc_FmPhaseAccumModBank = {"FmPhaseAccumModBank", "set_deviation", kHz, 2, 2};
constexpr ArgDescriptor kG_desc_FmPhaseAccumModBank = {"FmPhaseAccumModBank", "set_gain", kG, 2, 2};
constexpr ArgDescriptor kG_desc_PmDirectPhaseModBank = {"PmDirectPhaseModBank", "set_gain", kG, 2, 2};
constexpr ArgDescriptor kKp_desc_PmDirectPhaseModBank = {"PmDirectPhaseModBank", "set_sensitivity", kKp, 2, 2};

PyMethodDef CwEnvelopeDemodBank_methods[] = {
    HALVO_BANK_ROWS(CwEnvelopeDemodBank, iq),
    HALVO_BANK_SETTER(CwEnvelopeDemodBank, CwEnvelopeDemod, set_gain, kG),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef AmEnvelopeDemodBank_methods[] = {HALVO_BANK_ROWS(AmEnvelopeDemodBank, iq), {nullptr, nullptr, 0, nullptr}};
PyMethodDef SsbProductDemodBank_methods[] = {HALVO_BANK_ROWS(SsbProductDemodBank, iq), {nullptr, nullptr, 0, nullptr}};
PyMethodDef FmQuadratureDemodBank_methods[] = {HALVO_BANK_ROWS(FmQuadratureDemodBank, iq),
                                               {nullptr, nullptr, 0, nullptr}};
PyMethodDef PmQuadratureDemodBank_methods[] = {HALVO_BANK_ROWS(PmQuadratureDemodBank, iq),
                                               {nullptr, nullptr, 0, nullptr}};
PyMethodDef AmDsbModBank_methods[] = {
    HALVO_BANK_ROWS(AmDsbModBank, audio),
    HALVO_BANK_SETTER(AmDsbModBank, AmDsbMod, set_gain, kG),
    HALVO_BANK_SETTER(AmDsbModBank, AmDsbMod, set_clamp, kOn),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef CwKeyedModBank_methods[] = {
    HALVO_BANK_ROWS(CwKeyedModBank, audio),
    HALVO_BANK_SETTER(CwKeyedModBank, CwKeyedMod, set_gain, kG),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef FmPhaseAccumModBank_methods[] = {
    HALVO_BANK_ROWS(FmPhaseAccumModBank, audio),
    HALVO_BANK_SETTER(FmPhaseAccumModBank, FmPhaseAccumMod, set_deviation, kHz),
    HALVO_BANK_SETTER(FmPhaseAccumModBank, FmPhaseAccumMod, set_gain, kG),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef PmDirectPhaseModBank_methods[] = {
    HALVO_BANK_ROWS(PmDirectPhaseModBank, audio),
    HALVO_BANK_SETTER(PmDirectPhaseModBank, PmDirectPhaseMod, set_gain, kG),
    HALVO_BANK_SETTER(PmDirectPhaseModBank, PmDirectPhaseMod, set_sensitivity, kKp),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef SsbPhasingModBank_methods[] = {HALVO_BANK_ROWS(SsbPhasingModBank, audio), {nullptr, nullptr, 0, nullptr}};

#undef HALVO_BANK_ROWS
#undef HALVO_BANK_DESCRIPTORS
#undef HALVO_BANK_SETTER

#define HALVO_BANK_SLOTS(Class, In, Out) PyType_Slot Class##Bank_slots[6];
HALVO_CLASSES(HALVO_BANK_SLOTS)
#undef HALVO_BANK_SLOTS

}  // namespace

// The type specs (classes.hpp lists them among halvo_radio._native's).
#define HALVO_BANK_SPEC(Class, In, Out)                                                                  \
    PyType_Spec Class##Bank_spec = make_spec<Class##Bank>(                                               \
        "halvo_radio._native." #Class "Bank",                                                            \
        "n channels of " #Class ", one per row; use halvo_radio.Bank.",                                  \
        construct<Class##Bank, Class##Bank_new_desc, &Class##Bank::make>, Class##Bank_methods, Class##Bank_slots);
HALVO_CLASSES(HALVO_BANK_SPEC)
#undef HALVO_BANK_SPEC

}  // namespace halvo
