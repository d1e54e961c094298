"""Float32 models of the five modulators, one sample at a time.

Written from the documented algorithms: every value is a NumPy float32 scalar,
so each product, sum and difference rounds to float32 on its own; fused
multiply-adds, sines, cosines and exponentials are the C library's (libm.py).
The models favour plainness over speed: they are for a few hundred samples.
"""
import numpy as np

from .libm import cosf, expf, fmaf, sinf

f32 = np.float32
TWO_PI = f32(6.2831855)  # 0x40C90FDB


def narrow(v):
    """float64 -> float32, as the constructors and setters narrow their arguments."""
    with np.errstate(all="ignore"):
        return f32(v)


def _quiet(method):
    """Run a model method with NumPy's floating-point warnings off: the models
    push NaN and infinity through on purpose."""

    def wrapped(self, *args):
        with np.errstate(all="ignore"):
            return method(self, *args)

    wrapped.__name__ = method.__name__
    return wrapped


def _complex_out(re, im):
    out = np.empty(len(re), np.complex64)
    pairs = out.view(np.float32)
    pairs[0::2] = np.asarray(re, np.float32)
    pairs[1::2] = np.asarray(im, np.float32)
    return out


def _audio(x):
    x = np.asarray(x)
    assert x.dtype == np.float32 and x.ndim == 1
    return x


class Phasor:
    """Rotating unit phasor, advanced before use, renormalised on every 1024th
    advance of its life."""

    @_quiet
    def __init__(self, f=None, fs=None):
        self.re, self.im = f32(1.0), f32(0.0)
        self.counter = 0
        if f is None:  # no stored step: only advanced by a given step
            self.c = self.s = None
        else:
            d = (f * TWO_PI) / fs
            self.c, self.s = cosf(d), sinf(d)

    @_quiet
    def advance(self, c=None, s=None):
        if c is None:
            c, s = self.c, self.s
        re = fmaf(self.re, c, -(self.im * s))
        im = fmaf(self.im, c, self.re * s)
        self.counter = (self.counter + 1) % 2**32
        if self.counter % 1024 == 0:
            m = np.sqrt(re * re + im * im)
            k = f32(1.0) / m
            re, im = re * k, im * k
        self.re, self.im = re, im
        return re, im


class Biquad:
    """Butterworth low-pass section, transposed direct form II."""

    @_quiet
    def __init__(self, fs, bw):
        w = ((bw * f32(0.9)) * TWO_PI) / fs
        c, s = cosf(w), sinf(w)
        alpha = s / f32(1.4142135)
        r = f32(1.0) / (f32(1.0) + alpha)
        one = f32(1.0)
        self.b0 = (f32(0.5) * (one - c)) * r
        self.b1 = (one - c) * r
        self.b2 = self.b0
        self.a1 = (f32(-2.0) * c) * r
        self.a2 = (one - alpha) * r
        self.s1 = self.s2 = f32(0.0)

    @_quiet
    def step(self, x):
        y = fmaf(self.b0, x, self.s1)
        t = fmaf(self.b1, x, self.s2)
        self.s1 = t - self.a1 * y
        self.s2 = self.b2 * x - self.a2 * y
        return y


class AmDsbModel:
    def __init__(self, fs, rf_hz, carrier_level, modulation_index):
        fs, rf = narrow(fs), narrow(rf_hz)
        self.level = narrow(carrier_level)
        self.index = narrow(modulation_index)
        self.carrier = Phasor(rf, fs)
        self.gain = f32(1.0)
        self.clamp = False

    def set_gain(self, g):
        self.gain = narrow(g)

    def set_clamp(self, on):
        self.clamp = bool(on)

    @_quiet
    def process(self, audio):
        re_out, im_out = [], []
        for x in _audio(audio):
            m = x * self.index
            re, im = self.carrier.advance()
            e = m + self.level
            if self.clamp:
                if e > 1:
                    e = f32(1.0)
                elif e < -1:
                    e = f32(-1.0)
            a = e * self.gain
            re_out.append(a * re)
            im_out.append(a * im)
        return _complex_out(re_out, im_out)


def cw_pole(t_ms, fs):
    """exp(-1 / time constant in samples), the time constant at least 0.1 ms."""
    t = t_ms if t_ms > f32(0.1) else f32(0.1)  # NaN is not greater: 0.1
    length = (t * f32(0.001)) * fs
    return expf(f32(-1.0) / length)


class CwKeyedModel:
    @_quiet
    def __init__(self, sample_rate, tone_hz, rise_ms, fall_ms):
        fs = narrow(sample_rate)
        self.tone = Phasor(narrow(tone_hz), fs)
        self.env = f32(0.0)
        self.a_rise = cw_pole(narrow(rise_ms), fs)
        self.a_fall = cw_pole(narrow(fall_ms), fs)
        self.gain = f32(1.0)

    def set_gain(self, g):
        self.gain = narrow(g)

    @_quiet
    def process(self, audio):
        re_out, im_out = [], []
        zero, one = f32(0.0), f32(1.0)
        for x in _audio(audio):
            if x < 0:
                k = zero
            elif x > 1:
                k = one
            else:
                k = x  # including NaN
            re, im = self.tone.advance()
            a = self.a_rise if k >= self.env else self.a_fall
            self.env = (one - a) * k + a * self.env
            amp = self.gain * self.env
            re_out.append(amp * re - zero * im)
            im_out.append(zero * re + amp * im)
        return _complex_out(re_out, im_out)


class SsbPhasingModel:
    @_quiet
    def __init__(self, fs, audio_bw_hz, audio_if_hz, rf_hz, usb):
        fs, bw = narrow(fs), narrow(audio_bw_hz)
        self.i_lp = [Biquad(fs, bw), Biquad(fs, bw)]
        self.q_lp = [Biquad(fs, bw), Biquad(fs, bw)]
        self.lo = Phasor(narrow(audio_if_hz), fs)
        self.rf = Phasor(narrow(rf_hz), fs)
        self.usb = bool(usb)

    @_quiet
    def process(self, audio):
        sigma = f32(1.0) if self.usb else f32(-1.0)
        re_out, im_out = [], []
        for x in _audio(audio):
            c1, s1 = self.lo.advance()
            i = c1 * x
            big_i = self.i_lp[1].step(self.i_lp[0].step(i))
            q = x * s1
            big_q = self.q_lp[1].step(self.q_lp[0].step(q))
            c2, s2 = self.rf.advance()
            v = big_q * sigma
            re_out.append(fmaf(big_i, c2, (-v) * s2))
            im_out.append(fmaf(v, c2, big_i * s2))
        return _complex_out(re_out, im_out)


class FmPhaseAccumModel:
    @_quiet
    def __init__(self, sample_rate, deviation_hz, rf_hz):
        self.fs = narrow(sample_rate)
        self.deviation = narrow(deviation_hz)
        self.message = Phasor()
        self.carrier = Phasor(narrow(rf_hz), self.fs)
        self.gain = f32(1.0)

    def set_gain(self, g):
        self.gain = narrow(g)

    def set_deviation(self, hz):
        self.deviation = narrow(hz)

    @_quiet
    def process(self, audio):
        k = (self.deviation * TWO_PI) / self.fs
        re_out, im_out = [], []
        for x in _audio(audio):
            phi = x * k
            mr, mi = self.message.advance(cosf(phi), sinf(phi))
            cr, ci = self.carrier.advance()
            gr, gi = self.gain * mr, self.gain * mi
            re_out.append(gr * cr - gi * ci)
            im_out.append(gi * cr + gr * ci)
        return _complex_out(re_out, im_out)


class PmDirectPhaseModel:
    @_quiet
    def __init__(self, sample_rate, kp_rad_per_unit, rf_hz):
        self.sensitivity = narrow(kp_rad_per_unit)
        self.carrier = Phasor(narrow(rf_hz), narrow(sample_rate))
        self.gain = f32(1.0)

    def set_gain(self, g):
        self.gain = narrow(g)

    def set_sensitivity(self, kp):
        self.sensitivity = narrow(kp)

    @_quiet
    def process(self, audio):
        re_out, im_out = [], []
        for x in _audio(audio):
            phi = x * self.sensitivity
            c, s = cosf(phi), sinf(phi)
            re, im = self.carrier.advance()
            cg, sg = c * self.gain, s * self.gain
            re_out.append(cg * re - sg * im)
            im_out.append(sg * re + cg * im)
        return _complex_out(re_out, im_out)
