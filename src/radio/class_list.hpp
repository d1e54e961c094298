// The classes of halvo_radio._native, in registration order: the same role
// as ../class_list.hpp for halvo_sdr (registration and __all__, every level's
// kernel table). X(Class, input element, output element), elements float
// (float32) or cf32 (complex64). Add a class here and its Python block in
// src/radio_classes.cpp (see docs/architecture.md).
#pragma once

#include "audio/agc.hpp"
#include "audio/emphasis.hpp"
#include "audio/squelch.hpp"
#include "channelizer.hpp"
#include "frontend/channel_selector.hpp"
#include "frontend/resampler.hpp"
#include "frontend/upconverter.hpp"
#include "receiver.hpp"
#include "receiver_bank.hpp"
#include "transmitter.hpp"

namespace halvo {
using audio::Agc;
using audio::Deemphasis;
using audio::PowerSquelch;
using audio::Preemphasis;
using frontend::ChannelSelector;
using frontend::RealResampler;
using frontend::Resampler;
using frontend::Upconverter;
using radio::Receiver;
using radio::ReceiverBank;
using radio::Transmitter;
}  // namespace halvo

#define HALVO_RADIO_CLASSES(X)      \
    X(Channelizer, cf32, cf32)      \
    X(ChannelSelector, cf32, cf32)  \
    X(Resampler, cf32, cf32)        \
    X(RealResampler, float, float)  \
    X(Upconverter, cf32, cf32)      \
    X(Deemphasis, float, float)     \
    X(Preemphasis, float, float)    \
    X(PowerSquelch, cf32, cf32)     \
    X(Agc, float, float)            \
    X(Receiver, cf32, float)        \
    X(Transmitter, float, cf32)     \
    X(ReceiverBank, cf32, float)
