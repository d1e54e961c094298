"""The channelizer against an independent NumPy float32 model, bit for bit.

    python3 model_check.py PATH/TO/channelizer_dump

The model follows docs/channelizer.md: branch sums as chains of fused
multiply-adds (emulated exactly: the float64 product of two float32 values is
exact, the sum's error comes from TwoSum, and rounding to odd in float64 before
the one rounding to float32 makes that rounding correct), the radix-2 inverse
FFT stage by stage, the sign of twice-oversampled frames. Exits nonzero on
the first difference, naming the case, channel and frame.
"""
import math
import os
import subprocess
import sys
import tempfile

import numpy as np


def fma32(a, b, c):
    """a*b + c for float32 arrays with one rounding."""
    p = a.astype(np.float64) * b.astype(np.float64)
    c64 = np.asarray(c, dtype=np.float64)
    s = p + c64
    bb = s - p
    e = (p - (s - bb)) + (c64 - bb)
    # Round the exact p + c = s + e to odd in float64: toward zero, then the
    # last bit set when anything was lost.
    toward_zero = np.where((e != 0) & (np.signbit(e) != np.signbit(s)), np.nextafter(s, 0.0), s)
    bits = toward_zero.view(np.int64) | np.where(e != 0, 1, 0).astype(np.int64)
    return np.where(np.isfinite(s), bits.view(np.float64), s).astype(np.float32)


def bitrev(i, log2m):
    return int(format(i, f"0{log2m}b")[::-1], 2) if log2m else 0


def model(x, m, oversample, taps):
    r = m // oversample
    p = len(taps) // m
    frames = len(x) // r
    xr = x.real.astype(np.float32)
    xi = x.imag.astype(np.float32)
    t = (np.arange(frames) + 1) * r - 1
    ur = np.zeros((frames, m), np.float32)
    ui = np.zeros((frames, m), np.float32)
    branch = np.arange(m)
    for q in range(p):
        idx = t[:, None] - branch[None, :] - q * m
        ok = idx >= 0
        sr = np.where(ok, xr[np.maximum(idx, 0)], np.float32(0))
        si = np.where(ok, xi[np.maximum(idx, 0)], np.float32(0))
        h = np.broadcast_to(taps[q * m + branch], sr.shape)
        ur = fma32(h, sr, ur)
        ui = fma32(h, si, ui)
    log2m = m.bit_length() - 1
    order = [bitrev(i, log2m) for i in range(m)]
    zr = ur[:, order].copy()
    zi = ui[:, order].copy()
    wr = np.array([math.cos(2.0 * math.pi * j / m) for j in range(m // 2)], np.float32)
    wi = np.array([math.sin(2.0 * math.pi * j / m) for j in range(m // 2)], np.float32)
    h = 1
    while h < m:
        for g in range(0, m, 2 * h):
            for j in range(h):
                a, b = g + j, g + j + h
                if h == 1:
                    tr, ti = zr[:, b].copy(), zi[:, b].copy()
                else:
                    cr, ci = wr[j * m // (2 * h)], wi[j * m // (2 * h)]
                    tr = zr[:, b] * cr - zi[:, b] * ci
                    ti = zr[:, b] * ci + zi[:, b] * cr
                ar, ai = zr[:, a].copy(), zi[:, a].copy()
                zr[:, a], zi[:, a] = ar + tr, ai + ti
                zr[:, b], zi[:, b] = ar - tr, ai - ti
        h *= 2
    if oversample == 2:
        flip = ((np.arange(m)[None, :] * (np.arange(frames)[:, None] + 1)) & 1) == 1
        zr = np.where(flip, -zr, zr)
        zi = np.where(flip, -zi, zi)
    y = np.empty((m, frames), np.complex64)
    y.real = zr.T
    y.imag = zi.T
    return y


# (channels, oversample, stopband dB, samples, leading call sizes (the rest
# is one more call) or None for one call)
CASES = [
    (8, 1, 60.0, 8 * 40 + 3, None),
    (8, 2, 60.0, 4 * 70 + 1, [5, 0, 3, 100, 1, 91]),
    (64, 1, 70.0, 64 * 90 + 17, [100, 1000, 3, 63, 64, 4000]),
    (64, 2, 70.0, 32 * 120 + 5, None),
]


def main(dump):
    rng = np.random.default_rng(3)
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for m, os_, db, n, sizes in CASES:
            x = ((rng.standard_normal(n) + 1j * rng.standard_normal(n)) * 0.5).astype(np.complex64)
            # A few exact zeros and tiny values: signs of zero and roundings
            # far from 1.0 must agree as well. (No huge values: they would
            # swamp every sum they enter and hide the roundings of the rest.)
            x[::37] = 0
            x[7::43] *= np.float32(1e-30)
            paths = [os.path.join(tmp, name) for name in ("in", "out", "taps")]
            x.tofile(paths[0])
            subprocess.run([dump, str(m), str(os_), str(db), *paths, *[str(s) for s in (sizes + [n - sum(sizes)] if sizes else [])]], check=True)
            taps = np.fromfile(paths[2], np.float32)
            got = np.fromfile(paths[1], np.complex64).reshape(m, -1)
            want = model(x, m, os_, taps)
            same = got.shape == want.shape and np.array_equal(got.view(np.uint32), want.view(np.uint32))
            print(f"M={m} oversample={os_} n={n} split={sizes is not None}: {'ok' if same else 'DIFFERENT'}")
            if not same:
                failed += 1
                if got.shape == want.shape:
                    k, f = np.argwhere(got.view(np.uint64) != want.view(np.uint64))[0]
                    print(f"  first difference: channel {k}, frame {f}: got {got[k, f]!r}, want {want[k, f]!r}")
                else:
                    print(f"  shapes: got {got.shape}, want {want.shape}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
