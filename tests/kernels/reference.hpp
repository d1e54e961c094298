// Every class's sample loop written the plain way: one sample at a time,
// every step in the documented order, through the sections' own scalar step
// functions. The kernels restructure these loops for speed (stages computed
// ahead of or behind the recurrences, sections side by side in vector
// lanes); the tests hold every level to these loops, bit for bit.
#pragma once

#include <cmath>
#include <cstddef>

#include "demodulate/am.hpp"
#include "demodulate/cw.hpp"
#include "demodulate/fm.hpp"
#include "demodulate/pm.hpp"
#include "demodulate/ssb.hpp"
#include "dsp/fast_atan2.hpp"
#include "simd/fp.hpp"
#include "modulate/am.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm.hpp"
#include "modulate/pm.hpp"
#include "modulate/ssb.hpp"

namespace reference {

using halvo::cf32;

// The phase step of one sample against the one before it.
inline float phase_step(halvo::PhaseDiscriminator& d, cf32 x) {
    const float dr = d.prev.re * x.re + d.prev.im * x.im;
    const float di = x.im * d.prev.re - x.re * d.prev.im;
    d.prev = x;
    return halvo::fast_atan2(di, dr);
}

inline void process(halvo::CwEnvelopeDemod& m, const cf32* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float mag = std::sqrt(in[i].re * in[i].re + in[i].im * in[i].im);
        m.env = (1.0f - m.pole) * mag + m.pole * m.env;
        out[i] = m.gain * m.env;
    }
}

inline void process(halvo::AmEnvelopeDemod& m, const cf32* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const cf32 x = in[i];
        float v;
        if (m.abs_approx) {
            v = m.lowpass.step(halvo::fma32(m.w_in, std::fabs(x.re), m.w_quad * std::fabs(x.im)));
        } else {
            const float y = m.lowpass.step(halvo::fma32(x.re, x.re, x.im * x.im));
            v = (y < 0.0f) ? 0.0f : std::sqrt(y);
        }
        out[i] = m.dc.step(v);
    }
}

inline void process(halvo::SsbProductDemod& m, const cf32* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        m.bfo.advance();
        out[i] = m.dc.step(m.lowpass.step(halvo::fma32(in[i].re, m.bfo.re, in[i].im * m.bfo.im)));
    }
}

inline void process(halvo::FmQuadratureDemod& m, const cf32* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = m.lowpass.step(phase_step(m.discriminator, in[i]) * m.gain);
}

inline void process(halvo::PmQuadratureDemod& m, const cf32* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = m.lowpass.step(phase_step(m.discriminator, in[i]) * m.k);
}

inline void process(halvo::AmDsbMod& m, const float* in, cf32* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float mod = in[i] * m.modulation_index;
        m.carrier.advance();
        float a;
        if (m.clamp) {
            float e = mod + m.carrier_level;
            if (e > 1.0f) e = 1.0f;
            if (e < -1.0f) e = -1.0f;
            a = e * m.gain;
        } else {
            a = (mod + m.carrier_level) * m.gain;
        }
        out[i] = {a * m.carrier.re, a * m.carrier.im};
    }
}

inline void process(halvo::CwKeyedMod& m, const float* in, cf32* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        const float k = (x < 0.0f) ? 0.0f : ((x > 1.0f) ? 1.0f : x);
        m.tone.advance();
        const float a = (k >= m.envelope) ? m.rise : m.fall;
        m.envelope = (1.0f - a) * k + a * m.envelope;
        const float amp = m.gain * m.envelope;
        const float re = m.tone.re, im = m.tone.im;
        out[i] = {amp * re - 0.0f * im, 0.0f * re + amp * im};
    }
}

inline void process(halvo::SsbPhasingMod& m, const float* in, cf32* out, std::size_t n) {
    const float sigma = m.usb ? 1.0f : -1.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        m.audio_if.advance();
        const float I = m.i_pair.step(m.audio_if.re * x);
        const float Q = m.q_pair.step(x * m.audio_if.im);
        m.rf.advance();
        const float v = Q * sigma;
        const float c2 = m.rf.re, s2 = m.rf.im;
        out[i] = {halvo::fma32(I, c2, (-v) * s2), halvo::fma32(v, c2, I * s2)};
    }
}

inline void process(halvo::FmPhaseAccumMod& m, const float* in, cf32* out, std::size_t n) {
    const float k = (m.deviation * 6.2831855f) / m.sample_rate;
    for (std::size_t i = 0; i < n; ++i) {
        const float phi = in[i] * k;
        m.message.advance_by(std::cos(phi), std::sin(phi));
        m.carrier.advance();
        const float gr = m.gain * m.message.re, gi = m.gain * m.message.im;
        const float cr = m.carrier.re, ci = m.carrier.im;
        out[i] = {gr * cr - gi * ci, gi * cr + gr * ci};
    }
}

inline void process(halvo::PmDirectPhaseMod& m, const float* in, cf32* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float phi = in[i] * m.sensitivity;
        const float c = std::cos(phi), s = std::sin(phi);
        m.carrier.advance();
        const float cg = c * m.gain, sg = s * m.gain;
        const float re = m.carrier.re, im = m.carrier.im;
        out[i] = {cg * re - sg * im, sg * re + cg * im};
    }
}

}  // namespace reference
