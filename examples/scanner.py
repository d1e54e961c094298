"""A scanner: watch every NBFM channel of a band at once and record the ones
that come alive.

    python examples/scanner.py                          # 32 channels, 4 of them keyed now and then, 3 s
    python examples/scanner.py --channels 64 --active 8 --seconds 5 --seed 7
    python examples/scanner.py --squelch-db -35 --out results --no-plot

The example first makes a band: `--channels` narrowband FM channels
`--spacing` apart (25 kHz by default) centred in a capture at `--fs`
(1.6 MS/s), with noise. `--active` of them are keyed at random times, one or
two transmissions each, carrying the bundled speech clip or a steady tone
(each channel its own). Then, block by block as from a receiver,

    wideband IQ -> halvo_radio.ReceiverBank("nbfm", one squelch per channel)
                -> one row of audio per channel (zeros while squelched)

and a channel counts as active wherever its audio rises above -80 dB of
full scale (squelched audio is silent: zeros, and the de-emphasis filter's
last subnormal). Prints the
transmissions it generated and the activity it found, and writes:

    <out>/scanner_ch<k>.wav   the audio of every channel found active (16-bit, --audio-fs)
    <out>/scanner.json        the generated transmissions and the found activity (seconds)
    <out>/scanner.png         a waterfall of the band beside the activity timeline (needs matplotlib)
"""
from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path
from typing import Any

import numpy as np

import halvo_radio
from sdrio import SPEECH, read_wav, write_wav

FRAME_S = 0.02     # activity is judged per 20 ms of audio
MERGE_S = 0.1      # gaps shorter than this inside one transmission are bridged
MIN_RUN_S = 0.06   # shorter runs of sound are not counted
SILENCE = 1e-4     # peak level below which a frame is silent (-80 dBFS)


def make_band(args: argparse.Namespace, rng: np.random.Generator
              ) -> tuple[np.ndarray, np.ndarray, list[dict[str, Any]]]:
    """The capture, the channel offsets and the generated transmissions."""
    n = int(round(args.seconds * args.fs))
    offsets = (np.arange(args.channels) - args.channels // 2) * args.spacing
    x = (rng.normal(size=n) + 1j * rng.normal(size=n)) * (args.noise / np.sqrt(2))
    speech, speech_fs = read_wav(SPEECH)
    speech = halvo_radio.Resampler(speech_fs, 48_000.0, dtype=np.float32).process(speech)
    speech = 0.9 * speech / np.max(np.abs(speech))
    audio_n = int(np.ceil(args.seconds * 48_000)) + 1
    t = np.arange(audio_n) / 48_000
    schedule = []
    for k in sorted(rng.choice(args.channels, size=min(args.active, args.channels), replace=False)):
        if rng.random() < 0.5:
            kind, tone = "speech", None
            message = np.resize(np.roll(speech, int(rng.integers(len(speech)))), audio_n)
        else:
            kind, tone = "tone", float(rng.choice([400.0, 600.0, 800.0, 1000.0, 1200.0]))
            message = 0.7 * np.sin(2 * np.pi * tone * t)
        tx = halvo_radio.Transmitter("nbfm", 48_000.0, args.fs, float(offsets[k]))
        iq = tx.process(message.astype(np.float32))[:n]
        # One or two transmissions, 0.3 .. 1 s each, keyed with 2 ms ramps.
        key = np.zeros(n)
        bursts = []
        cursor = rng.uniform(0.05, 0.4) * args.seconds
        for _ in range(int(rng.integers(1, 3))):
            length = rng.uniform(0.3, 1.0)
            if cursor + length > args.seconds - 0.05:
                break
            bursts.append((cursor, cursor + length))
            a, b = int(cursor * args.fs), int((cursor + length) * args.fs)
            ramp = int(0.002 * args.fs)
            key[a:b] = 1.0
            key[a:a + ramp] = np.linspace(0.0, 1.0, ramp)
            key[b - ramp:b] = np.linspace(1.0, 0.0, ramp)
            cursor += length + rng.uniform(0.2, 0.6)
        if not bursts:
            continue
        x += args.level * key * iq
        schedule += [{"channel": int(k), "offset_hz": float(offsets[k]), "audio": kind, "tone_hz": tone,
                      "start_s": round(a, 3), "stop_s": round(b, 3)} for a, b in bursts]
    return x.astype(np.complex64), offsets, schedule


def activity(row: np.ndarray, audio_fs: float) -> list[tuple[float, float]]:
    """Runs of sound in one channel's audio."""
    frame = int(round(FRAME_S * audio_fs))
    frames = len(row) // frame
    loud = np.max(np.abs(row[:frames * frame].reshape(frames, frame)), axis=1) > SILENCE
    runs: list[list[float]] = []
    for i in np.flatnonzero(loud):
        start, stop = i * FRAME_S, (i + 1) * FRAME_S
        if runs and start - runs[-1][1] < MERGE_S:
            runs[-1][1] = stop
        else:
            runs.append([start, stop])
    return [(round(a, 3), round(b, 3)) for a, b in runs if b - a >= MIN_RUN_S]


def plot(path: Path, x: np.ndarray, args: argparse.Namespace, offsets: np.ndarray,
         found: dict[int, list[tuple[float, float]]]) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib not installed: no plot", file=sys.stderr)
        return False
    nfft, avg = 1024, 16
    rows = len(x) // (nfft * avg)
    seg = x[:rows * nfft * avg].reshape(rows * avg, nfft) * np.hanning(nfft)
    power = np.abs(np.fft.fftshift(np.fft.fft(seg, axis=1), axes=1)) ** 2
    power = power.reshape(rows, avg, nfft).mean(axis=1)
    extent = (-args.fs / 2e3, args.fs / 2e3, rows * nfft * avg / args.fs, 0.0)
    fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(12, 6), sharex=True, sharey=True)
    ax1.imshow(10 * np.log10(power + 1e-20), aspect="auto", extent=extent, cmap="viridis")
    ax1.set(title="waterfall of the band", xlabel="frequency, kHz", ylabel="time, s")
    for k, runs in found.items():
        for a, b in runs:
            ax2.add_patch(matplotlib.patches.Rectangle((offsets[k] / 1e3 - 0.4 * args.spacing / 1e3, a),
                                                       0.8 * args.spacing / 1e3, b - a, color="tab:red"))
    ax2.set(title="activity found (squelch open)", xlabel="channel frequency, kHz",
            xlim=(offsets[0] / 1e3 - args.spacing / 1e3, offsets[-1] / 1e3 + args.spacing / 1e3),
            ylim=(args.seconds, 0.0))
    ax2.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return True


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 epilog="\n\n".join(__doc__.split("\n\n")[1:]))
    ap.add_argument("--fs", type=float, default=1_600_000.0, help="capture sample rate, Hz (default 1.6e6)")
    ap.add_argument("--channels", type=int, default=32, help="channels in the band (default 32)")
    ap.add_argument("--spacing", type=float, default=25_000.0, help="channel spacing, Hz (default 25 000)")
    ap.add_argument("--active", type=int, default=4, help="channels keyed at some time (default 4)")
    ap.add_argument("--seconds", type=float, default=3.0, help="length of the capture, s (default 3)")
    ap.add_argument("--level", type=float, default=0.1, help="carrier amplitude of a transmission (default 0.1)")
    ap.add_argument("--noise", type=float, default=0.01, help="RMS of the capture's noise (default 0.01)")
    ap.add_argument("--squelch-db", type=float, default=-40.0,
                    help="squelch threshold, dB of channel power (default -40)")
    ap.add_argument("--audio-fs", type=float, default=16_000.0, help="audio sample rate, Hz (default 16 000)")
    ap.add_argument("--block", type=int, default=160_000, help="capture samples per block (default 160 000)")
    ap.add_argument("--seed", type=int, default=1, help="random seed of the generated band (default 1)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    ap.add_argument("--no-plot", action="store_true", help="do not draw the waterfall")
    args = ap.parse_args(argv)
    if args.channels < 1 or args.channels * args.spacing > args.fs:
        ap.error(f"--channels x --spacing must fit in --fs, got {args.channels} x {args.spacing:g} Hz")

    x, offsets, schedule = make_band(args, np.random.default_rng(args.seed))
    print(f"band: {args.channels} NBFM channels, {args.spacing / 1e3:g} kHz apart, {args.seconds:g} s at "
          f"{args.fs / 1e6:g} MS/s")
    print("generated:")
    for s in schedule:
        what = "speech" if s["audio"] == "speech" else f"{s['tone_hz']:g} Hz tone"
        print(f"  ch {s['channel']:3d} {s['offset_hz'] / 1e3:+9.3f} kHz  {s['start_s']:6.2f} .. {s['stop_s']:6.2f} s  {what}")

    try:
        bank = halvo_radio.ReceiverBank("nbfm", args.fs, offsets, squelch_db=args.squelch_db, audio_fs=args.audio_fs)
    except ValueError as e:  # e.g. a spacing too narrow for 16 kHz channels
        ap.error(str(e))
    audio = np.concatenate([bank.process(x[i:i + args.block]) for i in range(0, len(x), args.block)], axis=1)

    found = {k: runs for k in range(args.channels) if (runs := activity(audio[k], args.audio_fs))}
    args.out.mkdir(parents=True, exist_ok=True)
    print(f"found active ({bank.n_channels}-channel channelizer, {bank.channel_fs / 1e3:g} kHz per channel):")
    for k, runs in found.items():
        spans = ", ".join(f"{a:.2f} .. {b:.2f} s" for a, b in runs)
        print(f"  ch {k:3d} {offsets[k] / 1e3:+9.3f} kHz  {spans}   -> scanner_ch{k}.wav")
        write_wav(args.out / f"scanner_ch{k}.wav", audio[k], args.audio_fs)
    if not found:
        print("  none")
    (args.out / "scanner.json").write_text(json.dumps(
        {"generated": schedule, "found": [{"channel": k, "offset_hz": float(offsets[k]), "start_s": a, "stop_s": b}
                                          for k, runs in found.items() for a, b in runs]}, indent=1))
    if not args.no_plot and plot(args.out / "scanner.png", x, args, offsets, found):
        print(f"wrote {args.out / 'scanner.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
