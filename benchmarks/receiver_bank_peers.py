"""A whole scanner in one run: 64 NBFM channels out of a 1.6 MS/s capture to
64 streams of audio with squelch, on one core.

    PYTHONPATH=<site-packages holding halvo_sdr> /usr/bin/python3 benchmarks/receiver_bank_peers.py [--seconds 2]

(/usr/bin/python3 for Debian's GNU Radio; without it the GNU Radio line is
skipped.) The process is pinned to one CPU first, so GNU Radio's block
threads share that core as halvo's single thread does. Every job is timed in
CPU time of the whole process (time.process_time: all threads, not the time
spent waiting for a CPU on a shared machine); medians over the repeats, and
real time = capture seconds / CPU seconds. Jobs:

- halvo ReceiverBank("nbfm", 1.6e6, 64 offsets 25 kHz apart, squelch_db=-40),
  audio at 48 kHz and at 25 kHz (the channel rate 50 kHz halved: no resampler);
- halvo Channelizer(1.6e6, 64, oversample=2) alone (the bank's front end);
- 64 single Receiver("nbfm", 1.6e6, offset) objects, each on the whole capture
  (what a user without the bank would write); timed on a tenth of the capture;
- GNU Radio 3.10: pfb.channelizer_ccf(64, 70 dB prototype, oversample 2)
  feeding 64 x (pwr_squelch_cc(-40) -> nbfm_rx(25 kHz audio, 50 kHz quad
  rate)), in one flowgraph; input from a vector source, output to null sinks.

The capture: noise at -40 dB of full scale plus NBFM carriers on 8 of the 64
channels (the squelch opens there and stays shut elsewhere).
"""
from __future__ import annotations

import argparse
import contextlib
import io
import os
import statistics
import time

import numpy as np

import halvo_radio as hr

FS, M, SPACING = 1.6e6, 64, 25_000.0
OFFSETS = (np.arange(M) - M // 2) * SPACING


def capture(seconds: float) -> np.ndarray:
    n = int(seconds * FS)
    rng = np.random.default_rng(5)
    x = (rng.normal(size=n) + 1j * rng.normal(size=n)) * 0.007
    t = np.arange(int(seconds * 48_000) + 1) / 48_000
    for k in range(0, M, 8):
        tx = hr.Transmitter("nbfm", 48_000.0, FS, float(OFFSETS[k]))
        x += 0.1 * tx.process((0.5 * np.sin(2 * np.pi * (300 + 50 * k) * t)).astype(np.float32))[:n]
    return x.astype(np.complex64)


def cpu_seconds(run, repeats: int) -> float:
    run()  # warm up
    times = []
    for _ in range(repeats):
        t0 = time.process_time()
        run()
        times.append(time.process_time() - t0)
    return statistics.median(times)


def gnuradio_seconds(x: np.ndarray, repeats: int) -> float | None:
    try:
        from gnuradio import analog, blocks, filter, gr
    except ImportError:
        return None
    # The same prototype the bank's channelizer uses.
    taps = list(map(float, hr._native.channelizer_taps(M, 2, 70.0)))

    def run() -> None:
        tb = gr.top_block()
        src = blocks.vector_source_c(x, False)
        pfb = filter.pfb.channelizer_ccf(M, taps, 2.0)
        tb.connect(src, pfb)
        for k in range(M):
            sq = analog.pwr_squelch_cc(-40.0, 1e-3, 0, False)
            with contextlib.redirect_stdout(io.StringIO()):  # nbfm_rx prints its tap count
                rx = analog.nbfm_rx(audio_rate=25_000, quad_rate=50_000, tau=75e-6, max_dev=5e3)
            tb.connect((pfb, k), sq, rx, blocks.null_sink(gr.sizeof_float))
        tb.run()

    return cpu_seconds(run, repeats)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--seconds", type=float, default=2.0, help="capture length, s (default 2)")
    ap.add_argument("--repeats", type=int, default=5, help="timed runs per job (default 5)")
    args = ap.parse_args()
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
    x = capture(args.seconds)
    rows = []

    def bank_job(audio_fs: float):
        return lambda: hr.ReceiverBank("nbfm", FS, OFFSETS, squelch_db=-40.0, audio_fs=audio_fs).process(x)

    rows.append(("halvo ReceiverBank, 48 kHz audio", cpu_seconds(bank_job(48_000.0), args.repeats), args.seconds))
    rows.append(("halvo ReceiverBank, 25 kHz audio", cpu_seconds(bank_job(25_000.0), args.repeats), args.seconds))
    rows.append(("halvo Channelizer alone (64, oversample 2)",
                 cpu_seconds(lambda: hr.Channelizer(FS, M, 2, 70.0).process(x), args.repeats), args.seconds))
    part = x[: len(x) // 10]
    rows.append(("64 single halvo Receivers at 1.6 MS/s, 48 kHz",
                 cpu_seconds(lambda: [hr.Receiver("nbfm", FS, float(f), squelch_db=-40.0).process(part)
                                      for f in OFFSETS], max(1, args.repeats // 2)), args.seconds / 10))
    gr_s = gnuradio_seconds(x, args.repeats)
    if gr_s is not None:
        rows.append(("GNU Radio pfb.channelizer_ccf + 64 x (pwr_squelch_cc, nbfm_rx), 25 kHz", gr_s, args.seconds))
    print(f"{args.seconds:g} s of capture at {FS / 1e6:g} MS/s, {M} channels; CPU time, median of {args.repeats}")
    for name, sec, span in rows:
        print(f"  {name:70s} {sec / (span * FS) * 1e9:8.2f} ns/sample  {span / sec:7.1f}x real time")


if __name__ == "__main__":
    main()
