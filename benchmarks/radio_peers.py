"""Peers for the receive and transmit jobs of halvo_radio, timed the same way.

Each job is given the filter quality the halvo_radio class promises (passband
edge, transition width, stopband attenuation), not the same tap count:

- channel selection: an 8 kHz-wide channel (passband +-4 kHz) at an offset in
  a 1.024 MS/s capture, >= 70 dB from 12 kHz off centre, decimation 16;
- the NBFM chain: 240 kHz capture to 48 kHz audio (channel filter /5, power
  squelch, FM demodulation with 75 us de-emphasis);
- resampling: complex 2.4 MS/s to 48 kHz with 70 dB stopband.

GNU Radio runs where its Python bindings import (Debian's `gnuradio` package,
for Debian's own /usr/bin/python3); liquid-dsp runs through ctypes where
`libliquid.so` loads (Debian's `libliquid-dev`); the NumPy/SciPy versions run
everywhere. A peer that is not installed is reported as missing, not timed.

    /usr/bin/python3 benchmarks/radio_peers.py --json out.json

prints one line per job and peer: the median ns per input sample over the
repeats, and writes them as JSON for benchmarks/radio_bench.py.
"""
from __future__ import annotations

import argparse
import ctypes
import ctypes.util
import json
import math
import statistics
import sys
import time

import numpy as np

CHANNEL = dict(fs=1.024e6, offset_hz=100e3, decimation=16, pass_hz=4e3, stop_hz=12e3, stopband_db=70.0)
NBFM = dict(fs=240e3, offset_hz=30e3, decimation=5, audio_fs=48e3, pass_hz=6.25e3, stop_hz=12.5e3,
            dev_hz=5e3, stopband_db=70.0)
RESAMPLE = dict(fs_in=2.4e6, fs_out=48e3, stopband_db=70.0)


def kaiser_len(fs: float, transition_hz: float, stopband_db: float) -> int:
    """Kaiser's estimate of the taps a windowed sinc needs, made odd."""
    n = int(math.ceil((stopband_db - 7.95) / (14.36 * transition_hz / fs))) + 1
    return n | 1


def test_signal(n: int, seed: int = 1) -> np.ndarray:
    rng = np.random.default_rng(seed)
    return ((rng.standard_normal(n) + 1j * rng.standard_normal(n)) * 0.3).astype(np.complex64)


def time_ns_per_sample(run, n: int, repeats: int) -> float:
    run()  # warm up: first-call costs (plans, allocations) are not the steady state
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter_ns()
        run()
        times.append(time.perf_counter_ns() - t0)
    return statistics.median(times) / n


# ---- NumPy/SciPy ----------------------------------------------------------

def numpy_channel(x: np.ndarray, repeats: int) -> float:
    """Mix, then the FIR evaluated only at the kept outputs over a window that
    carries the previous block's tail -- the way examples/receiver.py did it."""
    from scipy import signal
    c = CHANNEL
    d = c["decimation"]
    taps = signal.firwin(kaiser_len(c["fs"], c["stop_hz"] - c["pass_hz"], c["stopband_db"]),
                         (c["pass_hz"] + c["stop_hz"]) / 2, fs=c["fs"],
                         window=("kaiser", signal.kaiser_beta(c["stopband_db"])))[::-1].astype(np.complex128)
    state = {"phase": 0.0, "history": np.zeros(len(taps) - 1, np.complex128)}
    step = -2 * np.pi * c["offset_hz"] / c["fs"]

    def run():
        ph = state["phase"] + step * np.arange(len(x))
        mixed = x * np.exp(1j * ph)
        state["phase"] = (state["phase"] + step * len(x)) % (2 * np.pi)
        buf = np.concatenate([state["history"], mixed])
        windows = np.lib.stride_tricks.sliding_window_view(buf, len(taps))
        y = (windows[::d] @ taps).astype(np.complex64)
        state["history"] = buf[len(buf) - len(taps) + 1:]
        return y

    return time_ns_per_sample(run, len(x), repeats)


def scipy_resample(x: np.ndarray, repeats: int) -> float:
    from scipy import signal
    r = RESAMPLE
    up, down = 1, int(r["fs_in"] // r["fs_out"])
    return time_ns_per_sample(lambda: signal.resample_poly(x, up, down), len(x), repeats)


# ---- liquid-dsp through ctypes ---------------------------------------------

def _liquid():
    name = ctypes.util.find_library("liquid") or "libliquid.so"
    try:
        lib = ctypes.CDLL(name)
    except OSError:
        return None
    vp, u, f = ctypes.c_void_p, ctypes.c_uint, ctypes.c_float
    fp = ctypes.POINTER(ctypes.c_float)
    lib.firdecim_crcf_create.restype = vp
    lib.firdecim_crcf_create.argtypes = [u, fp, u]
    lib.firdecim_crcf_execute_block.argtypes = [vp, vp, u, vp]
    lib.liquid_firdes_kaiser.argtypes = [u, f, f, f, fp]
    lib.nco_crcf_create.restype = vp
    lib.nco_crcf_create.argtypes = [ctypes.c_int]
    lib.nco_crcf_set_frequency.argtypes = [vp, f]
    lib.nco_crcf_mix_block_down.argtypes = [vp, vp, vp, u]
    lib.msresamp_crcf_create.restype = vp
    lib.msresamp_crcf_create.argtypes = [f, f]
    lib.msresamp_crcf_execute.argtypes = [vp, vp, u, vp, ctypes.POINTER(u)]
    return lib


def liquid_channel(x: np.ndarray, repeats: int) -> float | None:
    lib = _liquid()
    if lib is None:
        return None
    c = CHANNEL
    n_taps = kaiser_len(c["fs"], c["stop_hz"] - c["pass_hz"], c["stopband_db"])
    h = np.zeros(n_taps, np.float32)
    fc = (c["pass_hz"] + c["stop_hz"]) / 2 / c["fs"]
    lib.liquid_firdes_kaiser(n_taps, fc, c["stopband_db"], 0.0, h.ctypes.data_as(ctypes.POINTER(ctypes.c_float)))
    q = lib.firdecim_crcf_create(c["decimation"], h.ctypes.data_as(ctypes.POINTER(ctypes.c_float)), n_taps)
    nco = lib.nco_crcf_create(0)
    lib.nco_crcf_set_frequency(nco, 2 * math.pi * c["offset_hz"] / c["fs"])
    n = len(x) - len(x) % c["decimation"]
    mixed = np.empty(n, np.complex64)
    y = np.empty(n // c["decimation"], np.complex64)

    def run():
        lib.nco_crcf_mix_block_down(nco, x.ctypes.data, mixed.ctypes.data, n)
        lib.firdecim_crcf_execute_block(q, mixed.ctypes.data, n // c["decimation"], y.ctypes.data)

    return time_ns_per_sample(run, n, repeats)


def liquid_resample(x: np.ndarray, repeats: int) -> float | None:
    lib = _liquid()
    if lib is None:
        return None
    r = RESAMPLE
    q = lib.msresamp_crcf_create(r["fs_out"] / r["fs_in"], r["stopband_db"])
    y = np.empty(int(len(x) * r["fs_out"] / r["fs_in"]) + 64, np.complex64)
    ny = ctypes.c_uint(0)

    def run():
        lib.msresamp_crcf_execute(q, x.ctypes.data, len(x), y.ctypes.data, ctypes.byref(ny))

    return time_ns_per_sample(run, len(x), repeats)


# ---- GNU Radio --------------------------------------------------------------

def _gnuradio():
    try:
        from gnuradio import analog, blocks, filter, gr  # noqa: F401
        from gnuradio.fft import window  # noqa: F401
    except ImportError:
        return None
    import gnuradio
    return gnuradio


def _run_flowgraph(build, x: np.ndarray, repeats: int) -> float:
    """Build the flowgraph once; each timed run rewinds the source and runs it
    to the end, so the Python-to-C++ copy of the input is not timed."""
    from gnuradio import blocks, gr

    tb = gr.top_block()
    src = blocks.vector_source_c(x, False)
    head, tail, item_size = build(tb)
    tb.connect(src, head)
    tb.connect(tail, blocks.null_sink(item_size))

    def run():
        src.rewind()
        tb.run()

    return time_ns_per_sample(run, len(x), repeats)


def gnuradio_channel(x: np.ndarray, repeats: int) -> float | None:
    if _gnuradio() is None:
        return None
    from gnuradio import filter, gr
    from gnuradio.fft import window
    c = CHANNEL
    taps = filter.firdes.low_pass_2(1.0, c["fs"], (c["pass_hz"] + c["stop_hz"]) / 2, c["stop_hz"] - c["pass_hz"],
                                    c["stopband_db"], window.WIN_KAISER, 7.0)

    def build(tb):
        blk = filter.freq_xlating_fir_filter_ccf(c["decimation"], taps, c["offset_hz"], c["fs"])
        return blk, blk, gr.sizeof_gr_complex

    return _run_flowgraph(build, x, repeats)


def gnuradio_nbfm(x: np.ndarray, repeats: int) -> float | None:
    if _gnuradio() is None:
        return None
    from gnuradio import analog, filter, gr
    from gnuradio.fft import window
    c = NBFM
    taps = filter.firdes.low_pass_2(1.0, c["fs"], (c["pass_hz"] + c["stop_hz"]) / 2, c["stop_hz"] - c["pass_hz"],
                                    c["stopband_db"], window.WIN_KAISER, 7.0)

    def build(tb):
        xlate = filter.freq_xlating_fir_filter_ccf(c["decimation"], taps, c["offset_hz"], c["fs"])
        squelch = analog.pwr_squelch_cc(-40.0, 1e-3, 0, False)
        rx = analog.nbfm_rx(audio_rate=int(c["audio_fs"]), quad_rate=int(c["fs"] / c["decimation"]),
                            tau=75e-6, max_dev=c["dev_hz"])
        tb.connect(xlate, squelch, rx)
        return xlate, rx, gr.sizeof_float

    return _run_flowgraph(build, x, repeats)


JOBS = {
    "channel": [("numpy", numpy_channel), ("liquid-dsp", liquid_channel), ("gnuradio", gnuradio_channel)],
    "nbfm": [("gnuradio", gnuradio_nbfm)],
    "resample": [("scipy", scipy_resample), ("liquid-dsp", liquid_resample)],
}


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--samples", type=int, default=1 << 22, help="input samples per timed call (default 4M)")
    p.add_argument("--repeats", type=int, default=5, help="timed calls per peer; the median is reported")
    p.add_argument("--jobs", nargs="*", default=list(JOBS), choices=list(JOBS))
    p.add_argument("--json", help="also write the figures to this file")
    a = p.parse_args(argv)
    x = test_signal(a.samples)
    out: dict[str, dict[str, float | None]] = {}
    for job in a.jobs:
        out[job] = {}
        for peer, fn in JOBS[job]:
            ns = fn(x, a.repeats)
            out[job][peer] = ns
            print(f"{job:10s} {peer:12s} " + ("missing" if ns is None else f"{ns:8.2f} ns/sample"), flush=True)
    if a.json:
        with open(a.json, "w") as fh:
            json.dump({"python": sys.version.split()[0], "results": out}, fh, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
