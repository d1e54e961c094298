"""The front end against an independent NumPy float32 model, bit for bit.

    python3 frontend_model_check.py PATH/TO/radio_frontend_dump

The model follows docs/radio-frontend.md operation by operation in float32:
the oscillator's integer phase, polynomial and rotations, the mixers, the polyphase FIR
in sixteen partial sums and its fixed tree, one decimating stage or two (the
plan and the taps come from the runner). The low-pass design is checked
against a float64 model of the same formulas (to within a float32 rounding:
NumPy's I0 is not the series the design uses). Runs each class in one call
and in splits, with a retune at a call boundary; exits nonzero on the first
difference, naming the case and the sample.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

F = np.float32
S0, S1, S2, S3 = (F(float.fromhex(h)) for h in ("0x1.921fb4p+2", "-0x1.4abba8p+5", "0x1.465a3ep+6", "-0x1.2cf5d4p+6"))
C0, C1, C2, C3 = (F(float.fromhex(h)) for h in ("-0x1.3bd3ccp+4", "0x1.03c1dep+6", "-0x1.55c664p+6", "0x1.d9f7bcp+5"))


def nco_step(hz, fs):
    return int(round(hz / fs * 2.0**32)) % 2**32


def phases(phi0, inc, n):
    return ((phi0 + np.arange(n, dtype=np.uint64) * np.uint64(inc)) % np.uint64(2**32)).astype(np.uint32)


def cos_sin(phi):
    k = ((phi.astype(np.uint64) + 2**29) % 2**32 >> 30).astype(np.uint32)
    r = ((phi.astype(np.int64) - (k.astype(np.int64) << 30)) % 2**32).astype(np.uint32).view(np.int32)
    t = r.astype(F) * F(2.0**-32)
    t2 = t * t
    u = np.full_like(t, S3)
    u = S2 + t2 * u
    u = S1 + t2 * u
    u = S0 + t2 * u
    s = t * u
    v = np.full_like(t, C3)
    v = C2 + t2 * v
    v = C1 + t2 * v
    v = C0 + t2 * v
    c = F(1) + t2 * v
    odd = (k & 1) == 1
    c1 = np.where(odd, s, c)
    s1 = np.where(odd, c, s)
    return np.where(((k + 1) & 2) != 0, -c1, c1), np.where((k & 2) != 0, -s1, s1)


def rotating(inc, r):
    """The mixers' oscillator: phase steps inc[i], the latest retune at sample r
    (-1: none). Anchors (n mod 64 < 8, or within 8 samples of the retune) take
    the polynomial of the phase; the others rotate the sample eight back by
    the polynomial of 8 * inc."""
    n = len(inc)
    phi = (np.concatenate([[0], np.cumsum(inc)[:-1]]) % 2**32).astype(np.uint32)
    c, s = cos_sin(phi)
    wc, ws = cos_sin(((inc * 8) % 2**32).astype(np.uint32))
    i = np.arange(n)
    since = i - max(r, 0)
    rotated = (i % 64 >= 8) & ((since < 0) | (since >= 8))
    for b in range(8, n, 8):
        sl = slice(b, min(b + 8, n))
        m = rotated[sl]
        pc, ps = c[b - 8:sl.stop - 8], s[b - 8:sl.stop - 8]
        c[sl] = np.where(m, pc * wc[sl] - ps * ws[sl], c[sl])
        s[sl] = np.where(m, ps * wc[sl] + pc * ws[sl], s[sl])
    return c, s


def fir(h, l, plane, n0, p):
    """Outputs at newest input n0[i], phase p[i] of the l-phase prototype h."""
    k = max(16, -(-(-(-len(h) // l)) // 16) * 16)
    j = np.arange(k)
    tap_idx = p[:, None] + (k - 1 - j)[None, :] * l
    hp = np.concatenate([h, np.zeros(1, F)])
    g = hp[np.minimum(tap_idx, len(h))]
    padded = np.concatenate([np.zeros(k - 1, F), plane])
    w = padded[n0[:, None] + j[None, :]]
    acc = np.zeros((len(n0), 16), F)
    for jj in range(k):
        acc[:, jj % 16] = acc[:, jj % 16] + g[:, jj] * w[:, jj]
    q = acc[:, :8] + acc[:, 8:]
    r = q[:, :4] + q[:, 4:]
    s = r[:, :2] + r[:, 2:]
    return s[:, 0] + s[:, 1]


def outputs(l, m, n):
    kk = np.arange((n * l + m - 1) // m, dtype=np.int64)
    return kk * m // l, kk * m % l


def lowpass_model(fs, fp, fst, db, gain=1.0):
    a = db + 3.0
    beta = 0.1102 * (a - 8.7) if a > 50 else (0.5842 * (a - 21) ** 0.4 + 0.07886 * (a - 21) if a >= 21 else 0.0)
    n = int(np.ceil((a - 7.95) / (14.36 * (fst - fp) / fs)) + 1)
    fc = 0.5 * (fp + fst) / fs
    t = np.arange(n) - 0.5 * (n - 1)
    h = 2 * fc * np.sinc(2 * fc * t) * np.kaiser(n, beta)
    return h * (gain / h.sum())


def split_taps(t):
    """(d1, first stage's taps or None, last stage's taps) from a TAPS file."""
    d1, n1 = int(t[0]), int(t[1])
    return d1, (t[2:2 + n1] if d1 > 1 else None), t[2 + n1:]


def decimate(taps, dec, re, im):
    """The decimating chain (one stage or two) on planes re, im."""
    d1, h1, h2 = split_taps(taps)
    if d1 > 1:
        n0, p = outputs(1, d1, len(re))
        re, im = fir(h1, 1, re, n0, p), fir(h1, 1, im, n0, p)
        dec //= d1
    n0, p = outputs(1, dec, len(re))
    return fir(h2, 1, re, n0, p), fir(h2, 1, im, n0, p)


def selector_model(x, fs, offset, dec, h, retune_at, retune_hz):
    n = len(x)
    inc = np.full(n, nco_step(offset, fs), np.uint64)
    if retune_at >= 0:
        inc[retune_at:] = nco_step(retune_hz, fs)
    c, s = rotating(inc, retune_at)
    xr, xi = x.real.astype(F), x.imag.astype(F)
    zr = xr * c + xi * s
    zi = xi * c - xr * s
    yr, yi = decimate(h, dec, zr, zi)
    return yr + 1j * yi.astype(np.complex64)


def upconverter_model(x, fs, interp, offset, h, retune_at, retune_hz):
    h = split_taps(h)[2]
    n0, p = outputs(interp, 1, len(x))
    yr = fir(h, interp, x.real.astype(F), n0, p)
    yi = fir(h, interp, x.imag.astype(F), n0, p)
    high = fs * interp
    inc = np.full(len(n0), nco_step(offset, high), np.uint64)
    if retune_at >= 0:
        inc[retune_at * interp:] = nco_step(retune_hz, high)
    c, s = rotating(inc, retune_at * interp if retune_at >= 0 else -1)
    return (yr * c - yi * s) + 1j * (yi * c + yr * s).astype(np.complex64)


def resampler_model(x, l, m, h):
    if l == 1:
        if np.iscomplexobj(x):
            yr, yi = decimate(h, m, x.real.astype(F), x.imag.astype(F))
            return yr + 1j * yi.astype(np.complex64)
        return decimate(h, m, x, x)[0]
    h = split_taps(h)[2]
    n0, p = outputs(l, m, len(x))
    if np.iscomplexobj(x):
        return fir(h, l, x.real.astype(F), n0, p) + 1j * fir(h, l, x.imag.astype(F), n0, p).astype(np.complex64)
    return fir(h, l, x, n0, p)


def same(name, got, want):
    got = np.asarray(got)
    want = np.asarray(want, dtype=got.dtype)
    if got.shape != want.shape:
        print(f"{name}: {got.shape} outputs, the model has {want.shape}")
        return False
    a = got.view(np.uint32) if got.dtype == np.float32 else got.view(np.uint32).reshape(-1, 2)
    b = want.view(np.uint32) if want.dtype == np.float32 else want.view(np.uint32).reshape(-1, 2)
    bad = np.nonzero(np.any((a != b).reshape(len(got), -1), axis=1))[0]
    if len(bad):
        i = bad[0]
        print(f"{name}: {len(bad)} outputs differ, first at {i}: {got[i]!r} vs model {want[i]!r}")
        return False
    return True


def main():
    dump = sys.argv[1]
    rng = np.random.default_rng(12)
    ok = True
    with tempfile.TemporaryDirectory() as d:
        fin, fout, ftaps = (os.path.join(d, f) for f in ("in", "out", "taps"))

        def call(args, sizes):
            subprocess.run([dump] + [str(a) for a in args] + [str(s) for s in sizes], check=True)
            return np.fromfile(ftaps, F)

        def split(n, *cuts):
            edges = [0, *cuts, n]
            return [b - a for a, b in zip(edges, edges[1:])]

        # The design, against the float64 model.
        for fs, fp, fst, db in [(48e3, 3e3, 5e3, 70.0), (1e6, 1e4, 1.3e4, 90.0), (8e3, 1e3, 4e3, 40.0)]:
            subprocess.run([dump, "lowpass", str(fs), str(fp), str(fst), str(db), ftaps], check=True)
            got = np.fromfile(ftaps, F)
            want = lowpass_model(fs, fp, fst, db)
            if len(got) > len(want):  # short designs may be lengthened to meet the mask
                want = None
            if want is None or np.max(np.abs(got - want)) > 2e-7 * np.max(np.abs(want)):
                print(f"lowpass {fs} {fp} {fst} {db}: differs from the model")
                ok = False

        x = (rng.uniform(-1, 1, 6000) + 1j * rng.uniform(-1, 1, 6000)).astype(np.complex64)
        x.tofile(fin)
        for fs, off, dec, bw, at, hz, sizes in [
            (1.024e6, 125e3, 64, 8e3, -1, 0.0, []),
            (1.024e6, 125e3, 64, 8e3, -1, 0.0, split(6000, 1, 63, 64, 4000)),
            (1.024e6, 100e3, 16, 8e3, 100, 3e3, split(6000, 100, 5000)),
            (48e3, -5e3, 3, 6e3, 2000, 17e3, split(6000, 2000, 2001, 5000)),
            (2e5, -1e5, 1, 3e4, 3, -1e5, split(6000, 3)),
        ]:
            h = call(["selector", fs, off, dec, bw, at, hz, fin, fout, ftaps], sizes)
            got = np.fromfile(fout, np.complex64)
            ok &= same(f"selector {fs} {off} /{dec} {sizes[:4]}", got, selector_model(x, fs, off, dec, h, at, hz))

        for fs, interp, off, bw, at, hz, sizes in [
            (48e3, 5, 60e3, 16e3, -1, 0.0, split(2000, 700)),
            (8e3, 4, -1e3, 7e3, 999, 5e3, split(2000, 999, 1500)),
        ]:
            h = call(["upconverter", fs, interp, off, bw, at, hz, fin, fout, ftaps], sizes)
            got = np.fromfile(fout, np.complex64)
            ok &= same(f"upconverter {fs} x{interp}", got, upconverter_model(x[:2000], fs, interp, off, h, at, hz))

        xr = rng.uniform(-1, 1, 6000).astype(F)
        for fs_in, fs_out, l, m in [(240e3, 48e3, 1, 5), (2.4e6, 48e3, 1, 50), (44.1e3, 48e3, 160, 147), (48e3, 44.1e3, 147, 160)]:
            for kind, data in (("c", x), ("r", xr)):
                data[:3000].tofile(fin)
                h = call(["resampler", fs_in, fs_out, kind, fin, fout, ftaps], split(3000, 1, 2, 1000))
                got = np.fromfile(fout, np.complex64 if kind == "c" else F)
                ok &= same(f"resampler {fs_in} -> {fs_out} {kind}", got, resampler_model(data[:3000], l, m, h))
    print("model: all equal" if ok else "model: differences")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
