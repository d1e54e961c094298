"""The audio stage against an independent NumPy float32 model, bit for bit.

    python3 audio_model_check.py PATH/TO/radio_audio_dump

The model follows docs/radio/audio.md operation by operation: coefficients
designed in float64 (Python's math, the same C library as the module) and
rounded once to float32, then every sample operation a float32 operation of
its own. Each class runs in one call and in random splits; exits nonzero on
the first difference, naming the case and the sample.
"""
import math
import os
import subprocess
import sys
import tempfile

import numpy as np

F = np.float32


def fma(a, b, c):
    """float32 a*b + c rounded once. The product of two float32 values is
    exact in float64; the float64 sum is corrected to round to odd (its
    last bit set when the sum was inexact), after which rounding to float32
    is the single correct rounding."""
    a, b, c = float(a), float(b), float(c)
    p = a * b
    s = p + c
    if not math.isfinite(s):
        return F(s)
    z = s - p
    err = (p - (s - z)) + (c - z)  # p + c = s + err exactly
    if err != 0.0:
        if (err < 0) != (s < 0) and s != 0.0:
            s = math.nextafter(s, 0.0)
        s = np.array(s).view(np.int64) | 1
        s = float(np.array(s).view(np.float64))
    return F(s)


def deemphasis(x, fs, tau_us):
    p = 0.0 if tau_us == 0 else math.exp(-1e6 / (fs * tau_us))
    a, b = F(p), F(1.0 - p)
    y = np.empty_like(x)
    y1 = F(0)
    for i, v in enumerate(x):
        y1 = fma(a, y1, F(b * v))
        y[i] = y1
    return y


def preemphasis(x, fs, tau_us):
    p = 0.0 if tau_us == 0 else math.exp(-1e6 / (fs * tau_us))
    a, g = F(p), F(1.0 / (1.0 - p))
    prev = np.concatenate([np.zeros(1, F), x[:-1]])
    return g * (x - a * prev)


def squelch(z, fs, threshold_db, hysteresis_db, attack_ms, release_ms, average_ms):
    k = math.exp(-1.0 / (fs * average_ms / 1000.0))
    keep, alpha = F(k), F(1.0 - k)
    open_level = F(math.pow(10.0, threshold_db / 10.0))
    close_level = F(math.pow(10.0, (threshold_db - hysteresis_db) / 10.0))
    up = F(1.0 / max(1.0, fs * attack_ms / 1000.0))
    down = F(1.0 / max(1.0, fs * release_ms / 1000.0))
    p, g, is_open = F(0), F(0), False
    y = np.zeros_like(z)
    for i, v in enumerate(z):
        re, im = F(v.real), F(v.imag)
        e = F(re * re) + F(im * im)
        p = fma(keep, p, F(alpha * e))
        is_open = (p >= open_level) if not is_open else not (p < close_level)
        g = min(F(g + up), F(1)) if is_open else max(F(g - down), F(0))
        if g != 0:
            y[i] = complex(F(re * g), F(im * g))
    return y


def agc(x, fs, target, attack_ms, decay_ms, max_gain_db, ceiling):
    ea = math.exp(-1.0 / (fs * attack_ms / 1000.0))
    ed = math.exp(-1.0 / (fs * decay_ms / 1000.0))
    ca, ka, cd, kd = F(ea), F(1.0 - ea), F(ed), F(1.0 - ed)
    gmax = F(math.pow(10.0, max_gain_db / 20.0))
    t, c = F(target), F(ceiling)
    p = v = q = F(0)
    y = np.empty_like(x)
    with np.errstate(divide="ignore"):
        for i, s in enumerate(x):
            p = fma(ca, p, F(ka * F(s * s)))
            v = p if p > v else fma(cd, v, F(kd * p))
            a = np.abs(s)
            q = a if a > q else fma(cd, q, F(kd * a))
            g = t / np.sqrt(v)
            g = gmax if g > gmax else g
            h = c / q
            g = h if h < g else g
            o = F(s * g)
            o = c if o > c else o
            y[i] = -c if o < -c else o
    return y


def main():
    np.seterr(all="ignore")  # infinities and NaNs are part of the cases
    dump = sys.argv[1]
    rng = np.random.default_rng(7)
    n = 6000
    audio = rng.uniform(-1, 1, n).astype(F)
    audio[100:110] = [0.0, -0.0, 1e-42, -1e-40, 3e38, -3e38, 1e-30, 5.0, -5.0, 0.0]
    loud = audio * np.repeat(F([1e-3, 1.0, 30.0]), n // 3)  # quiet, then onsets that hit the ceiling
    loud[-40] = np.nan  # and a NaN that stays in the held levels
    iq = (rng.uniform(-0.3, 0.3, n) + 1j * rng.uniform(-0.3, 0.3, n)).astype(np.complex64)
    iq[2000:3500] *= F(1e-3)  # the gate closes and opens again
    cases = [
        ("deemphasis", [48000.0, 75.0], audio, deemphasis),
        ("deemphasis", [44100.0, 50.0], audio, deemphasis),
        ("deemphasis", [8000.0, 0.0], audio, deemphasis),
        ("preemphasis", [48000.0, 75.0], audio, preemphasis),
        ("preemphasis", [192000.0, 50.0], audio, preemphasis),
        ("squelch", [48000.0, -20.0, 3.0, 1.0, 10.0, 2.0], iq, squelch),
        ("squelch", [24000.0, -25.0, 0.0, 0.0, 0.0, 0.1], iq, squelch),
        ("agc", [48000.0, 0.5, 10.0, 300.0, 60.0, 1.0], audio, agc),
        ("agc", [8000.0, 0.1, 1.0, 50.0, 0.0, 0.25], audio, agc),
        ("agc", [48000.0, 2.0, 10.0, 300.0, 60.0, 1e6], loud, agc),
    ]
    failed = 0
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in"), os.path.join(d, "out")
        for name, params, x, model in cases:
            want = model(x, *params)
            x.tofile(src)
            for sizes in ([], list(rng.integers(0, 700, 20))):
                cmd = [dump, name, *map(repr, params), src, dst, *map(str, sizes)]
                subprocess.run(cmd, check=True)
                got = np.fromfile(dst, dtype=x.dtype)
                a = got.view(np.uint32 if x.dtype == F else np.uint64)
                b = want.view(a.dtype)
                if a.shape != b.shape or not np.array_equal(a, b):
                    i = int(np.argmax(a != b)) if a.shape == b.shape else -1
                    print(f"FAIL {name} {params} split={bool(sizes)}: first difference at sample {i}: "
                          f"{got[i] if i >= 0 else got.shape} != {want[i] if i >= 0 else want.shape}")
                    failed += 1
                else:
                    print(f"ok   {name} {params} split={bool(sizes)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
