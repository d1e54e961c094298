// The classes of halvo_sdr, in registration order: the one list that drives
// the Python registration and __all__, every level's kernel table and the
// tests over all classes. X(Class, input element, output element); the
// element types are float (float32) or cf32 (complex64).
#pragma once

#include "demodulate/am.hpp"
#include "demodulate/cw.hpp"
#include "demodulate/fm.hpp"
#include "demodulate/pm.hpp"
#include "demodulate/ssb.hpp"
#include "modulate/am.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm.hpp"
#include "modulate/pm.hpp"
#include "modulate/ssb.hpp"

#define HALVO_CLASSES(X)              \
    X(CwEnvelopeDemod, cf32, float)   \
    X(AmEnvelopeDemod, cf32, float)   \
    X(SsbProductDemod, cf32, float)   \
    X(FmQuadratureDemod, cf32, float) \
    X(PmQuadratureDemod, cf32, float) \
    X(AmDsbMod, float, cf32)          \
    X(CwKeyedMod, float, cf32)        \
    X(FmPhaseAccumMod, float, cf32)   \
    X(PmDirectPhaseMod, float, cf32)  \
    X(SsbPhasingMod, float, cf32)
