"""A band of six transmissions made with halvo_radio's Transmitter, written
as a SigMF recording, and each channel received again with Receiver.

    python examples/band.py                         # 5 s at 480 kHz, six channels
    python examples/band.py --cnr-db 15 --seconds 3 --out results

The band holds the bundled speech clip in AM, upper and lower sideband,
narrowband FM and PM, and Morse keying in CW, each at its own offset, with
white noise. Every channel is then taken out of the same capture and turned
into audio by one object:

    audio = Receiver(mode, fs, offset_hz).process(capture)

Writes <out>/band.sigmf-meta and band.sigmf-data (the capture, cf32_le, one
annotation per channel), <out>/band_<mode>.wav per channel (48 kHz) and
<out>/band.png (the band's spectrum with the channels marked; needs
matplotlib), and prints how well each channel's audio matches what was sent.
"""
from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np
import numpy.typing as npt

from halvo_radio import Receiver, Transmitter
from sdrio import (IQ, SPEECH, Audio, SigmfWriter, band_limit, best_match, interpolate, read_wav, spectrum_db,
                   write_wav)

FS = 480_000.0
AUDIO_FS = 48_000.0
#: (mode, offset in Hz): for usb and lsb the offset is the suppressed carrier.
CHANNELS = [("am", -150_000.0), ("usb", -90_000.0), ("cw", -45_000.0),
            ("nbfm", 30_000.0), ("pm", 90_000.0), ("lsb", 150_000.0)]
LEVEL = 0.15  # amplitude of each transmission: six of them stay inside +-1


def morse_keying(fs: float, n: int, wpm: float = 18.0) -> Audio:
    """0/1 keying of "CQ" repeated: dah-dit-dah-dit  dah-dah-dit-dah, a dot = 1.2/wpm s."""
    dot = int(fs * 1.2 / wpm)
    units = [1, 1, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 0, 1, 1, 1] + [0] * 7
    return np.resize(np.repeat(np.array(units, np.float32), dot), n)


def make_band(seconds: float, cnr_db: float = 30.0, fs: float = FS,
              seed: int = 1) -> tuple[IQ, dict[str, Audio], float]:
    """The capture, what each mode's transmitter was given, and that audio's rate.

    cnr_db: each transmission's power over the noise power in a 10 kHz band."""
    speech, speech_fs = read_wav(SPEECH)
    n = int(seconds * speech_fs)
    sent = {mode: (morse_keying(speech_fs, n) if mode == "cw" else np.resize(speech, n)) for mode, _ in CHANNELS}
    capture = np.zeros(int(seconds * fs), np.complex128)
    for mode, offset in CHANNELS:
        iq = Transmitter(mode, speech_fs, fs, offset).process(sent[mode])
        power = float(np.mean(np.abs(iq) ** 2)) or 1.0
        capture[:len(iq)] += iq * (LEVEL / np.sqrt(power))
    noise_power = LEVEL ** 2 / 10 ** (cnr_db / 10) * fs / 10_000
    rng = np.random.default_rng(seed)
    capture += np.sqrt(noise_power / 2) * (rng.standard_normal(len(capture)) + 1j * rng.standard_normal(len(capture)))
    return capture.astype(np.complex64), sent, speech_fs


def match(mode: str, sent: Audio, got: Audio, fs: float) -> str:
    """How well `got` matches `sent`, in words a listener would check."""
    if mode == "cw":
        f, p = spectrum_db(got, fs, 4096)
        keyed = np.convolve(np.abs(got), np.ones(96) / 96, mode="same")
        _, _, corr = best_match(sent, keyed, max_lag=2_000)
        return f"tone at {f[np.argmax(p)]:.0f} Hz, keying correlation {corr:.2f}"
    if mode in ("usb", "lsb"):
        # The sideband filters turn each frequency's phase: compare the sound (the spectra),
        # in the voice band the 2.8 kHz channel carries (its edge is cut on purpose).
        f, a = spectrum_db(sent, fs, 1024)
        _, b = spectrum_db(got, fs, 1024)
        band = (f >= 300) & (f <= 2_400)
        return f"spectrum correlation {np.corrcoef(a[band], b[band])[0, 1]:.2f}"
    a, b = band_limit(sent, fs, 200, 3_000), band_limit(got, fs, 200, 3_000)
    # Either may lag: the receiver's filters delay the audio, and so does the
    # interpolator that brought the reference to the audio rate.
    corr = max(best_match(a, b, max_lag=2_000)[2], best_match(b, a, max_lag=2_000)[2])
    return f"correlation {corr:.3f}"


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seconds", type=float, default=5.0, help="length of the band (default 5)")
    ap.add_argument("--cnr-db", type=float, default=30.0,
                    help="each channel's power over the noise in 10 kHz, dB (default 30)")
    ap.add_argument("--center-hz", type=float, default=145_000_000.0,
                    help="centre frequency written into the SigMF metadata (default 145 MHz)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    args = ap.parse_args(argv)

    capture, sent, sent_fs = make_band(args.seconds, args.cnr_db)
    args.out.mkdir(parents=True, exist_ok=True)
    with SigmfWriter(args.out / "band", FS, args.center_hz,
                     f"halvo_sdr examples/band.py: {len(CHANNELS)} channels, CNR {args.cnr_db:g} dB") as rec:
        rec.write(capture)
        for mode, offset in CHANNELS:
            width = {"am": 10e3, "usb": 3e3, "lsb": 3e3, "cw": 500.0}.get(mode, 16e3)
            lo = offset if mode == "usb" else offset - width if mode == "lsb" else offset - width / 2
            rec.annotate(0, len(capture), args.center_hz + lo, args.center_hz + lo + width, mode)
    print(f"wrote {rec.meta_path} and {rec.data_path.name}: {len(capture)} samples at {FS / 1e3:g} kHz")

    for mode, offset in CHANNELS:
        audio = Receiver(mode, FS, offset, audio_fs=AUDIO_FS).process(capture)
        wav = args.out / f"band_{mode}.wav"
        write_wav(wav, audio, AUDIO_FS)
        reference = interpolate(sent[mode], int(AUDIO_FS // sent_fs))[:len(audio)]
        print(f"{mode:>4} at {offset / 1e3:+6.0f} kHz -> {wav.name}: {match(mode, reference, audio, AUDIO_FS)}")

    png = args.out / "band.png"
    if plot(png, capture):
        print(f"wrote {png}")
    return 0


def plot(path: Path, capture: npt.NDArray[np.complex64]) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install matplotlib)")
        return False
    fig, ax = plt.subplots(figsize=(9, 4), constrained_layout=True)
    f, p = spectrum_db(capture, FS, 8192)
    ax.plot(f / 1e3, p, lw=0.6)
    for mode, offset in CHANNELS:
        ax.annotate(mode, (offset / 1e3, float(p.max()) + 3), ha="center")
    ax.set(xlabel="frequency (kHz, relative to the centre)", ylabel="power (dB re amplitude 1)",
           ylim=(float(p.max()) - 70, float(p.max()) + 8), title=f"the generated band, {FS / 1e3:g} kHz")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


if __name__ == "__main__":
    sys.exit(main())
