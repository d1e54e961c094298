"""Float32 models of the AM, SSB, FM and PM demodulators.

Each model runs a fresh object over a whole complex64 array and returns the
float32 output. Scalars are np.float32 throughout, so every product, sum and
quotient rounds to float32 by itself; fused multiply-adds, sines and cosines
come from the C library (libm.py).
"""
import numpy as np

from .libm import cosf, fmaf, sinf

f32 = np.float32
TWO_PI = f32(6.2831855)


def _biquad_design(fs, bw):
    """Butterworth low-pass coefficients (b0, b1, b2, a1, a2), cut-off 0.9 * bw."""
    w = ((bw * f32(0.9)) * TWO_PI) / fs
    c, s = cosf(w), sinf(w)
    alpha = s / f32(1.4142135)
    r = f32(1) / (f32(1) + alpha)
    b0 = (f32(0.5) * (f32(1) - c)) * r
    return b0, (f32(1) - c) * r, b0, (f32(-2) * c) * r, (f32(1) - alpha) * r


def lowpass_pair(fs, bw):
    """A step function for two equal sections in series (transposed direct form II)."""
    b0, b1, b2, a1, a2 = _biquad_design(fs, bw)
    state = [[f32(0), f32(0)], [f32(0), f32(0)]]

    def step(x):
        for st in state:
            s1, s2 = st
            y = fmaf(b0, x, s1)
            t = fmaf(b1, x, s2)
            st[0] = t - a1 * y
            st[1] = b2 * x - a2 * y
            x = y
        return x

    return step


def dc_blocker(fs):
    t = ((f32(-2) / fs) * TWO_PI) + f32(1)
    t = f32(0) if f32(0) > t else t
    R = f32(0.9999) if t > f32(0.9999) else t
    state = [f32(0), f32(0)]  # previous input, previous output

    def step(x):
        y = (x - state[0]) + R * state[1]
        state[:] = [x, y]
        return y

    return step


def oscillator(f, fs):
    """A generator of phasors (re, im), each advanced before it is yielded."""
    d = (f * TWO_PI) / fs
    c, s = cosf(d), sinf(d)
    re, im, count = f32(1), f32(0), 0
    while True:
        re, im = fmaf(re, c, -(im * s)), fmaf(im, c, re * s)
        count += 1
        if count % 1024 == 0:
            k = f32(1) / np.sqrt(re * re + im * im)
            re, im = re * k, im * k
        yield re, im


def fast_atan2(y, x):
    ax, ay = abs(x), abs(y)
    eps = f32(1.1920929e-7)

    def poly(t):
        return f32(0.7853982) * t - (t * (t - f32(1))) * (f32(0.2447) + f32(0.0663) * t)

    if ay > ax:
        a = f32(1.5707964) - poly(ax / (ay + eps))
    else:
        a = poly(ay / (ax + eps))
    if x < 0:
        a = f32(3.1415927) - a
    if y < 0:
        a = -a
    return a


def phase_steps(iq):
    """The discriminator: angle of x[n] * conj(x[n-1]), with x[-1] = 1 + 0j."""
    pr, pi = f32(1), f32(0)
    for x in iq:
        xr, xi = f32(x.real), f32(x.imag)
        yield fast_atan2(xi * pr - xr * pi, pr * xr + pi * xi)
        pr, pi = xr, xi


def _run(step, values):
    return np.array([step(v) for v in values], dtype=np.float32)


_quiet = np.errstate(all="ignore")  # NaN and infinity are ordinary values here


@_quiet
def am_envelope_demod(iq, fs, audio_bw_hz, abs_approx=False):
    fs, bw = f32(fs), f32(audio_bw_hz)
    lp, dc = lowpass_pair(fs, bw), dc_blocker(fs)
    out = []
    for x in iq:
        re, im = f32(x.real), f32(x.imag)
        if abs_approx:
            out.append(dc(lp(fmaf(f32(0.9482), abs(re), f32(0.392) * abs(im)))))
        else:
            y = lp(fmaf(re, re, im * im))
            out.append(dc(f32(0) if y < 0 else np.sqrt(y)))
    return np.array(out, dtype=np.float32)


@_quiet
def ssb_product_demod(iq, fs, bfo_hz, audio_bw_hz):
    fs = f32(fs)
    lp, dc = lowpass_pair(fs, f32(audio_bw_hz)), dc_blocker(fs)
    out = []
    for x, (pr, pi) in zip(iq, oscillator(f32(bfo_hz), fs)):
        out.append(dc(lp(fmaf(f32(x.real), pr, f32(x.imag) * pi))))
    return np.array(out, dtype=np.float32)


@_quiet
def fm_quadrature_demod(iq, fs, dev_hz, audio_bw_hz):
    dev = f32(dev_hz)
    gain = f32(1) / (dev if dev > 1 else f32(1))
    lp = lowpass_pair(f32(fs), f32(audio_bw_hz))
    return _run(lambda theta: lp(theta * gain), phase_steps(iq))


@_quiet
def pm_quadrature_demod(iq, fs, k, audio_bw_hz):
    k = f32(k)
    lp = lowpass_pair(f32(fs), f32(audio_bw_hz))
    return _run(lambda theta: lp(theta * k), phase_steps(iq))
