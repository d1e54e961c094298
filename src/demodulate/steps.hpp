// The demodulators' per-sample steps over a lane type V (float, or a vector
// of independent lanes): each is the class's algorithm as written, one sample
// at a time, with every operation in the order the class's process() keeps.
// load() takes a step state from an object (and the advance count of its
// oscillators), store() puts the moved state back. Instantiated with float,
// a step is the reference for process(); with vectors, it runs one object
// per lane.
#pragma once

#include <cstdint>

#include "../dsp/steps.hpp"
#include "am.hpp"
#include "cw.hpp"
#include "fm.hpp"
#include "pm.hpp"
#include "ssb.hpp"

namespace halvo::steps {

template <class C, class V>
struct StepOf;

template <class V>
struct CwEnvelopeDemodStep {
    V k;     // 1 - pole
    V pole;
    V env;
    V gain;

    static CwEnvelopeDemodStep load(const CwEnvelopeDemod& m, std::uint32_t&) {
        return {1.0f - m.pole, m.pole, m.env, m.gain};
    }
    void store(CwEnvelopeDemod& m, std::uint32_t) const { m.env = env; }

    HALVO_INLINE V step(Complex<V> x, std::uint32_t&) {
        const V mag = simd::sqrt(x.re * x.re + x.im * x.im);
        env = k * mag + pole * env;
        return gain * env;
    }
};

template <class V>
struct AmEnvelopeDemodStep {
    V approx;  // 1 for the weighted magnitudes, 0 for the exact estimator
    V w_in, w_quad;
    BiquadPairStep<V> lowpass;
    DcStep<V> dc;

    static AmEnvelopeDemodStep load(const AmEnvelopeDemod& m, std::uint32_t&) {
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
struct SsbProductDemodStep {
    PhasorStep<V> bfo;
    BiquadPairStep<V> lowpass;
    DcStep<V> dc;

    static SsbProductDemodStep load(const SsbProductDemod& m, std::uint32_t& counter) {
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

// FmQuadratureDemod (scale 1 / max(dev_hz, 1)) and PmQuadratureDemod (k).
template <class V>
struct QuadratureDemodStep {
    V scale;
    DiscriminatorStep<V> discriminator;
    BiquadPairStep<V> lowpass;

    static QuadratureDemodStep load(const FmQuadratureDemod& m, std::uint32_t&) {
        return {m.gain, DiscriminatorStep<V>::load(m.discriminator), BiquadPairStep<V>::load(m.lowpass)};
    }
    static QuadratureDemodStep load(const PmQuadratureDemod& m, std::uint32_t&) {
        return {m.k, DiscriminatorStep<V>::load(m.discriminator), BiquadPairStep<V>::load(m.lowpass)};
    }
    template <class C>
    void store(C& m, std::uint32_t) const {
        discriminator.store(m.discriminator);
        lowpass.store(m.lowpass);
    }

    HALVO_INLINE V step(Complex<V> x, std::uint32_t&) { return lowpass.step(discriminator.step(x) * scale); }
};

template <class V>
struct StepOf<CwEnvelopeDemod, V> {
    using type = CwEnvelopeDemodStep<V>;
};
template <class V>
struct StepOf<AmEnvelopeDemod, V> {
    using type = AmEnvelopeDemodStep<V>;
};
template <class V>
struct StepOf<SsbProductDemod, V> {
    using type = SsbProductDemodStep<V>;
};
template <class V>
struct StepOf<FmQuadratureDemod, V> {
    using type = QuadratureDemodStep<V>;
};
template <class V>
struct StepOf<PmQuadratureDemod, V> {
    using type = QuadratureDemodStep<V>;
};

}  // namespace halvo::steps
