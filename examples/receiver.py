"""A receiver chain: pick one channel out of a wideband capture, mix it down,
filter and decimate it, and demodulate it.

    python examples/receiver.py                       # the FM channel of a generated band
    python examples/receiver.py --channel ssb         # or am, cw
    python examples/receiver.py --input capture.cu8 --rate 960000 --offset-hz 120000 --mode fm --dev-hz 5000

Without --input the example first makes a wideband scene at 192 kHz holding
four transmissions of the bundled speech clip (AM, narrowband FM and upper
sideband) and Morse code, with noise:

    channel  centre      what
    am       -60 kHz     AM, carrier 0.5, modulation index 0.4
    ssb      -25 kHz     USB, suppressed carrier at -25 kHz, audio 300 Hz .. 3 kHz above it
    fm       +20 kHz     NBFM, 2.5 kHz deviation
    cw       +55 kHz     "CQ DE HALVO" at 20 words per minute, 4 ms ramps

Then, block by block:

    wideband IQ -> mix by -offset -> FIR low-pass, keep 1 in 4 -> 48 kHz IQ
                -> channel filter (FIR) -> demodulator -> audio

The mixer, the two filters and the demodulator all keep their state from
block to block. Writes <out>/receiver_<channel>.wav and <out>/receiver_<channel>.png
(the plot needs matplotlib).
"""
from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Iterator

import numpy as np
import numpy.typing as npt

import halvo_sdr
from sdrio import (SPEECH, IQ, Audio, Demodulator, IqRecording, Progress, WavWriter,
                   interpolate, lowpass_taps, read_wav, spectrum_db)

FS_SCENE = 192_000.0
DECIM = 4
BLOCK = 48_000  # wideband samples per block


class ChannelSelector:
    """Mixes the channel at offset_hz down to 0 Hz, low-pass filters it to
    +-cutoff_hz and keeps every decim-th sample. Call it block after block:
    the oscillator phase, the filter history and the decimation phase carry
    over, so the output does not depend on the block sizes."""

    def __init__(self, fs: float, offset_hz: float, cutoff_hz: float, decim: int,
                 num_taps: int = 129) -> None:
        self.decim = decim
        self.cycles_per_sample = -offset_hz / fs
        self.taps = lowpass_taps(cutoff_hz / fs, num_taps)[::-1].astype(np.complex128)
        self._phase = 0.0                                   # oscillator phase in cycles, 0..1
        self._history = np.zeros(num_taps - 1, np.complex128)  # last inputs of the previous block
        self._skip = 0                                      # inputs to skip before the next kept one

    def process(self, x: IQ) -> IQ:
        n = len(x)
        cycles = self._phase + self.cycles_per_sample * np.arange(n)
        mixed = x * np.exp(2j * np.pi * cycles)
        self._phase = (self._phase + self.cycles_per_sample * n) % 1.0
        buf = np.concatenate([self._history, mixed])
        # Filter output k uses buf[k : k + num_taps]; compute only the kept ones.
        windows = np.lib.stride_tricks.sliding_window_view(buf, len(self.taps))
        out = windows[self._skip::self.decim] @ self.taps
        self._skip = (self._skip - n) % self.decim
        self._history = buf[len(buf) - len(self.taps) + 1:]
        return out.astype(np.complex64)


class Channel:
    """Where a channel sits and how it is received: the mixer offset, the
    channel filter's half-width and the demodulator at the decimated rate."""

    def __init__(self, mode: str, centre_hz: float, fs_audio: float, dev_hz: float = 2_500.0) -> None:
        self.mode = mode
        self.centre_hz = centre_hz
        self.offset_hz = centre_hz      # what the mixer moves to 0 Hz
        self.scale = 1.0
        self.bfo_hz = 0.0
        self.detected = np.zeros(0, np.float32)  # the demodulator's output for the last block
        if mode == "fm":
            self.cutoff_hz = dev_hz + 3_500.0   # Carson: deviation + 3.5 kHz audio
            self.demod: Demodulator = halvo_sdr.FmQuadratureDemod(fs_audio, dev_hz=dev_hz,
                                                                   audio_bw_hz=3_500)
            self.scale = fs_audio / (2 * np.pi)  # radians per sample / dev_hz -> units of deviation
        elif mode == "am":
            self.cutoff_hz = 4_000.0
            self.demod = halvo_sdr.AmEnvelopeDemod(fs_audio, audio_bw_hz=3_500)
            self.scale = 1 / 0.4                 # modulation index of the scene's AM transmitter
        elif mode == "ssb":
            # The product detector rejects neither sideband, so the channel
            # filter must: mix the middle of the upper sideband (carrier +
            # 1650 Hz) to 0 Hz, keep +-1350 Hz (300 Hz .. 3 kHz of audio), and
            # put the BFO 1650 Hz below, where the carrier now is.
            self.offset_hz = centre_hz + 1_650.0
            self.cutoff_hz = 1_350.0
            self.bfo_hz = -1_650.0
            self.demod = halvo_sdr.SsbProductDemod(fs_audio, bfo_hz=self.bfo_hz, audio_bw_hz=3_500)
            self.scale = 2.0
        elif mode == "cw":
            self.cutoff_hz = 250.0
            self.demod = halvo_sdr.CwEnvelopeDemod(fs_audio, tone_hz=0, env_bw_hz=100)
            # The keying envelope comes out; a CwKeyedMod turns it back into a
            # 700 Hz tone with soft edges to listen to (the real part of its output).
            self.sidetone = halvo_sdr.CwKeyedMod(fs_audio, tone_hz=700, rise_ms=3, fall_ms=3)
            self._peak = 0.0
        else:
            raise ValueError(mode)

    def demodulate(self, iq: IQ) -> Audio:
        y = self.demod.process(iq)
        self.detected = y
        if self.mode == "cw":
            # Key down where the envelope is above half its (slowly decaying) peak.
            self._peak = max(0.7 * self._peak, float(np.max(y, initial=0.0)))
            key = (y > np.float32(0.5 * self._peak)).astype(np.float32)
            return self.sidetone.process(key).real.astype(np.float32) * np.float32(0.5)
        return y * np.float32(self.scale)


SCENE_CHANNELS = {"am": -60_000.0, "ssb": -25_000.0, "fm": 20_000.0, "cw": 55_000.0}
MORSE = {"C": "-.-.", "Q": "--.-", "D": "-..", "E": ".", "H": "....", "A": ".-", "L": ".-..",
         "V": "...-", "O": "---"}


def morse_keying(text: str, fs: float, wpm: float = 20.0) -> Audio:
    """0/1 keying of `text` in Morse code (a dot lasts 1.2/wpm seconds)."""
    dot = int(fs * 1.2 / wpm)
    units: list[int] = []
    for word in text.split():
        for letter in word:
            for sym in MORSE[letter]:
                units += [1] * (1 if sym == "." else 3) + [0]
            units += [0, 0]
        units += [0] * 4
    return np.repeat(np.array(units, np.float32), dot)


def make_scene(seconds: float) -> tuple[IQ, dict[str, Audio]]:
    """The wideband capture and, per channel, the audio that was sent."""
    fs = FS_SCENE
    speech, speech_fs = read_wav(SPEECH)
    audio = interpolate(speech, int(fs // speech_fs))
    n = int(seconds * fs)
    audio = np.resize(audio, n)
    sent = {"am": audio, "ssb": audio, "fm": audio}
    keying = np.resize(morse_keying("CQ DE HALVO", fs), n)
    sent["cw"] = keying
    am = halvo_sdr.AmDsbMod(fs, SCENE_CHANNELS["am"], carrier_level=0.5, modulation_index=0.4)
    ssb = halvo_sdr.SsbPhasingMod(fs, audio_bw_hz=1_650 / 0.9, audio_if_hz=1_650,
                                  rf_hz=SCENE_CHANNELS["ssb"] + 1_650, usb=False)
    fm = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=2_500, rf_hz=SCENE_CHANNELS["fm"])
    fm.set_gain(0.3)
    cw = halvo_sdr.CwKeyedMod(fs, tone_hz=SCENE_CHANNELS["cw"], rise_ms=4, fall_ms=4)
    cw.set_gain(0.3)
    rng = np.random.default_rng(3)
    noise = 0.003 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    iq = am.process(audio) + ssb.process(audio) + fm.process(audio) + cw.process(keying) + noise
    return iq.astype(np.complex64), sent


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--channel", choices=sorted(SCENE_CHANNELS), default="fm",
                    help="which channel of the generated scene to receive (default fm)")
    ap.add_argument("--seconds", type=float, default=4.0, help="length of the generated scene")
    ap.add_argument("--input", type=Path, help="your own IQ recording instead of the scene "
                    "(two-channel WAV, .cu8, .cs8, .cs16, .cf32)")
    ap.add_argument("--rate", type=float, help="sample rate of --input in Hz (raw files)")
    ap.add_argument("--offset-hz", type=float, help="channel offset in --input (Hz)")
    ap.add_argument("--mode", choices=sorted(SCENE_CHANNELS), help="modulation of --input's channel")
    ap.add_argument("--dev-hz", type=float, default=2_500.0,
                    help="FM deviation in Hz (default 2500, the scene's; 5000 for standard NBFM)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    args = ap.parse_args(argv)

    sent: dict[str, Audio] = {}
    blocks: Iterator[IQ]
    if args.input is None:
        print(f"making a {args.seconds:g} s scene at {FS_SCENE / 1e3:g} kHz")
        scene, sent = make_scene(args.seconds)
        fs, mode, offset = FS_SCENE, args.channel, SCENE_CHANNELS[args.channel]
        blocks = (scene[i:i + BLOCK] for i in range(0, len(scene), BLOCK))
        total = len(scene)
    else:
        if args.offset_hz is None or args.mode is None:
            ap.error("--input needs --offset-hz and --mode")
        rec = IqRecording(args.input, None, args.rate)
        fs, mode, offset = rec.sample_rate, args.mode, args.offset_hz
        blocks = rec.blocks(BLOCK)
        total = rec.num_samples
    decim = max(1, int(fs // 48_000))
    fs_audio = fs / decim

    chan = Channel(mode, offset, fs_audio, args.dev_hz)
    # Two stages: a short filter that only has to stop what would alias onto
    # the channel when 1 in `decim` samples is kept, then a long, sharp
    # channel filter at the low rate, where it costs `decim` times less.
    decimator = ChannelSelector(fs, chan.offset_hz, 0.4 * fs_audio, decim, num_taps=16 * decim + 1)
    channel_filter = ChannelSelector(fs_audio, 0.0, chan.cutoff_hz, 1, num_taps=767)
    print(f"{mode.upper()} at {offset / 1e3:+g} kHz: mix by {-chan.offset_hz / 1e3:+g} kHz, "
          f"keep 1 in {decim} -> {fs_audio / 1e3:g} kHz, channel filter +-{chan.cutoff_hz / 1e3:g} kHz")

    args.out.mkdir(parents=True, exist_ok=True)
    wav = args.out / f"receiver_{mode}.wav"
    wide_parts: list[IQ] = []
    narrow_parts: list[IQ] = []
    audio_parts: list[Audio] = []
    detected_parts: list[Audio] = []
    bar = Progress(total / fs, "receiving")
    done, peak = 0, 0.0
    with WavWriter(wav, fs_audio) as out:
        for block in blocks:
            narrow = channel_filter.process(decimator.process(block))
            audio = chan.demodulate(narrow)
            peak = max(peak, float(np.max(np.abs(audio), initial=0.0)))
            out.write(audio)
            done += len(block)
            bar.update(done / fs)
            if sum(map(len, wide_parts)) < 4 * int(fs):      # keep 4 s for the plot
                wide_parts.append(block)
                narrow_parts.append(narrow)
                audio_parts.append(audio)
                detected_parts.append(chan.detected)
    bar.close()
    print(f"wrote {wav}, {fs_audio / 1e3:g} kHz, peak {peak:.2f}")
    if peak > 1:
        print(f"warning: the audio clipped at full scale (peak {peak:.2f}): "
              + ("give the transmitter's deviation with --dev-hz" if mode == "fm" else "lower the level"),
              file=sys.stderr)
    png = args.out / f"receiver_{mode}.png"
    reference = sent[mode][::decim] if sent else None
    shown = np.concatenate(detected_parts if mode == "cw" else audio_parts)
    if plot(png, fs, fs_audio, chan, np.concatenate(wide_parts), np.concatenate(narrow_parts),
            shown, reference):
        print(f"wrote {png}")
    return 0


def plot(path: Path, fs: float, fs_audio: float, chan: Channel, wide: IQ, narrow: IQ,
         audio: Audio, reference: npt.NDArray[np.float32] | None) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install matplotlib)")
        return False

    fig, ax = plt.subplots(3, 1, figsize=(9, 9), constrained_layout=True)
    fig.suptitle(f"receiving the {chan.mode.upper()} channel at {chan.centre_hz / 1e3:+g} kHz")
    f, p = spectrum_db(wide, fs, 4096)
    ax[0].plot(f / 1e3, p, lw=0.6)
    lo, hi = chan.offset_hz - chan.cutoff_hz, chan.offset_hz + chan.cutoff_hz
    ax[0].axvspan(lo / 1e3, hi / 1e3, color="C1", alpha=0.3, label="channel filter")
    ax[0].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(p.max() - 110, p.max() + 5),
              title=f"wideband input, {fs / 1e3:g} kHz")
    ax[0].legend(loc="upper right")

    f, p = spectrum_db(narrow, fs_audio, 2048)
    ax[1].plot(f / 1e3, p, lw=0.7)
    if chan.mode == "ssb":
        ax[1].axvline(chan.bfo_hz / 1e3, color="C3", ls="--", label="BFO (suppressed carrier)")
        ax[1].legend(loc="upper right")
    # (spectrum_db floors empty bins at -200 dB: show the 110 dB below the peak)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(p.max() - 110, p.max() + 5),
              title=f"channel after mixing, filtering and decimation, {fs_audio / 1e3:g} kHz")

    t = np.arange(len(audio)) / fs_audio
    if reference is not None:
        ax[2].plot(t, reference[:len(audio)], lw=0.5, label="sent")
    ax[2].plot(t, audio, lw=0.5, alpha=0.8, label="received")
    what = "keying envelope (CwEnvelopeDemod output)" if chan.mode == "cw" else "demodulated audio"
    ax[2].set(xlabel="time (s)", ylabel="level", title=what)
    ax[2].legend(loc="upper right")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


if __name__ == "__main__":
    sys.exit(main())
