"""A receiver: one channel of a wideband capture to audio with halvo_radio's
Receiver, block by block, from a SigMF recording, an IQ file or a generated band.

    python examples/receiver.py                          # the nbfm channel of a generated band
    python examples/receiver.py --channel usb            # or am, lsb, cw, pm
    python examples/receiver.py --input capture.sigmf-meta --freq-hz 145.5e6 --mode nbfm
    python examples/receiver.py --input capture.cu8 --rate 960000 --offset-hz 120000 --mode am

Without --input the example first makes the band of examples/band.py: 480 kHz
holding the bundled speech clip in AM, USB, NBFM, PM and LSB and Morse
keying in CW, each at its own offset, with noise. Then, block by block:

    wideband IQ -> Receiver(mode, fs, offset_hz): channel selection (mix,
    filter, decimate), squelch, demodulator, resampler, de-emphasis or AGC
    -> audio at 48 kHz

Every stage keeps its state from block to block, so the audio does not depend
on the block size. A SigMF recording gives its sample rate, centre frequency
and data type; --freq-hz then picks a channel by its radio frequency. Raw
files (.cu8, .cs8, .cs16, .cf32) need --rate. Writes
<out>/receiver_<mode>.wav and <out>/receiver_<mode>.png (the plot needs
matplotlib).
"""
from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Iterator

import numpy as np
import numpy.typing as npt

from band import CHANNELS, FS, make_band
from halvo_radio import MODES, Receiver
from sdrio import IQ, Audio, IqRecording, Progress, WavWriter, interpolate, spectrum_db

BLOCK = 65_536  # wideband samples per block
FM_MODES = ("nbfm", "wbfm")


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--channel", choices=[m for m, _ in CHANNELS], default="nbfm",
                    help="which channel of the generated band to receive (default nbfm)")
    ap.add_argument("--seconds", type=float, default=4.0, help="length of the generated band (default 4)")
    ap.add_argument("--input", type=Path, help="your own IQ recording instead of the band: SigMF "
                    "(.sigmf-meta, .sigmf-data, .sigmf), two-channel WAV, .cu8, .cs8, .cs16, .cf32")
    ap.add_argument("--format", choices=["sigmf", "wav", "cu8", "cs8", "cs16", "cf32"],
                    help="format of --input (default: from the file name's suffix)")
    ap.add_argument("--rate", type=float, help="sample rate of --input in Hz (raw files; SigMF and WAV say it)")
    ap.add_argument("--offset-hz", type=float, help="the channel's offset from the capture's centre (Hz)")
    ap.add_argument("--freq-hz", type=float, help="the channel's radio frequency (Hz), with a SigMF recording "
                    "or --center-hz")
    ap.add_argument("--center-hz", type=float, help="centre frequency of --input, when its file does not say")
    ap.add_argument("--mode", choices=MODES, help="modulation of --input's channel")
    ap.add_argument("--dev-hz", type=float, help="FM deviation at full scale in Hz (default nbfm 5000, wbfm 75000)")
    ap.add_argument("--bandwidth-hz", type=float, help="channel bandwidth in Hz (default: the mode's)")
    ap.add_argument("--squelch-db", type=float, help="power squelch threshold, dB of full scale (default: none)")
    ap.add_argument("--audio-fs", type=float, default=48_000.0, help="audio sample rate (default 48000)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    args = ap.parse_args(argv)

    sent: Audio | None = None
    blocks: Iterator[IQ]
    if args.input is None:
        print(f"making a {args.seconds:g} s band at {FS / 1e3:g} kHz")
        scene, sent_by_mode, sent_fs = make_band(args.seconds)
        fs, mode, offset = FS, args.channel, dict(CHANNELS)[args.channel]
        sent = interpolate(sent_by_mode[mode], int(args.audio_fs // sent_fs)) if mode != "cw" else None
        blocks = (scene[i:i + BLOCK] for i in range(0, len(scene), BLOCK))
        total = len(scene)
    else:
        if args.mode is None or (args.offset_hz is None) == (args.freq_hz is None):
            ap.error("--input needs --mode and one of --offset-hz, --freq-hz")
        rec = IqRecording(args.input, args.format, args.rate)
        fs, mode, total = rec.sample_rate, args.mode, rec.num_samples
        offset = args.offset_hz
        if args.freq_hz is not None:
            center = args.center_hz if args.center_hz is not None else rec.center_hz
            if center is None:
                ap.error(f"{args.input} does not give its centre frequency: give --center-hz or use --offset-hz")
            offset = args.freq_hz - center
        blocks = rec.blocks(BLOCK)
        print(f"{args.input}: {rec.format}, {total} samples at {fs:g} Hz"
              + (f", centre {rec.center_hz / 1e6:.6f} MHz" if rec.center_hz is not None else ""))

    rx = Receiver(mode, fs, offset, audio_fs=args.audio_fs, squelch_db=args.squelch_db,
                  bandwidth_hz=args.bandwidth_hz, deviation_hz=args.dev_hz)
    print(f"{rx!r}: channel at {rx.channel_fs / 1e3:g} kHz")

    args.out.mkdir(parents=True, exist_ok=True)
    wav = args.out / f"receiver_{mode}.wav"
    wide_parts: list[IQ] = []
    audio_parts: list[Audio] = []
    bar = Progress(total / fs, "receiving")
    done, peak = 0, 0.0
    with WavWriter(wav, args.audio_fs) as out:
        for block in blocks:
            audio = rx.process(block)
            peak = max(peak, float(np.max(np.abs(audio), initial=0.0)))
            out.write(audio)
            done += len(block)
            bar.update(done / fs)
            if done <= 4 * fs:                       # keep 4 s for the plot
                wide_parts.append(block)
                audio_parts.append(audio)
    bar.close()
    print(f"wrote {wav}, {args.audio_fs / 1e3:g} kHz, peak {peak:.2f}")
    if peak > 1:
        print(f"warning: the audio clipped at full scale (peak {peak:.2f}): "
              + ("give the transmitter's deviation with --dev-hz" if mode in FM_MODES else "lower the level"),
              file=sys.stderr)
    png = args.out / f"receiver_{mode}.png"
    if plot(png, rx, np.concatenate(wide_parts), np.concatenate(audio_parts), sent):
        print(f"wrote {png}")
    return 0


def plot(path: Path, rx: Receiver, wide: IQ, audio: Audio, sent: npt.NDArray[np.float32] | None) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install matplotlib)")
        return False

    fig, ax = plt.subplots(3, 1, figsize=(9, 9), constrained_layout=True)
    fig.suptitle(f"receiving the {rx.mode.upper()} channel at {rx.offset_hz / 1e3:+g} kHz")
    f, p = spectrum_db(wide, rx.fs, 8192)
    ax[0].plot(f / 1e3, p, lw=0.6)
    half = rx.bandwidth_hz / 2
    centre = rx.offset_hz + {"usb": half, "lsb": -half}.get(rx.mode, 0.0)
    ax[0].axvspan((centre - half) / 1e3, (centre + half) / 1e3, color="C1", alpha=0.3,
                  label=f"channel, {rx.bandwidth_hz / 1e3:g} kHz")
    ax[0].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(p.max() - 90, p.max() + 5),
              title=f"wideband input, {rx.fs / 1e3:g} kHz")
    ax[0].legend(loc="upper right")

    f, p = spectrum_db(audio, rx.audio_fs, 4096)
    ax[1].plot(f / 1e3, p, lw=0.7)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(p.max() - 90, p.max() + 5),
              title=f"audio, {rx.audio_fs / 1e3:g} kHz")

    t = np.arange(len(audio)) / rx.audio_fs
    if sent is not None:  # the receiver may complete a sample more than was sent
        ax[2].plot(t[:len(sent)], sent[:len(audio)], lw=0.5, label="sent")
    ax[2].plot(t, audio, lw=0.5, alpha=0.8, label="received")
    ax[2].set(xlabel="time (s)", ylabel="level (1 = full scale)", title="audio")
    ax[2].legend(loc="upper right")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


if __name__ == "__main__":
    sys.exit(main())
