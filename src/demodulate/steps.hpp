// The demodulators' per-sample steps over a lane type V (float, or a vector
// of independent lanes): each is the class's algorithm as written, one sample
// at a time, with every operation in the order the class's process() keeps.
// Step<C, V> is class C's step: load() takes a step state from an object
// (and the advance count of its oscillators), store() puts the moved state
// back. Instantiated with float,
// a step is the reference for process(); with vectors, it runs one object
// per lane.
#pragma once

#include <cstdint>
#include <type_traits>

#include "../dsp/steps.hpp"
#include "am.hpp"
#include "cw.hpp"
#include "fm.hpp"
#include "pm.hpp"
#include "ssb.hpp"

namespace halvo::steps {

// The step state of class C over lane type V: one specialisation per class.
template <class C, class V>
struct Step;

template <class V>
struct Step<CwEnvelopeDemod, V> {
    V b;  // 1 - pole
    V a;  // pole
    V env;
    V gain;

    static Step load(const CwEnvelopeDemod& m, std::uint32_t&) {
        return {1.0f - m.pole, m.pole, m.env, m.gain};
    }
    void store(CwEnvelopeDemod& m, std::uint32_t) const { m.env = env; }

    HALVO_INLINE V step(Complex<V> x, std::uint32_t&) {
        const V mag = simd::sqrt(x.re * x.re + x.im * x.im);
        env = b * mag + a * env;
        return gain * env;
    }
};

template <class V>
struct Step<AmEnvelopeDemod, V> {
    V approx;  // 1 for the weighted magnitudes, 0 for the exact estimator
    V w_in, w_quad;
    BiquadPairStep<V> lowpass;
    DcStep<V> dc;

    static Step load(const AmEnvelopeDemod& m, std::uint32_t&) {
        return {m.abs_approx ? 1.0f : 0.0f, m.w_in, m.w_quad, BiquadPairStep<V>::load(m.lowpass),
                DcStep<V>::load(m.dc)};
    }
    void store(AmEnvelopeDemod& m, std::uint32_t) const {
        lowpass.store(m.lowpass);
        dc.store(m.dc);
    }

    // Both estimators are computed and one kept per lane.
    HALVO_INLINE V step(Complex<V> x, std::uint32_t&) {
        const auto weighted = approx != splat<V>(0.0f);
        const V power = simd::fma(x.re, x.re, x.im * x.im);  // fused: im*im rounded first
        const V magnitude = simd::fma(w_in, simd::abs(x.re), w_quad * simd::abs(x.im));  // fused
        const V y = lowpass.step(select(weighted, magnitude, power));
        // The pair can dip below zero after an abrupt fall in power; a NaN y
        // is not < 0, so a NaN input still propagates.
        const V root = select(y < splat<V>(0.0f), splat<V>(0.0f), simd::sqrt(y));
        return dc.step(select(weighted, y, root));
    }
};

template <class V>
struct Step<SsbProductDemod, V> {
    PhasorStep<V> bfo;
    BiquadPairStep<V> lowpass;
    DcStep<V> dc;

    static Step load(const SsbProductDemod& m, std::uint32_t& counter) {
        counter = m.bfo.counter;
        return {PhasorStep<V>::load(m.bfo), BiquadPairStep<V>::load(m.lowpass), DcStep<V>::load(m.dc)};
    }
    void store(SsbProductDemod& m, std::uint32_t counter) const {
        bfo.store(m.bfo, counter);
        lowpass.store(m.lowpass);
        dc.store(m.dc);
    }

    HALVO_INLINE V step(Complex<V> x, std::uint32_t& counter) {
        advance(counter, bfo);  // before use: the first sample already carries one step
        return dc.step(lowpass.step(simd::fma(x.re, bfo.re, x.im * bfo.im)));  // fused: xi*pi rounded first
    }
};

// FmQuadratureDemod (scale 1 / max(dev_hz, 1)) and PmQuadratureDemod (scale
// k): one step, each class's own scale.
template <class C, class V>
    requires std::is_same_v<C, FmQuadratureDemod> || std::is_same_v<C, PmQuadratureDemod>
struct Step<C, V> {
    V scale;
    DiscriminatorStep<V> discriminator;
    BiquadPairStep<V> lowpass;

    static Step load(const C& m, std::uint32_t&) {
        return {m.scale, DiscriminatorStep<V>::load(m.discriminator), BiquadPairStep<V>::load(m.lowpass)};
    }
    void store(C& m, std::uint32_t) const {
        discriminator.store(m.discriminator);
        lowpass.store(m.lowpass);
    }

    HALVO_INLINE V step(Complex<V> x, std::uint32_t&) { return lowpass.step(discriminator.step(x) * scale); }
};

}  // namespace halvo::steps
