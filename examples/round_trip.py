"""Round trip: audio file -> Transmitter -> noise -> Receiver -> audio file, a SigMF recording and a plot.

    python examples/round_trip.py                      # NBFM, the bundled speech clip
    python examples/round_trip.py --mode usb --cnr-db 15 --input my.wav --out results

Reads a PCM WAV file (mono or stereo, mixed to mono), sends it through
halvo_radio's Transmitter for the mode (pre-emphasis for FM, resampling to
the modulation rate, the modulator, and an upconverter that places the
channel at --offset-hz in a wideband complex signal), adds complex white
noise at the given carrier-to-noise ratio (signal power over the noise power
in the channel's bandwidth), and receives it again with Receiver, block by
block, at the file's own audio rate. It writes:

    <out>/round_trip_<mode>.sigmf-meta/.sigmf-data   the noisy wideband signal (SigMF, cf32_le)
    <out>/round_trip_<mode>.wav                      the received audio
    <out>/round_trip_<mode>.png                      input, signal spectrum and output (needs matplotlib)

It prints how well the output matches the input (delay, level, correlation
and the signal-to-noise ratio of the output in 200 Hz .. 3 kHz).
"""
from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np

from halvo_radio import Receiver, Transmitter
from sdrio import SPEECH, IQ, Audio, SigmfWriter, band_limit, best_match, read_wav, spectrum_db, write_wav

MODES = ("nbfm", "wbfm", "am", "usb", "lsb", "pm")
BLOCK = 4096  # audio samples per process() call, as a live stream would arrive
SPEECH_BAND = (200.0, 3_000.0)  # Hz, where the output is compared with the input
SSB = ("usb", "lsb")


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--mode", choices=MODES, default="nbfm", help="modulation (default nbfm)")
    ap.add_argument("--cnr-db", type=float, default=20.0,
                    help="carrier-to-noise ratio in the channel's bandwidth, dB (default 20)")
    ap.add_argument("--fs", type=float, help="wideband sample rate, Hz (default 96000; 480000 for wbfm)")
    ap.add_argument("--offset-hz", type=float, default=20_000.0,
                    help="where the channel goes in the wideband signal, Hz (default 20000)")
    ap.add_argument("--center-hz", type=float, default=145_000_000.0,
                    help="centre frequency written into the SigMF metadata (default 145 MHz)")
    ap.add_argument("--input", type=Path, default=SPEECH, help="PCM WAV file (default: bundled speech)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)

    audio, audio_fs = read_wav(args.input)
    fs = args.fs or (480_000.0 if args.mode == "wbfm" else 96_000.0)
    tx = Transmitter(args.mode, audio_fs, fs, args.offset_hz)
    rx = Receiver(args.mode, fs, args.offset_hz, audio_fs=audio_fs)
    rng = np.random.default_rng(args.seed)
    print(f"{args.input.name}: {len(audio)} samples at {audio_fs:g} Hz, {args.mode}, "
          f"CNR {args.cnr_db:g} dB in {rx.bandwidth_hz / 1e3:g} kHz, IQ at {fs / 1e3:g} kHz")

    args.out.mkdir(parents=True, exist_ok=True)
    rx_parts: list[IQ] = []
    out: list[Audio] = []
    noise_rms: float | None = None
    with SigmfWriter(args.out / f"round_trip_{args.mode}", fs, args.center_hz,
                     f"halvo_sdr examples/round_trip.py: {args.mode} at {args.offset_hz:+g} Hz, "
                     f"CNR {args.cnr_db:g} dB") as rec:
        for start in range(0, len(audio), BLOCK):
            iq = tx.process(audio[start:start + BLOCK])            # float32 audio -> complex64 at fs
            if noise_rms is None:  # the noise level from the first block's power
                in_band = np.mean(np.abs(iq) ** 2) / 10 ** (args.cnr_db / 10)
                noise_rms = float(np.sqrt(in_band * fs / rx.bandwidth_hz))
            noise = noise_rms / np.sqrt(2) * (rng.standard_normal(len(iq)) + 1j * rng.standard_normal(len(iq)))
            noisy = (iq + noise).astype(np.complex64)
            rec.write(noisy)
            rx_parts.append(noisy)
            out.append(rx.process(noisy))                          # complex64 at fs -> float32 audio
    print(f"wrote {rec.meta_path} and {rec.data_path.name}")
    recovered = np.concatenate(out)

    if args.mode in SSB:
        # The sideband filters turn each audio frequency's phase by a different
        # amount, so the waveform cannot be compared sample by sample.
        print("output: compare by ear or in the plot's spectra (SSB keeps the sound, not the waveform)")
    else:
        # Compare in the speech band, where every mode lets audio through.
        ref = band_limit(audio, audio_fs, *SPEECH_BAND)
        got = band_limit(recovered, audio_fs, *SPEECH_BAND)
        lag, gain, corr = best_match(ref, got)
        err = got[lag:] * gain - ref[:len(got) - lag]
        snr = 10 * np.log10(np.sum(ref[:len(err)] ** 2) / np.sum(err ** 2))
        print(f"output, {SPEECH_BAND[0]:g} to {SPEECH_BAND[1]:g} Hz: delay {lag} samples, "
              f"level {1 / gain:.2f} of the input, correlation {corr:.3f}, SNR {snr:.1f} dB")

    wav = args.out / f"round_trip_{args.mode}.wav"
    write_wav(wav, recovered, audio_fs)
    print(f"wrote {wav}")
    png = args.out / f"round_trip_{args.mode}.png"
    if plot(png, args, audio_fs, audio, fs, np.concatenate(rx_parts), recovered, rx):
        print(f"wrote {png}")
    return 0


def plot(path: Path, args: argparse.Namespace, fs: float, audio: Audio, iq_fs: float, iq: IQ,
         recovered: Audio, rx: Receiver) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install matplotlib)")
        return False

    t = np.arange(len(audio)) / fs
    fig, ax = plt.subplots(4, 1, figsize=(9, 11), constrained_layout=True)
    fig.suptitle(f"{args.mode} round trip through Transmitter and Receiver, CNR {args.cnr_db:g} dB")
    ax[0].plot(t, audio, lw=0.5, label="input")
    ax[0].plot(t[:len(recovered)], recovered, lw=0.5, alpha=0.7, label="demodulated")
    ax[0].set(xlabel="time (s)", ylabel="audio", title=args.input.name)
    ax[0].legend(loc="upper right")

    f, p = spectrum_db(iq, iq_fs, 4096)
    ax[1].plot(f / 1e3, p, lw=0.7)
    half = rx.bandwidth_hz / 2
    centre = rx.offset_hz + {"usb": half, "lsb": -half}.get(rx.mode, 0.0)
    ax[1].axvspan((centre - half) / 1e3, (centre + half) / 1e3, color="C1", alpha=0.15, label="channel")
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)",
              title=f"wideband signal at {iq_fs / 1e3:g} kHz: the channel plus noise")
    ax[1].legend(loc="upper right")

    top = 0.0
    for x, label in ((audio, "input"), (recovered, "demodulated")):
        f, p = spectrum_db(x, fs)
        ax[2].plot(f / 1e3, p, lw=0.8, label=label)
        top = max(top, float(p.max())) if label == "demodulated" else float(p.max())
    ax[2].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", title="audio spectra",
              ylim=(top - 80, top + 5))
    ax[2].legend(loc="upper right")

    # A quarter of a second from the middle, input against output.
    mid = len(audio) // 2
    sl = slice(mid, mid + int(0.25 * fs))
    ax[3].plot(t[sl] * 1e3, audio[sl], lw=0.8, label="input")
    ax[3].plot(t[sl] * 1e3, recovered[sl], lw=0.8, label="demodulated")
    ax[3].set(xlabel="time (ms)", ylabel="audio", title="detail")
    ax[3].legend(loc="upper right")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


if __name__ == "__main__":
    sys.exit(main())
