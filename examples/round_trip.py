"""Round trip: audio file -> modulate -> add noise -> demodulate -> audio file and a plot.

    python examples/round_trip.py                      # FM, the bundled speech clip
    python examples/round_trip.py --mode ssb --cnr-db 15 --input my.wav --out results

Reads a PCM WAV file (mono or stereo, mixed to mono), modulates it with one
of the halvo_sdr modulators at the file's own sample rate, adds complex white
noise at the given carrier-to-noise ratio (signal power over noise power in
the whole complex band), demodulates it with the matching demodulator, block
by block, and writes:

    <out>/round_trip_<mode>.wav   the demodulated audio, scaled back to the input's units
    <out>/round_trip_<mode>.png   input, signal spectrum and output (needs matplotlib)

It prints how well the output matches the input (delay, correlation and the
signal-to-noise ratio of the output).
"""
from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np

import halvo_sdr
from sdrio import (SPEECH, IQ, Audio, Demodulator, Modulator, band_limit, best_match, read_wav,
                   spectrum_db, write_wav)

MODES = ("am", "ssb", "fm", "pm")
BLOCK = 4096  # samples per process() call, as a live stream would arrive
SPEECH_BAND = (200.0, 3_000.0)  # Hz, where the output is compared with the input


class Link:
    """A modulator, the matching demodulator and the scale that brings the
    demodulator's output back to the modulator's input units."""

    mod: Modulator
    demod: Demodulator

    def __init__(self, mode: str, fs: float) -> None:
        self.mode = mode
        self.scale = 1.0
        if mode == "am":
            # Envelope 0.5 + 0.4*x on a carrier at fs/8. The detector removes
            # the carrier level and leaves 0.4*x.
            self.mod = halvo_sdr.AmDsbMod(fs, fs / 8, carrier_level=0.5, modulation_index=0.4)
            self.demod = halvo_sdr.AmEnvelopeDemod(fs, audio_bw_hz=3_500)
            self.scale = 1 / 0.4
            self.band = (fs / 8 - 3_500, fs / 8 + 3_500)
        elif mode == "ssb":
            # Upper sideband with its (suppressed) carrier at c: the audio is
            # mixed to the centre of its band, audio_if_hz, kept within
            # +-audio_if_hz by the low-pass pairs (6 dB down at 0.9*audio_bw_hz)
            # and shifted to rf_hz. With usb=False a tone f_a leaves at
            # rf_hz - audio_if_hz + f_a, so rf_hz = c + audio_if_hz puts it at c + f_a.
            c, f_if = fs / 8, 1_650.0
            self.mod = halvo_sdr.SsbPhasingMod(fs, audio_bw_hz=f_if / 0.9, audio_if_hz=f_if,
                                               rf_hz=c + f_if, usb=False)
            # The product detector keeps Re(x * conj(BFO)); it passes both
            # sidebands around the BFO, so the noise of the empty lower side
            # lands on the audio too (3 dB more noise than a sideband filter).
            self.demod = halvo_sdr.SsbProductDemod(fs, bfo_hz=c, audio_bw_hz=3_500)
            self.scale = 2.0  # the phasing modulator's output is half the audio amplitude
            self.band = (c, c + 3_300)
        elif mode == "fm":
            dev = 2_500.0
            self.mod = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=dev, rf_hz=0)
            self.demod = halvo_sdr.FmQuadratureDemod(fs, dev_hz=dev, audio_bw_hz=3_500)
            # The discriminator gives radians per sample / dev_hz; one unit of
            # audio is dev Hz, that is 2*pi*dev/fs radians per sample.
            self.scale = fs / (2 * np.pi)
            self.band = (-dev - 3_500, dev + 3_500)
        elif mode == "pm":
            kp = 1.0  # radians per unit of audio
            self.mod = halvo_sdr.PmDirectPhaseMod(fs, kp_rad_per_unit=kp, rf_hz=0)
            self.demod = halvo_sdr.PmQuadratureDemod(fs, k=1 / kp, audio_bw_hz=3_500)
            self.band = (-6_000, 6_000)
        else:
            raise ValueError(mode)
        # The PM detector gives the first difference of the phase: a leaky
        # integrator (pole 0.999) brings back the message itself.
        self._integrate = mode == "pm"
        self._acc = 0.0

    def demodulate(self, iq: IQ) -> Audio:
        y = self.demod.process(iq)
        if self._integrate:
            # acc[n] = y[n] + a*acc[n-1], for a block at once:
            # acc[n] = a**n * (a*acc[-1] + sum over k <= n of a**-k * y[k]).
            a = 0.999
            k = np.arange(len(y))
            acc = a ** k * (a * self._acc + np.cumsum(y * a ** -k))
            if len(acc):
                self._acc = float(acc[-1])
            y = acc.astype(np.float32)
        return (y * np.float32(self.scale)).astype(np.float32)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--mode", choices=MODES, default="fm")
    ap.add_argument("--cnr-db", type=float, default=20.0,
                    help="carrier-to-noise ratio over the whole band, dB (default 20)")
    ap.add_argument("--input", type=Path, default=SPEECH, help="PCM WAV file (default: bundled speech)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)

    audio, fs = read_wav(args.input)
    link = Link(args.mode, fs)
    rng = np.random.default_rng(args.seed)
    print(f"{args.input.name}: {len(audio)} samples at {fs:g} Hz, {args.mode.upper()}, "
          f"CNR {args.cnr_db:g} dB")

    tx, rx, out = [], [], []
    noise_rms: float | None = None
    for start in range(0, len(audio), BLOCK):
        iq = link.mod.process(audio[start:start + BLOCK])       # float32 -> complex64
        if noise_rms is None:  # set the noise level from the first block's power
            noise_rms = float(np.sqrt(np.mean(np.abs(iq) ** 2) / 10 ** (args.cnr_db / 10)))
        noise = noise_rms / np.sqrt(2) * (rng.standard_normal(len(iq)) + 1j * rng.standard_normal(len(iq)))
        noisy = (iq + noise).astype(np.complex64)
        tx.append(iq)
        rx.append(noisy)
        out.append(link.demodulate(noisy))                     # complex64 -> float32
    recovered = np.concatenate(out)

    if args.mode == "ssb":
        # The phasing filters turn each audio frequency's phase by a different
        # amount, so the waveform cannot be compared sample by sample.
        print("output: compare by ear or in the plot's spectra (SSB keeps the sound, not the waveform)")
    else:
        # Compare in the speech band, where the demodulators' low-pass lets audio through.
        ref = band_limit(audio, fs, *SPEECH_BAND)
        got = band_limit(recovered, fs, *SPEECH_BAND)
        lag, gain, corr = best_match(ref, got)
        err = got[lag:] * gain - ref[:len(got) - lag]
        snr = 10 * np.log10(np.sum(ref[:len(err)] ** 2) / np.sum(err ** 2))
        print(f"output, {SPEECH_BAND[0]:g} to {SPEECH_BAND[1]:g} Hz: delay {lag} samples, "
              f"level {1 / gain:.2f} of the input, correlation {corr:.3f}, SNR {snr:.1f} dB")

    args.out.mkdir(parents=True, exist_ok=True)
    wav = args.out / f"round_trip_{args.mode}.wav"
    write_wav(wav, recovered, fs)
    print(f"wrote {wav}")
    png = args.out / f"round_trip_{args.mode}.png"
    if plot(png, args, fs, audio, np.concatenate(rx), recovered, link):
        print(f"wrote {png}")
    return 0


def plot(path: Path, args: argparse.Namespace, fs: float, audio: Audio, rx: IQ,
         recovered: Audio, link: Link) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install matplotlib)")
        return False

    t = np.arange(len(audio)) / fs
    fig, ax = plt.subplots(4, 1, figsize=(9, 11), constrained_layout=True)
    fig.suptitle(f"{args.mode.upper()} round trip through halvo_sdr, CNR {args.cnr_db:g} dB")
    ax[0].plot(t, audio, lw=0.5, label="input")
    ax[0].plot(t[:len(recovered)], recovered, lw=0.5, alpha=0.7, label="demodulated")
    ax[0].set(xlabel="time (s)", ylabel="audio", title=args.input.name)
    ax[0].legend(loc="upper right")

    f, p = spectrum_db(rx, fs)
    ax[1].plot(f / 1e3, p, lw=0.7)
    ax[1].axvspan(link.band[0] / 1e3, link.band[1] / 1e3, color="C1", alpha=0.15, label="signal")
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)",
              title="received complex baseband: modulated signal plus noise")
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
