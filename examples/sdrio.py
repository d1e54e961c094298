"""Helpers shared by the examples: WAV audio in and out, IQ recordings read
block by block (SigMF, two-channel WAV, raw cu8/cs8/cs16/cf32) and SigMF
recordings written block by block, a text progress bar, interpolation, and a
spectrum estimate for the plots.

Only the standard library and NumPy are used here, and the `sigmf` package
(pip install sigmf) for SigMF recordings; copy this file along with an
example that imports it.
"""
from __future__ import annotations

import importlib
import sys
import wave
from pathlib import Path
from types import TracebackType
from typing import Any, BinaryIO, Iterator, Protocol, TextIO

import numpy as np
import numpy.typing as npt

Audio = npt.NDArray[np.float32]
IQ = npt.NDArray[np.complex64]


class Modulator(Protocol):
    """What the five modulators have in common, for code that takes any of them."""

    def process(self, audio: Audio, /) -> IQ: ...


class Demodulator(Protocol):
    """What the five demodulators have in common."""

    def process(self, iq: IQ, /) -> Audio: ...

DATA = Path(__file__).resolve().parent / "data"
SPEECH = DATA / "speech.wav"  # 4.8 s of synthetic speech, 16 kHz mono 16-bit


# ----------------------------------------------------------------- WAV audio

def _pcm_to_float(raw: bytes, width: int) -> npt.NDArray[np.float32]:
    """Little-endian PCM bytes of 1, 2, 3 or 4 bytes per value as float32 in -1..1."""
    if width == 1:  # 8-bit WAV is unsigned
        return ((np.frombuffer(raw, np.uint8).astype(np.float32) - 128.0) / 128.0).astype(np.float32)
    if width == 2:
        return (np.frombuffer(raw, "<i2").astype(np.float32) / 32768.0).astype(np.float32)
    if width == 3:
        b = np.frombuffer(raw, np.uint8).reshape(-1, 3).astype(np.int32)
        v = (b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)) << 8 >> 8  # sign-extend 24 bits
        return (v.astype(np.float32) / 8388608.0).astype(np.float32)
    if width == 4:
        return (np.frombuffer(raw, "<i4").astype(np.float64) / 2147483648.0).astype(np.float32)
    raise ValueError(f"unsupported WAV sample width: {width} bytes")


def read_wav(path: str | Path) -> tuple[Audio, float]:
    """A whole PCM WAV file as float32 audio in -1..1 (channels averaged) and its rate."""
    with wave.open(str(path), "rb") as w:
        channels, width, rate = w.getnchannels(), w.getsampwidth(), w.getframerate()
        x = _pcm_to_float(w.readframes(w.getnframes()), width).reshape(-1, channels)
    return x.mean(axis=1, dtype=np.float32), float(rate)


class WavWriter:
    """16-bit PCM WAV written block by block; values are clipped to -1..1."""

    def __init__(self, path: str | Path, sample_rate: float, channels: int = 1) -> None:
        self.channels = channels
        self._w = wave.open(str(path), "wb")
        self._w.setnchannels(channels)
        self._w.setsampwidth(2)
        self._w.setframerate(int(round(sample_rate)))

    def write(self, block: npt.NDArray[np.floating] | npt.NDArray[np.complexfloating]) -> None:
        """Append one block: real samples, or complex samples as two channels (I, Q)."""
        if np.iscomplexobj(block):
            block = np.stack([block.real, block.imag], axis=-1)
        pcm = np.clip(np.round(np.asarray(block, np.float64) * 32767.0), -32768, 32767)
        self._w.writeframes(pcm.astype("<i2").tobytes())

    def close(self) -> None:
        self._w.close()

    def __enter__(self) -> WavWriter:
        return self

    def __exit__(self, et: type[BaseException] | None, ev: BaseException | None,
                 tb: TracebackType | None) -> None:
        self.close()


def write_wav(path: str | Path, audio: npt.NDArray[np.floating], sample_rate: float) -> None:
    """One block of real audio as a mono 16-bit WAV file."""
    with WavWriter(path, sample_rate) as w:
        w.write(audio)


# ------------------------------------------------------------ IQ recordings

# Raw formats: interleaved I, Q values, little-endian.
RAW_FORMATS: dict[str, tuple[np.dtype[Any], float, float]] = {
    "cu8": (np.dtype(np.uint8), 127.5, 127.5),   # unsigned 8-bit (RTL-SDR dongles)
    "cs8": (np.dtype(np.int8), 0.0, 128.0),      # signed 8-bit
    "cs16": (np.dtype("<i2"), 0.0, 32768.0),     # signed 16-bit
    "cf32": (np.dtype("<f4"), 0.0, 1.0),         # float32 pairs = complex64
}


SIGMF_SUFFIXES = (".sigmf-meta", ".sigmf-data", ".sigmf")


def is_sigmf(path: str | Path) -> bool:
    """Whether `path` names a SigMF recording (its metadata, dataset or archive)."""
    return str(path).lower().endswith(SIGMF_SUFFIXES)


def _sigmf() -> Any:
    try:
        sigmf = importlib.import_module("sigmf")
    except ImportError:
        raise SystemExit("reading or writing SigMF needs the sigmf package: pip install sigmf") from None
    return sigmf


class IqRecording:
    """An IQ recording read block by block: a SigMF recording (.sigmf-meta,
    .sigmf-data or a .sigmf archive), a two-channel PCM WAV (I left, Q right)
    or a raw file of interleaved values (cu8, cs8, cs16, cf32).

    A SigMF recording brings its sample rate, centre frequency and data type
    in its metadata (read with the sigmf package; every complex data type it
    knows: ci16_le, cu8, cf32_le, ...; fixed-point values scaled to -1..1 as
    that package does). Raw files carry no sample rate: give it. The format is
    taken from the file name's suffix unless given (.raw and .iq mean cf32).

    `center_hz` is the recording's centre frequency in Hz, None where the
    file does not say (raw and WAV files)."""

    def __init__(self, path: str | Path, fmt: str | None = None,
                 sample_rate: float | None = None) -> None:
        self.path = Path(path)
        suffix = self.path.suffix.lower().lstrip(".")
        self.format = fmt or ("sigmf" if is_sigmf(self.path) else
                              {"raw": "cf32", "iq": "cf32", "fc32": "cf32"}.get(suffix, suffix))
        self.center_hz: float | None = None
        self._wav: wave.Wave_read | None = None
        self._raw: BinaryIO | None = None
        self._sigmf: Any = None
        self._next = 0
        if self.format == "sigmf":
            sigmf = _sigmf()
            # skip_checksum: a long capture is not read twice just to hash it.
            rec = sigmf.fromfile(str(self.path), skip_checksum=True)
            datatype = rec.get_global_field(sigmf.DATATYPE_KEY)
            channels = rec.get_global_field(sigmf.NUM_CHANNELS_KEY, 1)
            if not sigmf.sigmffile.dtype_info(datatype)["is_complex"] or channels != 1:
                raise ValueError(f"{self.path}: an IQ recording has one channel of complex samples, this one "
                                 f"has {channels} channel(s) of {datatype}")
            self._sigmf = rec
            self.datatype = str(datatype)
            rate = rec.get_global_field(sigmf.SAMPLE_RATE_KEY)
            if rate is None and not sample_rate:
                raise ValueError(f"{self.path}: the metadata gives no sample rate (core:sample_rate): give it")
            self.sample_rate = float(sample_rate or rate)
            captures = rec.get_captures()
            if captures and captures[0].get(sigmf.FREQUENCY_KEY) is not None:
                self.center_hz = float(captures[0][sigmf.FREQUENCY_KEY])
            self.num_samples = int(rec.sample_count)
        elif self.format == "wav":
            self._wav = wave.open(str(self.path), "rb")
            if self._wav.getnchannels() != 2:
                raise ValueError(f"{self.path}: an IQ WAV file has two channels (I, Q), "
                                 f"this one has {self._wav.getnchannels()}")
            self._width = self._wav.getsampwidth()
            self.sample_rate = float(sample_rate or self._wav.getframerate())
            self.num_samples = self._wav.getnframes()
        elif self.format in RAW_FORMATS:
            if not sample_rate:
                raise ValueError(f"{self.path}: a raw {self.format} file needs its sample rate")
            self._dtype, self._offset, self._scale = RAW_FORMATS[self.format]
            self.sample_rate = float(sample_rate)
            self.num_samples = self.path.stat().st_size // (2 * self._dtype.itemsize)
            self._raw = open(self.path, "rb")
        else:
            raise ValueError(f"{self.path}: unknown IQ format {self.format!r} "
                             f"(sigmf, wav, {', '.join(RAW_FORMATS)})")

    def blocks(self, size: int) -> Iterator[IQ]:
        """Successive blocks of up to `size` complex64 samples, to the end of the file."""
        while True:
            if self._sigmf is not None:
                n = min(size, self.num_samples - self._next)
                if n <= 0:
                    return
                v = self._sigmf.read_samples(self._next, n).astype(np.complex64).view(np.float32)
                self._next += n
            elif self._wav is not None:
                v = _pcm_to_float(self._wav.readframes(size), self._width)
            else:
                assert self._raw is not None
                raw = self._raw.read(size * 2 * self._dtype.itemsize)
                raw = raw[:len(raw) - len(raw) % (2 * self._dtype.itemsize)]
                v = np.frombuffer(raw, self._dtype).astype(np.float32)
                if self._offset or self._scale != 1.0:
                    v = ((v - np.float32(self._offset)) / np.float32(self._scale)).astype(np.float32)
            if v.size == 0:
                return
            # (I, Q) float32 pairs are exactly the memory layout of complex64.
            yield np.ascontiguousarray(v).view(np.complex64)

    def close(self) -> None:
        if self._wav is not None:
            self._wav.close()
        if self._raw is not None:
            self._raw.close()

    def __enter__(self) -> IqRecording:
        return self

    def __exit__(self, et: type[BaseException] | None, ev: BaseException | None,
                 tb: TracebackType | None) -> None:
        self.close()


class SigmfWriter:
    """A SigMF recording written block by block: complex64 samples go to
    <stem>.sigmf-data as cf32_le; on close, <stem>.sigmf-meta gets the sample
    rate, the centre frequency, the data type, a description and the data's
    SHA-512 (written with the sigmf package, which checks it against the
    SigMF schema)."""

    def __init__(self, path: str | Path, sample_rate: float, center_hz: float = 0.0,
                 description: str = "") -> None:
        stem = str(path)
        for suffix in SIGMF_SUFFIXES:
            if stem.lower().endswith(suffix):
                stem = stem[:-len(suffix)]
        self.meta_path = Path(stem + ".sigmf-meta")
        self.data_path = Path(stem + ".sigmf-data")
        self.sample_rate, self.center_hz, self.description = float(sample_rate), float(center_hz), description
        self._f: BinaryIO | None = open(self.data_path, "wb")
        self._annotations: list[tuple[int, int | None, dict[str, Any]]] = []

    def annotate(self, start: int, length: int | None, lower_hz: float, upper_hz: float, label: str) -> None:
        """Mark samples start .. start+length (None: to the end) between two
        frequencies (Hz, absolute like the centre frequency) with a label."""
        self._annotations.append((start, length, {"core:freq_lower_edge": float(lower_hz),
                                                  "core:freq_upper_edge": float(upper_hz),
                                                  "core:label": label}))

    def write(self, block: IQ) -> None:
        """Append complex samples (written as little-endian float32 pairs)."""
        assert self._f is not None
        self._f.write(np.asarray(block, np.complex64).astype("<c8").tobytes())

    def close(self) -> None:
        if self._f is None:
            return
        self._f.close()
        self._f = None
        sigmf = _sigmf()
        meta = sigmf.SigMFFile(data_file=str(self.data_path), global_info={
            sigmf.DATATYPE_KEY: "cf32_le",
            sigmf.SAMPLE_RATE_KEY: self.sample_rate,
            sigmf.VERSION_KEY: sigmf.__specification__,
            sigmf.DESCRIPTION_KEY: self.description,
            sigmf.RECORDER_KEY: "halvo_sdr examples",
        })
        meta.add_capture(0, metadata={sigmf.FREQUENCY_KEY: self.center_hz})
        for start, length, fields in self._annotations:
            meta.add_annotation(start, length, metadata=fields)
        meta.tofile(str(self.meta_path), overwrite=True)

    def __enter__(self) -> SigmfWriter:
        return self

    def __exit__(self, et: type[BaseException] | None, ev: BaseException | None,
                 tb: TracebackType | None) -> None:
        self.close()


# ------------------------------------------------------------- progress bar

class Progress:
    """A one-line text progress bar: `label [#####-----]  47%  2.3 of 4.9 s`."""

    def __init__(self, total: float, label: str = "", unit: str = "s",
                 width: int = 30, stream: TextIO | None = None) -> None:
        self.total, self.label, self.unit, self.width = total, label, unit, width
        self.stream = stream if stream is not None else sys.stderr
        self._shown = -1

    def update(self, done: float) -> None:
        frac = min(max(done / self.total, 0.0), 1.0) if self.total > 0 else 1.0
        pct = int(frac * 100)
        if pct == self._shown:  # redraw only when the percentage changes
            return
        self._shown = pct
        bar = "#" * int(frac * self.width)
        self.stream.write(f"\r{self.label} [{bar:-<{self.width}}] {pct:3d}%  "
                          f"{done:.1f} of {self.total:.1f} {self.unit}")
        self.stream.flush()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


# ------------------------------------------------------- resampling, spectra

def lowpass_taps(cutoff: float, num_taps: int) -> npt.NDArray[np.float64]:
    """Windowed-sinc (Blackman) low-pass FIR, cut-off in cycles per sample, unit DC gain."""
    n = np.arange(num_taps) - (num_taps - 1) / 2
    h = np.sinc(2 * cutoff * n) * np.blackman(num_taps)
    return np.asarray(h / h.sum(), np.float64)


def interpolate(x: npt.NDArray[np.floating], factor: int, taps_per_phase: int = 24) -> Audio:
    """Raise the sample rate of real audio by an integer factor (polyphase FIR)."""
    if factor == 1:
        return np.asarray(x, np.float32)
    h = lowpass_taps(0.45 / factor, factor * taps_per_phase) * factor
    xp = np.concatenate([np.zeros(taps_per_phase - 1), np.asarray(x, np.float64)])
    windows = np.lib.stride_tricks.sliding_window_view(xp, taps_per_phase)
    # Output sample m*factor + p uses the phase-p taps h[p::factor].
    phases = windows @ h.reshape(taps_per_phase, factor)[::-1]
    return phases.reshape(-1).astype(np.float32)


def spectrum_db(x: npt.NDArray[np.number], fs: float, nfft: int = 2048
                ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Averaged power spectrum (Welch, Hann window, 50 % overlap) in dB.

    Complex input gives both sides, -fs/2 .. fs/2; real input 0 .. fs/2.
    The level of a sinusoid of amplitude A reads about 20*log10(A) dB
    (A/2 per side for a real one)."""
    x = np.asarray(x)
    nfft = min(nfft, len(x))
    win = np.hanning(nfft)
    starts = range(0, len(x) - nfft + 1, nfft // 2)
    segs = np.stack([x[s:s + nfft] * win for s in starts])
    p = np.mean(np.abs(np.fft.fft(segs, axis=1)) ** 2, axis=0) / win.sum() ** 2
    f = np.fft.fftfreq(nfft, 1 / fs)
    if np.iscomplexobj(x):
        p, f = np.fft.fftshift(p), np.fft.fftshift(f)
    else:
        p, f = p[: nfft // 2 + 1], np.abs(f[: nfft // 2 + 1])
    return np.asarray(f, np.float64), np.asarray(10 * np.log10(p + 1e-20), np.float64)


def band_limit(x: npt.NDArray[np.floating], fs: float, lo_hz: float, hi_hz: float
               ) -> npt.NDArray[np.float64]:
    """Real audio with everything outside lo_hz..hi_hz removed (FFT brick wall)."""
    spectrum = np.fft.rfft(np.asarray(x, np.float64))
    f = np.fft.rfftfreq(len(x), 1 / fs)
    spectrum[(f < lo_hz) | (f > hi_hz)] = 0
    return np.asarray(np.fft.irfft(spectrum, len(x)), np.float64)


def best_match(reference: npt.NDArray[np.floating], received: npt.NDArray[np.floating],
               max_lag: int = 200) -> tuple[int, float, float]:
    """The lag by which `received` is late, the least-squares gain that scales it
    onto `reference`, and their correlation at that lag (lags 0..max_lag)."""
    ref = np.asarray(reference, np.float64)
    rec = np.asarray(received, np.float64)
    n = min(len(ref), len(rec)) - max_lag
    ref = ref[:n]
    size = 1 << (n + 2 * max_lag).bit_length()
    # xc[lag] = sum over i < n of ref[i] * rec[i + lag], by FFT.
    xc = np.fft.irfft(np.conj(np.fft.rfft(ref, size)) * np.fft.rfft(rec[:n + max_lag], size), size)
    xc = xc[:max_lag + 1]
    energy = np.concatenate([[0.0], np.cumsum(rec[:n + max_lag] ** 2)])
    seg = energy[n:n + max_lag + 1] - energy[:max_lag + 1]  # sum of rec[lag:lag+n]**2
    corr = xc / (np.sqrt(np.dot(ref, ref) * seg) + 1e-30)
    lag = int(np.argmax(corr))
    return lag, float(xc[lag] / (seg[lag] + 1e-30)), float(corr[lag])
