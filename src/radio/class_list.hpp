// The classes of halvo_radio._native, in registration order: the same role
// as ../class_list.hpp for halvo_sdr (registration and __all__, every level's
// kernel table). X(Class, input element, output element), elements float
// (float32) or cf32 (complex64). Add a class here and its Python block in
// src/radio_classes.cpp (see docs/architecture.md).
#pragma once

#include "channelizer.hpp"

#define HALVO_RADIO_CLASSES(X) \
    X(Channelizer, cf32, cf32)
