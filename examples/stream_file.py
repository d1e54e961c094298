"""Demodulate a long IQ recording block by block, with a progress bar.

    python examples/stream_file.py                          # makes a 30 s demo recording first
    python examples/stream_file.py capture.wav --mode fm --dev-hz 2500
    python examples/stream_file.py capture.cu8 --rate 240000 --mode am --out results

The recording is never held in memory as a whole: it is read, demodulated and
written a block at a time, and the demodulator keeps its filter and
oscillator state from one block to the next, so the audio is exactly what one
call over the whole file would give, whatever the block size.

Recordings: a two-channel PCM WAV file (I left, Q right; 8, 16, 24 or 32
bits), or a raw file of interleaved I/Q values: .cu8 (unsigned 8-bit, as
RTL-SDR dongles record), .cs8, .cs16 or .cf32 (also .raw, .iq: complex64).
Raw files need --rate. The signal of interest should be centred at 0 Hz
(see receiver.py for mixing a channel down first). The audio comes out at an
audio rate, in <out>/stream_<mode>.wav: the recording's rate divided by a
whole number, 48 kHz or just above (a 240 kHz recording gives 48 kHz; one at
48 kHz or below keeps its rate). The demodulator's audio low-pass comes
first, so keeping one sample in that number aliases nothing audible.
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import numpy as np

import halvo_sdr
from sdrio import SPEECH, Demodulator, IqRecording, Progress, WavWriter, interpolate, read_wav

AUDIO_RATE = 48_000.0


def make_demodulator(args: argparse.Namespace, fs: float) -> Demodulator:
    if args.mode == "fm":
        return halvo_sdr.FmQuadratureDemod(fs, dev_hz=args.dev_hz, audio_bw_hz=args.audio_bw_hz)
    if args.mode == "am":
        return halvo_sdr.AmEnvelopeDemod(fs, audio_bw_hz=args.audio_bw_hz)
    if args.mode == "ssb":
        # BFO at the suppressed carrier. The product detector passes both
        # sidebands, so the recording should hold only the wanted one.
        return halvo_sdr.SsbProductDemod(fs, bfo_hz=args.bfo_hz, audio_bw_hz=args.audio_bw_hz)
    return halvo_sdr.CwEnvelopeDemod(fs, tone_hz=0, env_bw_hz=50)


def output_scale(args: argparse.Namespace, fs: float) -> float:
    """Factor that brings the demodulator's output to about full scale."""
    if args.mode == "fm":
        # Radians per sample / dev_hz -> units of the deviation: 1.0 = dev_hz.
        return fs / (2 * np.pi)
    return 1.0


def make_demo_recording(path: Path, fs: float = 48_000.0, seconds: float = 30.0) -> None:
    """A narrowband FM transmission of the bundled speech clip, repeated, with
    noise, written as a 16-bit two-channel IQ WAV file, a block at a time."""
    speech, speech_fs = read_wav(SPEECH)
    audio = interpolate(speech, int(fs // speech_fs))          # 16 kHz -> 48 kHz
    audio = np.concatenate([audio, np.zeros(int(0.5 * fs), np.float32)])  # a pause between repeats
    mod = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=2_500, rf_hz=0)
    mod.set_gain(0.5)                                          # leave headroom for the noise
    rng = np.random.default_rng(7)
    total = int(seconds * fs)
    bar = Progress(seconds, f"making {path.name}")
    with WavWriter(path, fs, channels=2) as out:
        done = 0
        while done < total:
            n = min(len(audio), total - done)
            iq = mod.process(audio[:n])
            noise = 0.02 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
            out.write(iq + noise)
            done += n
            bar.update(done / fs)
    bar.close()


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("recording", type=Path, nargs="?",
                    help="IQ recording; without it a demo recording is made in --out")
    ap.add_argument("--format", choices=["wav", "cu8", "cs8", "cs16", "cf32"],
                    help="file format (default: from the file name's suffix)")
    ap.add_argument("--rate", type=float, help="sample rate in Hz (needed for raw files)")
    ap.add_argument("--mode", choices=["fm", "am", "ssb", "cw"], default="fm")
    ap.add_argument("--dev-hz", type=float, default=2_500.0, help="FM deviation (default 2500)")
    ap.add_argument("--bfo-hz", type=float, default=0.0, help="SSB carrier frequency (default 0)")
    ap.add_argument("--audio-bw-hz", type=float, default=3_500.0, help="audio bandwidth (default 3500)")
    ap.add_argument("--block", type=int, default=65_536, help="samples per block (default 65536)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    args = ap.parse_args(argv)

    args.out.mkdir(parents=True, exist_ok=True)
    if args.recording is None:
        args.recording = args.out / "demo_nbfm_iq.wav"
        make_demo_recording(args.recording)
    wav = args.out / f"stream_{args.mode}.wav"

    with IqRecording(args.recording, args.format, args.rate) as rec:
        fs = rec.sample_rate
        seconds = rec.num_samples / fs
        print(f"{args.recording}: {rec.format}, {rec.num_samples} samples at {fs:g} Hz "
              f"({seconds:.1f} s), {args.mode.upper()}, blocks of {args.block}")
        demod = make_demodulator(args, fs)
        scale = np.float32(output_scale(args, fs))
        keep = max(1, int(fs // AUDIO_RATE))                  # 1 output sample in `keep`
        bar = Progress(seconds, "demodulating")
        peak, done, phase, started = 0.0, 0, 0, time.perf_counter()
        with WavWriter(wav, fs / keep) as out:
            for iq in rec.blocks(args.block):
                audio = demod.process(iq)[phase::keep] * scale  # state carries over between blocks
                phase = (phase - len(iq)) % keep              # where the next block's first kept sample is
                out.write(audio)
                peak = max(peak, float(np.max(np.abs(audio))))
                done += len(iq)
                bar.update(done / fs)
        bar.close()
    elapsed = time.perf_counter() - started
    print(f"wrote {wav}: {done / fs:.1f} s of audio at {fs / keep:g} Hz in {elapsed:.2f} s, peak {peak:.2f}")
    if peak > 1:
        print(f"warning: the audio clipped at full scale (peak {peak:.2f}): "
              + ("give the transmitter's deviation with --dev-hz" if args.mode == "fm" else "lower the level"),
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
