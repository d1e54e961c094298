"""Leak soak: many successful and failing calls, then resident memory and the
reference counts of shared objects before and after.

    python robustness/soak.py                  # 10^6 process calls, 10^5 failing calls of each kind
    python robustness/soak.py --scale 0.02     # the reduced run CI does

The successful calls go round halvo_sdr's ten classes and halvo_radio's
(front end, audio stage, Receiver, Transmitter) on small blocks (every output
is dropped at once). The failing calls cover every way a call can fail:
parse errors, conversion errors of numbers and flags, unacceptable arrays,
re-entrant calls through a conversion hook, and halvo_radio's refusals of
invalid parameters and arrays. Resident memory is measured
after a warm-up, so that caches, the holder type and the allocator's pools
already exist; it and every reference count must come back where it was.
Exits 1 when the resident size grew by more than --rss-slack-mib or any
reference count moved by 100 or more (a leak or an over-release of one
reference per call would move it by the number of calls).
"""
import argparse
import gc
import os
import sys
import time

import numpy as np

import halvo_radio
import halvo_sdr

RADIO = {  # halvo_radio classes: constructor arguments, input type
    "ChannelSelector": ((48000, 5000, 4, 4000), np.complex64),
    "Resampler": ((48000, 16000), np.complex64),
    "Upconverter": ((8000, 3, 1000, 2000), np.complex64),
    "Deemphasis": ((48000,), np.float32),
    "Preemphasis": ((48000,), np.float32),
    "PowerSquelch": ((48000, -30), np.complex64),
    "Agc": ((48000,), np.float32),
    "Receiver": (("nbfm", 48000, 0), np.complex64),
    "Transmitter": (("usb", 8000, 48000, 1000), np.float32),
}
CLASSES = {
    "CwEnvelopeDemod": (8000, 700, 50),
    "AmEnvelopeDemod": (8000, 3000, False),
    "SsbProductDemod": (8000, 1500, 2700),
    "FmQuadratureDemod": (8000, 2500, 3000),
    "PmQuadratureDemod": (8000, 1.5, 3000),
    "AmDsbMod": (8000, 1000, 0.5, 0.8),
    "CwKeyedMod": (8000, 700, 5, 5),
    "FmPhaseAccumMod": (8000, 2500, 1000),
    "PmDirectPhaseMod": (8000, 1.2, 1000),
    "SsbPhasingMod": (8000, 2700, 1500, 1000, True),
}


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak_rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


class Boom(Exception):
    pass


class FloatRaises:
    def __float__(self):
        raise Boom("no float")


class Reenters:
    def __init__(self, obj, x):
        self.obj, self.x = obj, x

    def __float__(self):
        self.obj.process(self.x)  # the object is borrowed: RuntimeError propagates
        return 1.0


class FakeBool:
    __module__ = "numpy"

    def __bool__(self):
        raise Boom("no truth")


FakeBool.__name__ = "bool_"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--calls", type=int, default=1_000_000, help="successful process calls")
    ap.add_argument("--fail-calls", type=int, default=100_000, help="failing calls of each kind")
    ap.add_argument("--scale", type=float, default=1.0, help="multiplies both counts")
    ap.add_argument("--block", type=int, default=16, help="samples per process call")
    ap.add_argument("--rss-slack-mib", type=float, default=4.0)
    a = ap.parse_args()
    calls = max(1, int(a.calls * a.scale))
    fails = max(1, int(a.fail_calls * a.scale))

    names = list(CLASSES) + list(RADIO)
    objs = ([getattr(halvo_sdr, n)(*CLASSES[n]) for n in CLASSES]
            + [getattr(halvo_radio, n)(*RADIO[n][0]) for n in RADIO])
    xs = [np.linspace(-1, 1, a.block).astype(RADIO[n][1] if n in RADIO else
                                             np.complex64 if n.endswith("Demod") else np.float32) for n in names]
    cw, am = objs[0], objs[5]
    rx = objs[names.index("Receiver")]
    native = halvo_radio._native
    iq = xs[0]
    bad_arrays = [list(iq[:4]), iq.astype(np.complex128), np.zeros((2, 8), np.complex64), iq[::2],
                  iq.astype(">c8"), np.zeros(4, np.float32), None,
                  np.frombuffer(np.zeros(8 * 8 + 1, np.uint8).data, np.complex64, 8, 1)]
    reenter = Reenters(cw, iq)
    float_raises, fake_bool = FloatRaises(), FakeBool()

    def failing(kind, n):
        if kind == "parse":
            calls_ = [lambda: cw.process(iq, iq), lambda: cw.process(), lambda: cw.process(samples=iq),
                      lambda: cw.set_gain(1.0, g=1.0), lambda: halvo_sdr.SsbProductDemod(1, 2),
                      lambda: halvo_sdr.CwEnvelopeDemod(1, 2, 3, 4), lambda: am.set_clamp(on=True, off=1)]
            exc = TypeError
        elif kind == "convert":
            calls_ = [lambda: cw.set_gain("x"), lambda: cw.set_gain(None), lambda: am.set_clamp(1),
                      lambda: halvo_sdr.AmEnvelopeDemod(8000, 3000, None),
                      lambda: halvo_sdr.CwEnvelopeDemod(8000, "x", 50)]
            exc = TypeError
        elif kind == "convert-other":
            calls_ = [lambda: cw.set_gain(10**400), lambda: cw.set_gain(float_raises),
                      lambda: am.set_clamp(fake_bool), lambda: halvo_sdr.CwKeyedMod(8000, 700, float_raises, 5)]
            exc = (OverflowError, Boom)
        elif kind == "bad array":
            calls_ = [lambda b=b: cw.process(b) for b in bad_arrays]
            exc = TypeError
        elif kind == "re-entrancy":
            calls_ = [lambda: cw.set_gain(reenter)]
            exc = RuntimeError
        elif kind == "radio refusals":
            calls_ = [lambda: halvo_radio.ChannelSelector(48000, 0, 0, 1000),
                      lambda: halvo_radio.ChannelSelector(48000, 0, 4, 30000),
                      lambda: halvo_radio.Resampler(48000, 48000 * 2**-20),
                      lambda: halvo_radio.Receiver("fm", 48000, 0),
                      lambda: native.ChannelSelector(48000.0, 0.0, 4, 1000.0, float("nan"), 10.0),
                      lambda: native.Agc(48000.0, -1.0, 10.0, 300.0, 60.0),
                      lambda: rx.process(iq.astype(np.complex128)), lambda: rx.process(iq[::2]),
                      lambda: native.Deemphasis(48000.0, float_raises)]
            exc = (ValueError, TypeError, Boom)
        k = len(calls_)
        for i in range(n):
            try:
                calls_[i % k]()
            except exc:
                pass
            else:
                raise AssertionError(f"a {kind} call succeeded")

    kinds = ["parse", "convert", "convert-other", "bad array", "re-entrancy", "radio refusals"]

    def succeed(n):
        m = len(objs)
        for i in range(n):
            objs[i % m].process(xs[i % m])

    def shared():
        out = {"None": None, "True": True, "False": False, "TypeError": TypeError, "RuntimeError": RuntimeError}
        for n, x in zip(names, xs):
            out[n] = getattr(halvo_radio if n in RADIO else halvo_sdr, n)
            out[f"{n} input"] = x
        out["PySliceContainer"] = type(cw.process(iq).base)
        out["ValueError"] = ValueError
        for n in RADIO:
            out[f"native {n}"] = getattr(native, n)
        return out

    def refcounts():
        gc.collect()
        return {k: sys.getrefcount(v) for k, v in shared().items()}

    # Warm-up: every path once and a little more, so caches and pools exist.
    succeed(20_000)
    for kind in kinds:
        failing(kind, 2_000)
    gc.collect()
    rc0, rss0 = refcounts(), rss_bytes()
    t0 = time.perf_counter()
    succeed(calls)
    t1 = time.perf_counter()
    rss_mid = rss_bytes()
    timings = {}
    for kind in kinds:
        s = time.perf_counter()
        failing(kind, fails)
        timings[kind] = time.perf_counter() - s
    gc.collect()
    rc1, rss1 = refcounts(), rss_bytes()
    peak = peak_rss_bytes()

    mib = 1 / 2**20
    print(f"successful process calls: {calls:,} ({a.block} samples each) in {t1 - t0:.2f} s")
    for kind in kinds:
        print(f"failing calls, {kind}: {fails:,} in {timings[kind]:.2f} s")
    print(f"resident memory: before {rss0 * mib:.2f} MiB, after the successful calls {rss_mid * mib:.2f} MiB, "
          f"after the failing calls {rss1 * mib:.2f} MiB (grew {(rss1 - rss0) * mib:+.2f} MiB; peak {peak * mib:.2f} MiB)")
    moved = {}
    print("reference counts (before -> after):")
    for k in rc0:
        d = rc1[k] - rc0[k]
        print(f"  {k:28s} {rc0[k]:>10} -> {rc1[k]:<10} {d:+d}")
        if abs(d) >= 100:
            moved[k] = d
    ok = (rss1 - rss0) * mib <= a.rss_slack_mib and not moved
    print("soak: " + ("flat" if ok else f"FAILED (moved: {moved})"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
