"""halvo_radio beside its peers, in one run: ns and core cycles per sample.

    taskset -c 1 /usr/bin/python3 benchmarks/radio_speed.py [--samples N] [--repeats R] [--markdown FILE]

Run it with the Python that has GNU Radio (Debian's /usr/bin/python3) and
halvo_radio importable (e.g. PYTHONPATH=<venv>/lib/python3.11/site-packages).
In one process, one job after the other on the same input:

- channel selection, 8 kHz channel out of 1.024 MS/s, >= 70 dB from 12 kHz:
  halvo's ChannelSelector at decimation 64 and 16, GNU Radio's
  freq_xlating_fir_filter_ccf, liquid-dsp's NCO + firdecim_crcf and the NumPy
  way of the old examples/receiver.py (decimation 16, each at that quality:
  benchmarks/radio_peers.py);
- Receiver("nbfm") 240 kHz -> 48 kHz audio with squelch beside GNU Radio's
  NBFM chain; Receiver("wbfm") 2.4 MS/s -> 48 kHz (as a multiple of real time);
- Resampler 2.4 MS/s -> 48 kHz complex beside liquid-dsp's msresamp_crcf and
  SciPy's resample_poly at 70 dB;
- Upconverter 48 kHz x 50 and Transmitter("nbfm") 48 kHz -> 240 kHz, per
  output sample;
- one 64-sample call of every halvo_radio class (microseconds per call);
- the peak resident memory one large call adds, in a fresh process.

Cycles per sample are ns per sample times a core clock measured in the same
run (a chain of dependent 64-bit multiplies, 3 cycles each, run from a few
bytes of machine code; x86-64 Linux only, elsewhere the column is empty).
Medians over the repeats; a shared machine is noisy, so compare within a run.
"""
from __future__ import annotations

import argparse
import ctypes
import mmap
import os
import platform
import statistics
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import radio_peers  # noqa: E402

import halvo_radio as hr  # noqa: E402
import halvo_sdr  # noqa: E402


def core_ghz() -> float | None:
    """Cycles per ns from 8 * 2^24 dependent imuls (3 cycles each)."""
    if platform.machine() not in ("x86_64", "AMD64") or not sys.platform.startswith("linux"):
        return None
    # mov rax, 3; mov rcx, rdi; 1: imul rax, rax (x8); dec rcx; jnz 1b; ret
    code = (b"\x48\xc7\xc0\x03\x00\x00\x00" + b"\x48\x89\xf9" + b"\x48\x0f\xaf\xc0" * 8
            + b"\x48\xff\xc9" + b"\x75" + bytes([256 - (8 * 4 + 3 + 2)]) + b"\xc3")
    try:
        mem = mmap.mmap(-1, mmap.PAGESIZE, prot=mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC)
    except (OSError, AttributeError):
        return None
    mem.write(code)
    addr = ctypes.addressof(ctypes.c_char.from_buffer(mem))
    fn = ctypes.CFUNCTYPE(None, ctypes.c_uint64)(addr)
    n = 1 << 24
    rates = []
    for _ in range(5):
        t0 = time.perf_counter_ns()
        fn(n)
        rates.append(3.0 * 8.0 * n / (time.perf_counter_ns() - t0))
    return statistics.median(rates)


def med_ns(run, repeats: int) -> float:
    run()
    t = []
    for _ in range(repeats):
        t0 = time.perf_counter_ns()
        run()
        t.append(time.perf_counter_ns() - t0)
    return statistics.median(t)


def halvo_jobs(x: np.ndarray, audio: np.ndarray, repeats: int) -> dict[str, float]:
    """ns per input sample (per output sample for the transmit jobs)."""
    out = {}
    c = radio_peers.CHANNEL
    for name, obj, data, per_out in [
        ("channel /64", hr.ChannelSelector(c["fs"], c["offset_hz"], 64, 2 * c["pass_hz"]), x, False),
        ("channel /16", hr.ChannelSelector(c["fs"], c["offset_hz"], 16, 2 * c["pass_hz"]), x, False),
        ("nbfm", hr.Receiver("nbfm", 240e3, 30e3, squelch_db=-40.0), x, False),
        ("wbfm", hr.Receiver("wbfm", 2.4e6, 300e3), x, False),
        ("resample", hr.Resampler(2.4e6, 48e3), x, False),
        ("upconvert x50", hr.Upconverter(48e3, 50, 300e3, 16e3), x[: len(x) // 50], True),
        ("transmit nbfm", hr.Transmitter("nbfm", 48e3, 240e3, 30e3), audio, True),
    ]:
        n = len(obj.process(data)) if per_out else len(data)
        out[name] = med_ns(lambda: obj.process(data), repeats) / n
    return out


def call64(repeats: int) -> dict[str, float]:
    """Microseconds per 64-sample call, for every class."""
    # Noise, not a constant: a constant drives the demodulators and the
    # audio stages into subnormal numbers, which times the CPU's slow path
    # for them instead of the call (docs/architecture.md, "Subnormal numbers").
    rng = np.random.default_rng(64)
    c = (0.1 * (rng.standard_normal(64) + 1j * rng.standard_normal(64))).astype(np.complex64)
    a = (0.1 * rng.standard_normal(64)).astype(np.float32)
    objs = [
        ("ChannelSelector /64", hr.ChannelSelector(1.024e6, 125e3, 64, 8e3), c),
        ("Resampler 2.4M->48k", hr.Resampler(2.4e6, 48e3), c),
        ("Resampler 44.1k->48k float32", hr.Resampler(44.1e3, 48e3, dtype=np.float32), a),
        ("Upconverter x5", hr.Upconverter(48e3, 5, 30e3, 16e3), c),
        ("Deemphasis", hr.Deemphasis(48e3), a),
        ("Preemphasis", hr.Preemphasis(48e3), a),
        ("PowerSquelch", hr.PowerSquelch(48e3, -40.0), c),
        ("Agc", hr.Agc(48e3), a),
        ("Receiver nbfm 240k", hr.Receiver("nbfm", 240e3, 30e3), c),
        ("Receiver wbfm 2.4M", hr.Receiver("wbfm", 2.4e6, 300e3), c),
    ]
    objs += [(f"Receiver {m} 240k", hr.Receiver(m, 240e3, 30e3), c) for m in ("am", "usb", "lsb", "cw", "pm")]
    # 64 audio samples in, 320 out (wbfm at 960 kHz: 1280 out)
    objs += [(f"Transmitter {m} 48k->240k (320 out)", hr.Transmitter(m, 48e3, 240e3, 30e3), a)
             for m in ("nbfm", "am", "usb", "lsb", "cw", "pm")]
    objs += [("Transmitter wbfm 48k->960k (1280 out)", hr.Transmitter("wbfm", 48e3, 960e3, 200e3), a),
             ("Channelizer 8 channels x2 (8 x 16 out)", hr.Channelizer(1.024e6, 8, 2, 70.0), c),
             ("Bank FmQuadratureDemod x4 (4 x 64)", hr.Bank(halvo_sdr.FmQuadratureDemod, 4, fs=48e3, dev_hz=5e3,
                                                            audio_bw_hz=3e3), np.tile(c, (4, 1))),
             ("ReceiverBank nbfm x3 240k", hr.ReceiverBank("nbfm", 240e3, [-60e3, 0.0, 60e3]), c)]
    out = {}
    for name, obj, data in objs:
        p = obj.process

        def loop():
            for _ in range(200):
                p(data)
        out[name] = med_ns(loop, repeats) / 200 / 1000
    return out


PEAK = r"""
import resource, sys, numpy as np, halvo_radio as hr
n = int(sys.argv[1])
# the transmitter: n/5 audio samples in, n out
x = np.full(n // 5, 0.1, np.float32) if sys.argv[2] == "Transmitter" else np.full(n, 0.1 + 0.05j, np.complex64)
objs = {"ChannelSelector": lambda: hr.ChannelSelector(1.024e6, 125e3, 64, 8e3),
        "Receiver": lambda: hr.Receiver("nbfm", 240e3, 30e3),
        "Resampler": lambda: hr.Resampler(2.4e6, 48e3),
        "Upconverter": lambda: hr.Upconverter(48e3, 5, 30e3, 16e3),
        "Transmitter": lambda: hr.Transmitter("nbfm", 48e3, 240e3, 30e3)}
o = objs[sys.argv[2]]()
o.process(x[:4096])
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
y = o.process(x)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print((after - before) / 1024.0, y.nbytes / 2**20)
"""


def peak_memory(n: int) -> dict[str, tuple[float, float]]:
    """MiB the peak resident set grows by in one n-sample call, and the output's MiB."""
    out = {}
    for name in ("ChannelSelector", "Receiver", "Resampler", "Upconverter", "Transmitter"):
        r = subprocess.run([sys.executable, "-c", PEAK, str(n), name], capture_output=True, text=True, check=True)
        grow, size = (float(v) for v in r.stdout.split())
        out[name] = (grow, size)
    return out


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--samples", type=int, default=1 << 21, help="input samples per timed call (default 2M)")
    p.add_argument("--repeats", type=int, default=5)
    p.add_argument("--markdown", help="write the tables to this file")
    a = p.parse_args(argv)
    x = radio_peers.test_signal(a.samples)
    rng = np.random.default_rng(2)
    audio = (0.3 * rng.standard_normal(a.samples // 10)).astype(np.float32)
    ghz = core_ghz()
    ours = halvo_jobs(x, audio, a.repeats)
    peers = {}
    for job, fns in radio_peers.JOBS.items():
        for peer, fn in fns:
            peers[(job, peer)] = fn(x, a.repeats)
    ghz_after = core_ghz()
    calls = call64(a.repeats)
    mem = peak_memory(1 << 24)

    def cyc(ns):
        return "" if ghz is None or ns is None else f"{ns * ghz:.2f}"

    def ns_(v):
        return "missing" if v is None else f"{v:.2f}"

    rows = [
        ("ChannelSelector 1.024 MS/s / 64, 8 kHz, 70 dB from 12 kHz", "halvo_radio", ours["channel /64"]),
        ("channel job / 16 (same filter quality)", "halvo_radio", ours["channel /16"]),
        ("", "GNU Radio freq_xlating_fir_filter_ccf", peers[("channel", "gnuradio")]),
        ("", "liquid-dsp nco_crcf + firdecim_crcf", peers[("channel", "liquid-dsp")]),
        ("", "NumPy (old examples/receiver.py)", peers[("channel", "numpy")]),
        ("Receiver nbfm 240 kHz -> 48 kHz, squelch", "halvo_radio", ours["nbfm"]),
        ("", "GNU Radio xlating /5 + pwr_squelch_cc + nbfm_rx", peers[("nbfm", "gnuradio")]),
        ("Receiver wbfm 2.4 MS/s -> 48 kHz", "halvo_radio", ours["wbfm"]),
        ("Resampler 2.4 MS/s -> 48 kHz complex, 70 dB", "halvo_radio", ours["resample"]),
        ("", "liquid-dsp msresamp_crcf", peers[("resample", "liquid-dsp")]),
        ("", "SciPy resample_poly", peers[("resample", "scipy")]),
        ("Upconverter 48 kHz x 50 (per output)", "halvo_radio", ours["upconvert x50"]),
        ("Transmitter nbfm 48 kHz -> 240 kHz (per output)", "halvo_radio", ours["transmit nbfm"]),
    ]
    lines = [f"Core clock {ghz:.2f} GHz at the start, {ghz_after:.2f} GHz after the peers (measured in this run); "
             f"{a.samples} samples per call, median of {a.repeats}." if ghz else "No clock measured on this machine.",
             "", "| job | implementation | ns/sample | cycles/sample | ratio to halvo_radio |", "|---|---|---|---|---|"]
    ref = None
    for job, impl, v in rows:
        if job:
            ref = v
        ratio = "" if v is None or impl == "halvo_radio" else f"{v / ref:.1f}x"
        extra = ""
        if job.startswith("Receiver wbfm") and v:
            extra = f" ({1e9 / (v * 2.4e6):.0f}x real time)"
        lines.append(f"| {job} | {impl} | {ns_(v)}{extra} | {cyc(v)} | {ratio} |")
    lines += ["", "| 64-sample call | us per call |", "|---|---|"]
    lines += [f"| {k} | {v:.3f} |" for k, v in calls.items()]
    lines += ["", "| one call, 16M samples (the transmitter: 16M out) | peak RSS growth, MiB | output, MiB |", "|---|---|---|"]
    lines += [f"| {k} | {g:.1f} | {s:.1f} |" for k, (g, s) in mem.items()]
    text = "\n".join(lines)
    print(text)
    if a.markdown:
        with open(a.markdown, "w") as fh:
            fh.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
