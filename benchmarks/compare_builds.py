"""Per-class speed of two (or more) builds of the module, side by side.

    python benchmarks/compare_builds.py [--rounds 7] PYTHON_A PYTHON_B ...

Each PYTHON is an interpreter whose environment has one build installed
(a virtual environment per wheel). The builds take turns, round after
round, each round a fresh process, so that a drift of the machine's speed
falls on all of them alike; run it pinned (taskset -c 1) on a quiet core.
Per class: the median over rounds of a 1M-sample block's time per sample
and of one 64-sample call, and each build's ratio to the first.
"""
import argparse
import json
import statistics
import subprocess
import sys

CHILD = r"""
import json, sys, time
import numpy as np
import halvo_sdr as h
import halvo_radio
import halvo_radio._native as r

FS = 48000.0
MAKE = {
    "CwEnvelopeDemod": lambda: h.CwEnvelopeDemod(FS, 700.0, 50.0),
    "AmEnvelopeDemod": lambda: h.AmEnvelopeDemod(FS, 3000.0),
    "SsbProductDemod": lambda: h.SsbProductDemod(FS, 1500.0, 2700.0),
    "FmQuadratureDemod": lambda: h.FmQuadratureDemod(FS, 5000.0, 3000.0),
    "PmQuadratureDemod": lambda: h.PmQuadratureDemod(FS, 1.0, 3000.0),
    "AmDsbMod": lambda: h.AmDsbMod(FS, 10000.0, 0.5, 0.5),
    "CwKeyedMod": lambda: h.CwKeyedMod(FS, 700.0, 5.0, 5.0),
    "FmPhaseAccumMod": lambda: h.FmPhaseAccumMod(FS, 5000.0, 10000.0),
    "PmDirectPhaseMod": lambda: h.PmDirectPhaseMod(FS, 1.0, 10000.0),
    "SsbPhasingMod": lambda: h.SsbPhasingMod(FS, 1500.0, 1500.0, 10000.0, True),
    "Channelizer": lambda: r.Channelizer(240000.0, 16, 2, 70.0),
    "ChannelSelector": lambda: r.ChannelSelector(240000.0, 20000.0, 5, 12000.0, float("nan"), 70.0),
    "Resampler": lambda: r.Resampler(48000.0, 44100.0, 0.45, 70.0),
    "RealResampler": lambda: r.RealResampler(48000.0, 44100.0, 0.45, 70.0),
    "Upconverter": lambda: r.Upconverter(48000.0, 5, 10000.0, 12000.0, 70.0),
    "Deemphasis": lambda: r.Deemphasis(FS),
    "Preemphasis": lambda: r.Preemphasis(FS),
    "PowerSquelch": lambda: r.PowerSquelch(FS, -40.0),
    "Agc": lambda: r.Agc(FS),
    "Receiver": lambda: halvo_radio.Receiver("nbfm", 240000.0, 10000.0),
    "Transmitter": lambda: halvo_radio.Transmitter("nbfm", 48000.0, 240000.0, 10000.0),
}
rng = np.random.default_rng(0)
N = 1 << 20
IQ = ((rng.standard_normal(N) + 1j * rng.standard_normal(N)) * 0.3).astype(np.complex64)
AUDIO = (rng.standard_normal(N) * 0.3).astype(np.float32)
KEY = (rng.random(N) > 0.5).astype(np.float32)

def block_for(obj):
    for x in (IQ, AUDIO, KEY if type(obj).__name__ == "CwKeyedMod" else AUDIO):
        try:
            obj.process(x[:8])
            return x
        except TypeError:
            pass
    raise TypeError(type(obj).__name__)

def best(fn, reps):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter_ns(); fn(); t.append(time.perf_counter_ns() - t0)
    return min(t)

out = {}
for name, make in MAKE.items():
    obj = make()
    x = block_for(obj)
    obj.process(x)  # warm: the output mapping, the caches
    big = best(lambda: obj.process(x), 5) / N
    small = x[:64]
    small_call = best(lambda: [obj.process(small) for _ in range(200)], 5) / 200
    out[name] = (big, small_call)
print(json.dumps(out))
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("pythons", nargs="+")
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()
    runs = {p: [] for p in args.pythons}
    for _ in range(args.rounds):
        for p in args.pythons:
            r = subprocess.run([p, "-c", CHILD], capture_output=True, text=True)
            if r.returncode != 0:
                sys.exit(f"{p} failed:\n{r.stderr}")
            runs[p].append(json.loads(r.stdout))
    first = args.pythons[0]
    names = list(runs[first][0])
    med = {p: {n: tuple(statistics.median(run[n][k] for run in runs[p]) for k in (0, 1)) for n in names}
           for p in args.pythons}
    head = "| class | " + " | ".join(f"ns/sample, 64-sample call ns ({i})" for i in range(len(args.pythons)))
    print(head + " | " + " | ".join(f"ratio {i}/0" for i in range(1, len(args.pythons))) + " |")
    print("|" + "---|" * (1 + 2 * len(args.pythons) - 1))
    for n in names:
        cells = [f"{med[p][n][0]:.3f}, {med[p][n][1]:.0f}" for p in args.pythons]
        ratios = [f"{med[p][n][0] / med[first][n][0]:.3f}, {med[p][n][1] / med[first][n][1]:.3f}"
                  for p in args.pythons[1:]]
        print(f"| {n} | " + " | ".join(cells + ratios) + " |")
    print(f"\n{args.rounds} rounds; python: " + ", ".join(f"({i}) {p}" for i, p in enumerate(args.pythons)),
          file=sys.stderr)


if __name__ == "__main__":
    main()
