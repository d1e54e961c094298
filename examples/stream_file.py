"""Receive a long IQ recording block by block with halvo_radio's Receiver,
with a progress bar, and write the audio at 48 kHz.

    python examples/stream_file.py                        # makes a 10 s SigMF demo recording first
    python examples/stream_file.py capture.sigmf-meta --mode nbfm
    python examples/stream_file.py capture.cu8 --rate 240000 --mode am --offset-hz -30000 --out results

The recording is never held in memory as a whole: it is read, received and
written a block at a time, and the Receiver keeps all of its state (channel
filter, demodulator, resampler, de-emphasis or AGC) from one block to the
next, so the audio is exactly what one call over the whole file would give,
whatever the block size.

Recordings: SigMF (.sigmf-meta, .sigmf-data or a .sigmf archive; the sample
rate, centre frequency and data type come from its metadata), a two-channel
PCM WAV file (I left, Q right; 8, 16, 24 or 32 bits), or a raw file of
interleaved I/Q values: .cu8 (unsigned 8-bit, as RTL-SDR dongles record),
.cs8, .cs16 or .cf32 (also .raw, .iq: complex64). Raw files need --rate. The
channel is at --offset-hz from the recording's centre (default 0). The audio
comes out at --audio-fs (48 kHz by default) in <out>/stream_<mode>.wav.
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import numpy as np

from halvo_radio import MODES, Receiver, Transmitter
from sdrio import SPEECH, IqRecording, Progress, SigmfWriter, WavWriter, read_wav

FM_MODES = ("nbfm", "wbfm")


def make_demo_recording(path: Path, fs: float = 240_000.0, seconds: float = 10.0) -> None:
    """A narrowband FM transmission (5 kHz deviation) of the bundled speech
    clip, repeated with pauses, plus noise, written block by block as a SigMF
    recording (cf32_le) centred on 0 Hz."""
    speech, speech_fs = read_wav(SPEECH)
    audio = np.concatenate([0.7 * speech, np.zeros(int(0.5 * speech_fs), np.float32)]).astype(np.float32)
    tx = Transmitter("nbfm", speech_fs, fs, 0.0)
    rng = np.random.default_rng(7)
    total = int(seconds * speech_fs)
    bar = Progress(seconds, f"making {path.name}")
    with SigmfWriter(path, fs, 0.0, "halvo_sdr examples/stream_file.py: NBFM speech, 5 kHz deviation") as out:
        done = 0
        while done < total:
            n = min(len(audio), total - done)
            iq = tx.process(audio[:n])
            noise = 0.05 * (rng.standard_normal(len(iq)) + 1j * rng.standard_normal(len(iq)))
            out.write((0.5 * iq + noise).astype(np.complex64))
            done += n
            bar.update(done / speech_fs)
    bar.close()


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("recording", type=Path, nargs="?",
                    help="IQ recording; without it a demo recording is made in --out")
    ap.add_argument("--format", choices=["sigmf", "wav", "cu8", "cs8", "cs16", "cf32"],
                    help="file format (default: from the file name's suffix)")
    ap.add_argument("--rate", type=float, help="sample rate in Hz (needed for raw files)")
    ap.add_argument("--mode", choices=MODES, default="nbfm", help="modulation (default nbfm)")
    ap.add_argument("--offset-hz", type=float, default=0.0,
                    help="the channel's offset from the recording's centre, Hz (default 0)")
    ap.add_argument("--dev-hz", type=float, help="FM deviation at full scale (default nbfm 5000, wbfm 75000)")
    ap.add_argument("--bandwidth-hz", type=float, help="channel bandwidth, Hz (default: the mode's)")
    ap.add_argument("--squelch-db", type=float, help="power squelch threshold, dB of full scale (default: none)")
    ap.add_argument("--audio-fs", type=float, default=48_000.0, help="audio sample rate (default 48000)")
    ap.add_argument("--block", type=int, default=65_536, help="samples per block (default 65536)")
    ap.add_argument("--out", type=Path, default=Path("out"), help="output folder (default ./out)")
    args = ap.parse_args(argv)

    args.out.mkdir(parents=True, exist_ok=True)
    if args.recording is None:
        args.recording = args.out / "demo_nbfm.sigmf-meta"
        make_demo_recording(args.recording)
    wav = args.out / f"stream_{args.mode}.wav"

    with IqRecording(args.recording, args.format, args.rate) as rec:
        fs = rec.sample_rate
        seconds = rec.num_samples / fs
        print(f"{args.recording}: {rec.format}, {rec.num_samples} samples at {fs:g} Hz ({seconds:.1f} s), "
              f"{args.mode} at {args.offset_hz:+g} Hz, blocks of {args.block}")
        rx = Receiver(args.mode, fs, args.offset_hz, audio_fs=args.audio_fs, squelch_db=args.squelch_db,
                      bandwidth_hz=args.bandwidth_hz, deviation_hz=args.dev_hz)
        bar = Progress(seconds, "receiving")
        peak, done, written, started = 0.0, 0, 0, time.perf_counter()
        with WavWriter(wav, args.audio_fs) as out:
            for iq in rec.blocks(args.block):
                audio = rx.process(iq)                  # state carries over between blocks
                out.write(audio)
                peak = max(peak, float(np.max(np.abs(audio), initial=0.0)))
                done += len(iq)
                written += len(audio)
                bar.update(done / fs)
        bar.close()
    elapsed = time.perf_counter() - started
    print(f"wrote {wav}: {written / args.audio_fs:.1f} s of audio at {args.audio_fs:g} Hz in {elapsed:.2f} s, "
          f"peak {peak:.2f}")
    if peak > 1:
        print(f"warning: the audio clipped at full scale (peak {peak:.2f}): "
              + ("give the transmitter's deviation with --dev-hz" if args.mode in FM_MODES else "lower the level"),
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
