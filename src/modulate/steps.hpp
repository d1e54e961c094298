// The modulators' per-sample steps over a lane type V (see
// ../demodulate/steps.hpp for the pattern): the algorithm as written, one
// sample at a time, in the order the class's process() keeps.
#pragma once

#include <cstdint>

#include "../demodulate/steps.hpp"
#include "am.hpp"
#include "cw.hpp"
#include "fm.hpp"
#include "pm.hpp"
#include "ssb.hpp"

namespace halvo::steps {

template <class V>
struct Step<AmDsbMod, V> {
    V gain, level, index;
    V clamp;  // 1 to limit the envelope to [-1, 1], else 0
    PhasorStep<V> carrier;

    static Step load(const AmDsbMod& m, std::uint32_t& counter) {
        counter = m.carrier.counter;
        return {m.gain, m.carrier_level, m.modulation_index, m.clamp ? 1.0f : 0.0f, PhasorStep<V>::load(m.carrier)};
    }
    void store(AmDsbMod& m, std::uint32_t counter) const { carrier.store(m.carrier, counter); }

    HALVO_INLINE Complex<V> step(V x, std::uint32_t& counter) {
        const V e = x * index + level;
        advance(counter, carrier);
        // Limited to [-1, 1]; a NaN envelope stays NaN.
        V limited = select(e > splat<V>(1.0f), splat<V>(1.0f), e);
        limited = select(limited < splat<V>(-1.0f), splat<V>(-1.0f), limited);
        const V a = select(clamp != splat<V>(0.0f), limited, e) * gain;
        return {a * carrier.re, a * carrier.im};
    }
};

template <class V>
struct Step<CwKeyedMod, V> {
    PhasorStep<V> tone;
    V envelope;
    V a_rise, a_fall;
    V b_rise, b_fall;  // 1 - rise, 1 - fall
    V gain;

    static Step load(const CwKeyedMod& m, std::uint32_t& counter) {
        counter = m.tone.counter;
        return {PhasorStep<V>::load(m.tone), m.envelope, m.rise, m.fall, 1.0f - m.rise, 1.0f - m.fall, m.gain};
    }
    void store(CwKeyedMod& m, std::uint32_t counter) const {
        tone.store(m.tone, counter);
        m.envelope = envelope;
    }

    HALVO_INLINE Complex<V> step(V x, std::uint32_t& counter) {
        const V zero = splat<V>(0.0f);
        const V k = select(x < zero, zero, select(x > splat<V>(1.0f), splat<V>(1.0f), x));  // NaN passes
        advance(counter, tone);
        const auto rising = k >= envelope;  // false when k or e is NaN: fall
        envelope = select(rising, b_rise, b_fall) * k + select(rising, a_rise, a_fall) * envelope;
        const V amp = gain * envelope;
        // The complex product (amp + 0j) * tone, every term rounded.
        return {amp * tone.re - zero * tone.im, zero * tone.re + amp * tone.im};
    }
};

template <class V>
struct Step<SsbPhasingMod, V> {
    BiquadPairStep<V> i_pair, q_pair;
    PhasorStep<V> audio_if, rf;
    V sigma;  // +1 for the upper sideband, -1 for the lower

    static Step load(const SsbPhasingMod& m, std::uint32_t& counter) {
        counter = m.audio_if.counter;
        return {BiquadPairStep<V>::load(m.i_pair), BiquadPairStep<V>::load(m.q_pair),
                PhasorStep<V>::load(m.audio_if), PhasorStep<V>::load(m.rf), m.usb ? 1.0f : -1.0f};
    }
    void store(SsbPhasingMod& m, std::uint32_t counter) const {
        i_pair.store(m.i_pair);
        q_pair.store(m.q_pair);
        audio_if.store(m.audio_if, counter);
        rf.store(m.rf, counter);
    }

    HALVO_INLINE Complex<V> step(V x, std::uint32_t& counter) {
        advance(counter, audio_if, rf);
        const V I = i_pair.step(audio_if.re * x);
        const V Q = q_pair.step(x * audio_if.im);
        const V v = Q * sigma;  // a product, not a negation: NaN keeps its sign
        return {simd::fma(I, rf.re, (-v) * rf.im), simd::fma(v, rf.re, I * rf.im)};  // fused, products rounded first
    }
};

template <class V>
struct Step<FmPhaseAccumMod, V> {
    V k;  // radians per unit of audio, (deviation * 2 pi) / sample_rate
    V gain;
    PhasorStep<V> message;  // its step is the input's, not stored
    PhasorStep<V> carrier;

    static Step load(const FmPhaseAccumMod& m, std::uint32_t& counter) {
        counter = m.carrier.counter;
        return {(m.deviation * kTwoPi) / m.sample_rate, m.gain, PhasorStep<V>::load(m.message),
                PhasorStep<V>::load(m.carrier)};
    }
    void store(FmPhaseAccumMod& m, std::uint32_t counter) const {
        message.store(m.message, counter);
        carrier.store(m.carrier, counter);
    }

    // The message step (cos, sin of x*k): the input's part alone, which a
    // caller may take ahead for many samples (see pre() in radio/bank.hpp).
    HALVO_INLINE Complex<V> pre(V x) const {
        const V phi = x * k;
        return {simd::cos(phi), simd::sin(phi)};
    }
    HALVO_INLINE Complex<V> step(V x, std::uint32_t& counter) { return step_pre(pre(x), counter); }
    HALVO_INLINE Complex<V> step_pre(Complex<V> turn, std::uint32_t& counter) {
        message.c = turn.re;
        message.s = turn.im;
        advance(counter, message, carrier);
        const V gr = gain * message.re, gi = gain * message.im;
        return {gr * carrier.re - gi * carrier.im, gi * carrier.re + gr * carrier.im};
    }
};

template <class V>
struct Step<PmDirectPhaseMod, V> {
    V k;  // radians per unit of input
    V gain;
    PhasorStep<V> carrier;

    static Step load(const PmDirectPhaseMod& m, std::uint32_t& counter) {
        counter = m.carrier.counter;
        return {m.sensitivity, m.gain, PhasorStep<V>::load(m.carrier)};
    }
    void store(PmDirectPhaseMod& m, std::uint32_t counter) const { carrier.store(m.carrier, counter); }

    // The scaled phasor (cos, sin of x*sensitivity, times the gain): the
    // input's part alone, which a caller may take ahead for many samples.
    HALVO_INLINE Complex<V> pre(V x) const {
        const V phi = x * k;
        return {simd::cos(phi) * gain, simd::sin(phi) * gain};
    }
    HALVO_INLINE Complex<V> step(V x, std::uint32_t& counter) { return step_pre(pre(x), counter); }
    HALVO_INLINE Complex<V> step_pre(Complex<V> scaled, std::uint32_t& counter) {
        const V cg = scaled.re, sg = scaled.im;
        advance(counter, carrier);
        return {cg * carrier.re - sg * carrier.im, sg * carrier.re + cg * carrier.im};
    }
};

}  // namespace halvo::steps
