"""The ten classes on silence and steady carriers (subnormal states) and on
noise, two or more builds side by side.

    taskset -c 1 python3 benchmarks/silence_speed.py [--rounds 3] PYTHON_A PYTHON_B ...

Each PYTHON is an interpreter whose environment has one build installed.
The builds take turns, each round a fresh process; per case the median over
rounds of the middle of five timed 64k-sample calls (process CPU time), in
ns per sample, and each build's ratio to the first. Cases: a 500-sample
burst then silence (zeros), a key held up after 500 samples down, a steady
carrier (0.1 + 0.05j), and Gaussian noise.
"""
import argparse
import json
import statistics
import subprocess

CHILD = r'''
import halvo_sdr as h, numpy as np, time, json
n=1<<16
rng=np.random.default_rng(1)
a=np.zeros(n,np.float32); a[:500]=0.5
c=np.zeros(n,np.complex64); c[:500]=0.5
cc=np.full(n,0.1+0.05j,np.complex64)
na=(rng.standard_normal(n)*0.3).astype(np.float32)
nc=((rng.standard_normal(n)+1j*rng.standard_normal(n))*0.3).astype(np.complex64)
rows=[("CwKeyedMod key up", lambda: h.CwKeyedMod(48e3,700.0,5.0,5.0),a),
("SsbPhasingMod silence", lambda: h.SsbPhasingMod(48e3,3000.0,1500.0,10e3,True),a),
("CwEnvelopeDemod zeros", lambda: h.CwEnvelopeDemod(48e3,700.0,100.0),c),
("AmEnvelopeDemod zeros", lambda: h.AmEnvelopeDemod(48e3,5e3,False),c),
("SsbProductDemod zeros", lambda: h.SsbProductDemod(48e3,0.0,3e3),c),
("FmQuadratureDemod carrier", lambda: h.FmQuadratureDemod(48e3,5e3,3e3),cc),
("PmQuadratureDemod carrier", lambda: h.PmQuadratureDemod(48e3,1.0,3e3),cc),
("CwKeyedMod noise", lambda: h.CwKeyedMod(48e3,700.0,5.0,5.0),na),
("SsbPhasingMod noise", lambda: h.SsbPhasingMod(48e3,3000.0,1500.0,10e3,True),na),
("AmDsbMod noise", lambda: h.AmDsbMod(48e3,10e3,1.0,0.5),na),
("FmPhaseAccumMod noise", lambda: h.FmPhaseAccumMod(48e3,5e3,10e3),na),
("PmDirectPhaseMod noise", lambda: h.PmDirectPhaseMod(48e3,1.0,10e3),na),
("CwEnvelopeDemod noise", lambda: h.CwEnvelopeDemod(48e3,700.0,100.0),nc),
("AmEnvelopeDemod noise", lambda: h.AmEnvelopeDemod(48e3,5e3,False),nc),
("SsbProductDemod noise", lambda: h.SsbProductDemod(48e3,0.0,3e3),nc),
("FmQuadratureDemod noise", lambda: h.FmQuadratureDemod(48e3,5e3,3e3),nc),
("PmQuadratureDemod noise", lambda: h.PmQuadratureDemod(48e3,1.0,3e3),nc)]
res={}
for name,mk,x in rows:
    o=mk(); o.process(x); o.process(x)
    ts=[]
    for r in range(5):
        t0=time.process_time(); o.process(x); ts.append(time.process_time()-t0)
    res[name]=sorted(ts)[2]/n*1e9
print(json.dumps(res))
'''


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("python", nargs="+")
    ap.add_argument("--rounds", type=int, default=3)
    a = ap.parse_args()
    runs = {p: [] for p in a.python}
    for _ in range(a.rounds):
        for p in a.python:
            done = subprocess.run([p, "-c", CHILD], capture_output=True, text=True, check=True, cwd="/")
            runs[p].append(json.loads(done.stdout))
    first = a.python[0]
    print("| case | " + " | ".join(f"ns/sample ({i})" for i in range(len(a.python))) + " | ratio to (0) |")
    print("|---|" + "---|" * (len(a.python) + 1))
    for case in runs[first][0]:
        med = [statistics.median(r[case] for r in runs[p]) for p in a.python]
        print(f"| {case} | " + " | ".join(f"{m:.1f}" for m in med) + " | "
              + ", ".join(f"{med[0] / m:.2f}x" for m in med[1:]) + " |")
    for i, p in enumerate(a.python):
        print(f"({i}) {p}")


if __name__ == "__main__":
    main()
