// The Python blocks of halvo_sdr's ten classes: names, method rows and
// docstrings. classes.cpp registers them; bank_classes.cpp makes each
// class's bank from its block.
#pragma once

#include "class_block.hpp"
#include "class_list.hpp"
#include "kernels/table.hpp"

namespace halvo::sdr {

using binding::Method;
using binding::Process;
using binding::PyClass;
using kernels::KernelTable;

// One block per class, only what is its own: its name, constructor,
// docstring and method rows. Parameter lists come from the text signatures;
// conversion and the make() call follow the class's own signature; element
// types come from its kernel slot (class_block.hpp, binding.hpp).
using CwEnvelopeDemodPy = PyClass<CwEnvelopeDemod, "builtins", &CwEnvelopeDemod::make, "CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)",
    Method<&CwEnvelopeDemod::set_gain, "set_gain($self, g)">, Process<&KernelTable::CwEnvelopeDemod, "process($self, iq)">>;

using AmEnvelopeDemodPy = PyClass<AmEnvelopeDemod, "builtins", &AmEnvelopeDemod::make, "AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)",
    Process<&KernelTable::AmEnvelopeDemod, "process($self, iq)">>;

using SsbProductDemodPy = PyClass<SsbProductDemod, "builtins", &SsbProductDemod::make, "SsbProductDemod(fs, bfo_hz, audio_bw_hz)",
    Process<&KernelTable::SsbProductDemod, "process($self, iq)">>;

using FmQuadratureDemodPy = PyClass<FmQuadratureDemod, "builtins", &FmQuadratureDemod::make, "FmQuadratureDemod(fs, dev_hz, audio_bw_hz)",
    Process<&KernelTable::FmQuadratureDemod, "process($self, iq)">>;

using PmQuadratureDemodPy = PyClass<PmQuadratureDemod, "builtins", &PmQuadratureDemod::make, "PmQuadratureDemod(fs, k, audio_bw_hz)",
    Process<&KernelTable::PmQuadratureDemod, "process($self, iq)">>;

using AmDsbModPy = PyClass<AmDsbMod, "builtins", &AmDsbMod::make, "AmDsbMod(fs, rf_hz, carrier_level, modulation_index)",
    Method<&AmDsbMod::set_gain, "set_gain($self, g)">, Method<&AmDsbMod::set_clamp, "set_clamp($self, on)">,
    Process<&KernelTable::AmDsbMod, "process($self, audio)">>;

using CwKeyedModPy = PyClass<CwKeyedMod, "builtins", &CwKeyedMod::make, "CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)",
    Method<&CwKeyedMod::set_gain, "set_gain($self, g)">,
    Process<&KernelTable::CwKeyedMod, "process($self, audio)\n--\n\nInput: keying envelope 0..1 as float32 array.">>;

using SsbPhasingModPy = PyClass<SsbPhasingMod, "builtins", &SsbPhasingMod::make, "SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)",
    Process<&KernelTable::SsbPhasingMod, "process($self, audio)">>;

using FmPhaseAccumModPy = PyClass<FmPhaseAccumMod, "builtins", &FmPhaseAccumMod::make, "FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)",
    Method<&FmPhaseAccumMod::set_deviation, "set_deviation($self, hz)">, Method<&FmPhaseAccumMod::set_gain, "set_gain($self, g)">,
    Process<&KernelTable::FmPhaseAccumMod, "process($self, audio)">>;

using PmDirectPhaseModPy = PyClass<PmDirectPhaseMod, "builtins", &PmDirectPhaseMod::make,
    "PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)",
    Method<&PmDirectPhaseMod::set_gain, "set_gain($self, g)">, Method<&PmDirectPhaseMod::set_sensitivity, "set_sensitivity($self, kp)">,
    Process<&KernelTable::PmDirectPhaseMod, "process($self, audio)">>;

}  // namespace halvo::sdr
