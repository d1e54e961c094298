"""The channelizer beside liquid-dsp and GNU Radio, one run, the same taps.

64 channels, 70 dB stopband, critically sampled and twice oversampled. Runs
benchmarks/channelizer_bench (built with -DHALVO_BUILD_BENCH=ON; it times
every level of halvo's sample loop and liquid-dsp's firpfbch_crcf /
firpfbch2_crcf in C, and writes the prototype taps), then times GNU Radio's
pfb.channelizer_ccf on those taps in a flowgraph (source rewound, input copy
not timed), and prints each figure with its ratio to halvo's fastest level.

    cmake -S . -B build/bench -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_BENCH=ON
    cmake --build build/bench -j2 --target channelizer_bench
    /usr/bin/python3 benchmarks/channelizer_peers.py build/bench/channelizer_bench [SAMPLES]

SAMPLES (default 2**20) per timed call; 65536 keeps input and output in the
caches. Everything is timed in CPU time (the C harness its thread's, GNU
Radio the whole process's, all block threads), with the process pinned to
one CPU: the machine is shared, and time spent waiting for a CPU is not the
job's.
"""
from __future__ import annotations

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

M = 64
SAMPLES = 1 << 20
REPEATS = 15


def gnuradio_ns(taps: np.ndarray, oversample: int, x: np.ndarray) -> float | None:
    try:
        from gnuradio import blocks, filter, gr
    except ImportError:
        return None
    tb = gr.top_block()
    src = blocks.vector_source_c(x, False)
    pfb = filter.pfb.channelizer_ccf(M, list(map(float, taps)), oversample)
    tb.connect(src, pfb)
    for k in range(M):
        tb.connect((pfb, k), blocks.null_sink(gr.sizeof_gr_complex))

    def run():
        src.rewind()
        tb.run()

    run()
    times = []
    for _ in range(REPEATS):
        t0 = time.process_time_ns()
        run()
        times.append(time.process_time_ns() - t0)
    return statistics.median(times) / len(x)


def main(argv: list[str]) -> int:
    global SAMPLES
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
    bench = argv[1] if len(argv) > 1 else "build/bench/channelizer_bench"
    if len(argv) > 2:
        SAMPLES = int(argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([bench, "--taps-out", tmp, "--samples", str(SAMPLES), "--repeats", str(REPEATS)],
                             check=True, capture_output=True, text=True).stdout
        taps = {os_: np.fromfile(f"{tmp}/taps_os{os_}.f32", np.float32) for os_ in (1, 2)}
    rows = []  # (oversample, name, ns)
    for line in out.splitlines():
        mm = re.match(r"(.+?)\s+oversample=(\d) taps/branch=(\d+)\s+([\d.]+) ns/sample", line)
        if mm:
            rows.append((int(mm.group(2)), f"{mm.group(1).strip()} ({mm.group(3)} taps/branch)", float(mm.group(4))))
    rng = np.random.default_rng(1)
    x = ((rng.standard_normal(SAMPLES) + 1j * rng.standard_normal(SAMPLES)) * 0.3).astype(np.complex64)
    for os_ in (1, 2):
        ns = gnuradio_ns(taps[os_], os_, x)
        name = f"gnuradio pfb.channelizer_ccf ({len(taps[os_])} taps)"
        rows.append((os_, name, ns))
    for os_ in (1, 2):
        best = min(ns for o, n, ns in rows if o == os_ and n.startswith("halvo") and ns is not None)
        print(f"oversample={os_}, {M} channels, 70 dB, {SAMPLES} samples, median of {REPEATS}:")
        for o, name, ns in rows:
            if o != os_:
                continue
            if ns is None:
                print(f"  {name:48s}  not installed")
            else:
                print(f"  {name:48s} {ns:8.3f} ns/sample  {ns / best:6.2f}x halvo's fastest")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
