"""Demodulate a whole directory of IQ recordings on a Dask cluster, one file per task.

    python examples/batch.py --demo 8                          # makes 8 short demo recordings first, then runs
    python examples/batch.py recordings/ --mode nbfm --dev-hz 2500 --offset-hz 12500
    python examples/batch.py recordings/ --workers 4 --out results
    python examples/batch.py recordings/ --scheduler tcp://10.0.0.5:8786   # an existing cluster

Without --scheduler a LocalCluster of --workers processes (one thread each)
is started on this machine. Each task opens one recording, builds its own
halvo_radio.Receiver (which keeps a stream's state and is never shared
between processes), receives the channel at --offset-hz block by block and
writes <out>/<name>.wav at 48 kHz. A progress bar counts finished files; at the end a
summary table (file, samples, rate, seconds, peak, time) is printed and
written to <out>/summary.csv. A worker on another machine must see the same
paths (a shared file system) and have halvo_sdr (with halvo_radio) installed.

Recordings: everything in the folder that IqRecording reads (two-channel WAV,
.cu8, .cs8, .cs16, .cf32, .raw, .iq); raw files need --rate. Needs Dask's
`distributed` (pip install "halvo_sdr[examples]").
"""
from __future__ import annotations

import argparse
import csv
import importlib
import sys
import time
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any

import numpy as np

import halvo_radio
from sdrio import SPEECH, IqRecording, Progress, WavWriter, read_wav

SUFFIXES = {".wav", ".cu8", ".cs8", ".cs16", ".cf32", ".raw", ".iq"}
AUDIO_RATE = 48_000.0


@dataclass
class Result:
    file: str
    samples: int
    input_rate: float
    output_rate: float
    seconds: float
    peak: float
    elapsed: float
    output: str


def demodulate_file(path: str, out_dir: str, mode: str, dev_hz: float | None, offset_hz: float,
                    rate: float | None, block: int) -> Result:
    """One task: read `path`, receive the channel at `offset_hz` in `mode`,
    write `out_dir/<stem>.wav` at 48 kHz. Runs on a worker; everything it
    uses is built here."""
    started = time.perf_counter()
    with IqRecording(path, None, rate) as rec:
        fs = rec.sample_rate
        fm = mode in ("nbfm", "wbfm")
        rx = halvo_radio.Receiver(mode, fs, offset_hz, audio_fs=AUDIO_RATE,
                                  deviation_hz=dev_hz if fm else None)
        wav = Path(out_dir) / (Path(path).stem + ".wav")
        peak, done = 0.0, 0
        with WavWriter(wav, AUDIO_RATE) as out:
            for iq in rec.blocks(block):
                audio = rx.process(iq)
                out.write(np.clip(audio, -1.0, 1.0))
                peak = max(peak, float(np.max(np.abs(audio), initial=0.0)))
                done += len(iq)
    return Result(Path(path).name, done, fs, AUDIO_RATE, done / fs, peak,
                  time.perf_counter() - started, str(wav))


def make_demo_recordings(folder: Path, count: int, seconds: float, fs: float = 240_000.0) -> list[Path]:
    """`count` narrowband FM recordings of the bundled speech clip at `fs`
    (2.5 kHz deviation, 75 us pre-emphasis, the channel at 0 Hz), each with
    its own noise, as 16-bit two-channel WAV files."""
    folder.mkdir(parents=True, exist_ok=True)
    speech, speech_fs = read_wav(SPEECH)
    audio = np.resize(0.8 * speech, int(seconds * speech_fs)).astype(np.float32)
    paths = []
    for k in range(count):
        tx = halvo_radio.Transmitter("nbfm", speech_fs, fs, 0.0, deviation_hz=2_500)
        rng = np.random.default_rng(k)
        iq = tx.process(audio)
        iq = iq + (0.02 * (rng.standard_normal(len(iq)) + 1j * rng.standard_normal(len(iq)))).astype(np.complex64)
        path = folder / f"demo_{k:03d}.wav"
        with WavWriter(path, fs, channels=2) as w:
            w.write(iq)
        paths.append(path)
    return paths


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 epilog=__doc__.split("\n\n", 2)[2],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder", type=Path, nargs="?", help="folder of IQ recordings (default: <out>/recordings)")
    ap.add_argument("--demo", type=int, metavar="N", help="first make N demo recordings (240 kHz NBFM) in the folder")
    ap.add_argument("--demo-seconds", type=float, default=5.0, help="length of each demo recording (default 5)")
    ap.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler (default: a LocalCluster here)")
    ap.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default 2)")
    ap.add_argument("--mode", choices=list(halvo_radio.MODES), default="nbfm", help="receiver mode (default nbfm)")
    ap.add_argument("--offset-hz", type=float, default=0.0,
                    help="the channel's offset from the recording's centre, Hz (default 0)")
    ap.add_argument("--dev-hz", type=float, default=2_500.0,
                    help="FM deviation in Hz (default 2500); nbfm and wbfm only")
    ap.add_argument("--rate", type=float, help="sample rate of raw recordings in Hz")
    ap.add_argument("--block", type=int, default=65_536, help="samples per block (default 65536)")
    ap.add_argument("--out", type=Path, default=Path("out/batch"), help="output folder (default ./out/batch)")
    args = ap.parse_args(argv)

    try:
        # (Dask's API is untyped: held as Any for the type checker.)
        dd: Any = importlib.import_module("dask.distributed")
    except ImportError:
        print("batch.py needs Dask's distributed: pip install distributed", file=sys.stderr)
        return 2

    folder = args.folder or args.out / "recordings"
    if args.demo:
        print(f"making {args.demo} demo recordings of {args.demo_seconds:g} s in {folder}")
        make_demo_recordings(folder, args.demo, args.demo_seconds)
    files = sorted(str(p) for p in folder.glob("*") if p.suffix.lower() in SUFFIXES) if folder.is_dir() else []
    if not files:
        ap.error(f"no recordings in {folder} (give a folder, or --demo N)")
    audio_dir = args.out / "audio"
    audio_dir.mkdir(parents=True, exist_ok=True)

    cluster = None
    if args.scheduler:
        client = dd.Client(args.scheduler)
    else:
        cluster = dd.LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = dd.Client(cluster)
    try:
        client.upload_file(str(Path(__file__).with_name("sdrio.py")))  # the workers' reader and writer
        workers = len(client.scheduler_info()["workers"])
        print(f"{len(files)} recordings on {workers} worker{'s' * (workers != 1)} ({client.scheduler.address})")
        started = time.perf_counter()
        futures = [client.submit(demodulate_file, f, str(audio_dir), args.mode, args.dev_hz, args.offset_hz,
                                 args.rate, args.block, pure=False) for f in files]
        bar = Progress(len(files), "demodulating", unit="files")
        results: list[Result] = []
        for n, future in enumerate(dd.as_completed(futures), 1):
            results.append(future.result())
            bar.update(n)
        bar.close()
        wall = time.perf_counter() - started
    finally:
        if cluster is not None:
            client.retire_workers(close_workers=True)
        client.close()
        if cluster is not None:
            cluster.close()

    results.sort(key=lambda r: r.file)
    summary = args.out / "summary.csv"
    with open(summary, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(asdict(results[0])))
        w.writeheader()
        w.writerows(asdict(r) for r in results)
    print(f"{'file':<24} {'samples':>10} {'in Hz':>8} {'out Hz':>8} {'seconds':>8} {'peak':>6} {'time s':>7}")
    for r in results:
        print(f"{r.file:<24} {r.samples:>10} {r.input_rate:>8g} {r.output_rate:>8g} {r.seconds:>8.1f} "
              f"{r.peak:>6.2f} {r.elapsed:>7.2f}" + ("  clipped" if r.peak > 1 else ""))
    audio_s = sum(r.seconds for r in results)
    print(f"{len(results)} files, {audio_s:.1f} s of recordings in {wall:.2f} s "
          f"({audio_s / wall:.1f} s of recording per second) on {workers} worker{'s' * (workers != 1)}")
    clipped = [r.file for r in results if r.peak > 1]
    if clipped:
        print(f"warning: {len(clipped)} outputs clipped at full scale (peak above 1.0): "
              "lower the level, or raise --dev-hz for FM", file=sys.stderr)
    print(f"wrote {audio_dir}/*.wav and {summary}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
