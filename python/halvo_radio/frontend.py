"""The receive and transmit front end of halvo_radio.

``lowpass_taps`` designs the low-pass filters; ``ChannelSelector`` takes one
channel out of a wideband complex stream; ``Resampler`` changes the sample
rate by a rational factor; ``Upconverter`` places a complex stream at an
offset in a faster one. Every object keeps its filter and oscillator state
between calls: a stream fed in blocks gives, bit for bit, what one call over
the whole stream gives, whatever the block sizes. docs/radio-frontend.md
gives the float32 order of operations.
"""
from __future__ import annotations

import math
import operator
import typing

import numpy as np
import numpy.typing as npt

F32 = npt.NDArray[np.float32]
C64 = npt.NDArray[np.complex64]

from . import _native

__all__ = ["ChannelSelector", "Resampler", "Upconverter", "lowpass_taps"]


def _integer(name: str, value: typing.Any, lo: int, hi: int) -> int:
    try:
        v = operator.index(value)
    except TypeError:
        raise ValueError(f"{name} must be an integer from {lo} to {hi}, got {value!r}") from None
    if not lo <= v <= hi:
        raise ValueError(f"{name} must be an integer from {lo} to {hi}, got {v}")
    return v


def lowpass_taps(fs: float, passband_hz: float, stopband_hz: float, stopband_db: float = 70.0) -> F32:
    """Taps of a linear-phase low-pass filter, as float32, unit gain at DC.

    A Kaiser-windowed sinc designed in double precision and rounded to
    float32 once: the same bits on every machine (given the C library's
    ``sin``). It is the design every class of this module uses.

    Parameters
    ----------
    fs : float
        Sample rate, Hz (finite, > 0).
    passband_hz : float
        Passband edge, Hz: 0 up to the edge within +-0.5 dB (0 <= passband_hz < fs/2).
    stopband_hz : float
        Stopband edge, Hz: at least ``stopband_db`` down from here to fs/2
        (passband_hz < stopband_hz <= fs/2).
    stopband_db : float
        Stopband attenuation, dB (20 to 140).

    Returns
    -------
    numpy.ndarray of float32, odd or even length N (at most 2**20), symmetric;
    its group delay is (N - 1)/2 samples.

    Example
    -------
    >>> h = lowpass_taps(48_000, 3_000, 5_000)
    >>> h.dtype, len(h) > 0, abs(float(h.sum()) - 1.0) < 1e-5
    (dtype('float32'), True, True)
    """
    return _native.lowpass_taps(float(fs), float(passband_hz), float(stopband_hz), float(stopband_db))


class ChannelSelector:
    """One channel out of a wideband complex stream: mix, low-pass, decimate.

    complex64 at ``fs`` in, complex64 at ``fs_out = fs / decimation`` out:
    the channel centred at ``offset_hz`` moved to 0 Hz, filtered to
    +-``bandwidth_hz``/2 and decimated. Output m is taken at input sample
    m * decimation (m = 0 at the stream's first sample), so a block shorter
    than the decimation may give no output.

    Parameters
    ----------
    fs : float
        Input sample rate, Hz (finite, > 0).
    offset_hz : float
        Centre of the channel, Hz (-fs/2 to fs/2).
    decimation : int
        Input samples per output sample (1 to 65536).
    bandwidth_hz : float
        Channel width, Hz (0 < bandwidth_hz < fs_out); the passband is
        +-bandwidth_hz/2, flat within +-0.5 dB.
    transition_hz : float, optional
        Width of the transition band above the passband edge, Hz. Default:
        min(fs_out - bandwidth_hz, (fs - bandwidth_hz)/2), which starts the
        stopband at fs_out - bandwidth_hz/2, where the first alias of the
        passband would fall.
    stopband_db : float
        Attenuation from the stopband edge on, dB (20 to 140), including
        every band that aliases into the output.

    Attributes: the parameters, ``fs_out``, ``transition_hz`` (the one in
    use) and ``delay`` (the filter's group delay in output samples).

    Example
    -------
    >>> import numpy as np
    >>> sel = ChannelSelector(1_024_000, 125_000, 64, 8_000)
    >>> sel.fs_out, sel.transition_hz
    (16000.0, 8000.0)
    >>> n = np.arange(64_000)
    >>> x = np.exp(2j * np.pi * 126_000 / 1_024_000 * n).astype(np.complex64)
    >>> y = sel.process(x)            # a 1 kHz tone at 16 kS/s
    >>> y.dtype, len(y)
    (dtype('complex64'), 1000)
    """

    def __init__(self, fs: float, offset_hz: float, decimation: int, bandwidth_hz: float, *,
                 transition_hz: float | None = None, stopband_db: float = 70.0) -> None:
        decimation = _integer("decimation", decimation, 1, 65536)
        t = math.nan if transition_hz is None else float(transition_hz)
        self._native = _native.ChannelSelector(float(fs), float(offset_hz), decimation, float(bandwidth_hz), t,
                                               float(stopband_db))
        self.fs = float(fs)
        self.offset_hz = float(offset_hz)
        self.decimation = decimation
        self.bandwidth_hz = float(bandwidth_hz)
        self.stopband_db = float(stopband_db)
        self.transition_hz = self._native.transition()
        self.fs_out = self.fs / decimation
        self.delay = self._native.delay()

    def process(self, x: C64) -> C64:
        """complex64 samples in, the outputs they complete out (complex64)."""
        return self._native.process(x)

    def set_offset(self, hz: float) -> None:
        """Retune to ``hz`` from the next input sample on, phase continuous."""
        self._native.set_offset(float(hz))
        self.offset_hz = float(hz)

    def __repr__(self) -> str:
        return (f"ChannelSelector(fs={self.fs!r}, offset_hz={self.offset_hz!r}, decimation={self.decimation!r}, "
                f"bandwidth_hz={self.bandwidth_hz!r}, transition_hz={self.transition_hz!r}, "
                f"stopband_db={self.stopband_db!r})")


class Resampler:
    """Rational resampling of a complex64 or float32 stream.

    ``fs_out / fs_in`` is taken as ``interpolation / decimation`` in lowest
    terms (both at most 65536; 240 kHz -> 48 kHz is 1/5, 44.1 kHz -> 48 kHz
    160/147). Output k is made when input sample floor(k * decimation /
    interpolation) arrives: after n input samples in all, ceil(n *
    interpolation / decimation) outputs in all, whatever the block sizes.

    Parameters
    ----------
    fs_in, fs_out : float
        Sample rates, Hz (finite, > 0, a ratio as above).
    dtype : numpy.complex64 or numpy.float32
        The stream's type, in and out.
    bandwidth : float
        Passband edge as a fraction of the lower Nyquist frequency
        min(fs_in, fs_out)/2 (0 < bandwidth < 1); flat within +-0.5 dB.
    stopband_db : float
        Attenuation of everything that would alias (or image) into the
        passband, dB (20 to 140).

    Attributes: the parameters, ``interpolation``, ``decimation`` and
    ``delay`` (group delay in output samples).

    Example
    -------
    >>> import numpy as np
    >>> r = Resampler(44_100, 48_000, dtype=np.float32)
    >>> (r.interpolation, r.decimation)
    (160, 147)
    >>> len(r.process(np.zeros(441, np.float32)))
    480
    """

    def __init__(self, fs_in: float, fs_out: float, *, dtype: type = np.complex64, bandwidth: float = 0.9,
                 stopband_db: float = 70.0) -> None:
        dt = np.dtype(dtype)
        if dt == np.complex64:
            cls = _native.Resampler
        elif dt == np.float32:
            cls = _native.RealResampler
        else:
            raise ValueError(f"dtype must be numpy.complex64 or numpy.float32, got {dt}")
        self._native = cls(float(fs_in), float(fs_out), float(bandwidth), float(stopband_db))
        self.fs_in = float(fs_in)
        self.fs_out = float(fs_out)
        self.dtype = dt
        self.bandwidth = float(bandwidth)
        self.stopband_db = float(stopband_db)
        self.interpolation = self._native.interpolation()
        self.decimation = self._native.decimation()
        self.delay = self._native.delay()

    def process(self, x: np.ndarray) -> np.ndarray:
        """Samples of ``dtype`` in, the outputs they complete out."""
        return self._native.process(x)

    def __repr__(self) -> str:
        return (f"Resampler(fs_in={self.fs_in!r}, fs_out={self.fs_out!r}, dtype=numpy.{self.dtype.name}, "
                f"bandwidth={self.bandwidth!r}, stopband_db={self.stopband_db!r})")


class Upconverter:
    """A complex stream interpolated and placed at an offset: the transmit
    mirror of ChannelSelector.

    complex64 at ``fs`` in, complex64 at ``fs_out = fs * interpolation`` out,
    ``interpolation`` outputs per input sample, the signal's 0 Hz at
    ``offset_hz``.

    Parameters
    ----------
    fs : float
        Input sample rate, Hz (finite, > 0).
    interpolation : int
        Output samples per input sample (1 to 65536).
    offset_hz : float
        Where 0 Hz of the input goes, Hz (-fs_out/2 to fs_out/2).
    bandwidth_hz : float
        Width of the signal, Hz (0 < bandwidth_hz < fs); passband
        +-bandwidth_hz/2 within +-0.5 dB.
    stopband_db : float
        Attenuation of the images, dB (20 to 140), from fs - bandwidth_hz/2 on.

    Attributes: the parameters, ``fs_out`` and ``delay`` (group delay in
    output samples).

    Example
    -------
    >>> import numpy as np
    >>> up = Upconverter(48_000, 20, 200_000, 16_000)
    >>> y = up.process(np.ones(480, np.complex64))     # a carrier at +200 kHz
    >>> y.dtype, len(y), up.fs_out
    (dtype('complex64'), 9600, 960000.0)
    """

    def __init__(self, fs: float, interpolation: int, offset_hz: float, bandwidth_hz: float, *,
                 stopband_db: float = 70.0) -> None:
        interpolation = _integer("interpolation", interpolation, 1, 65536)
        self._native = _native.Upconverter(float(fs), interpolation, float(offset_hz), float(bandwidth_hz),
                                           float(stopband_db))
        self.fs = float(fs)
        self.interpolation = interpolation
        self.offset_hz = float(offset_hz)
        self.bandwidth_hz = float(bandwidth_hz)
        self.stopband_db = float(stopband_db)
        self.fs_out = self.fs * interpolation
        self.delay = self._native.delay()

    def process(self, x: C64) -> C64:
        """complex64 samples in, ``interpolation`` times as many out."""
        return self._native.process(x)

    def set_offset(self, hz: float) -> None:
        """Move to ``hz`` from the next output sample on, phase continuous."""
        self._native.set_offset(float(hz))
        self.offset_hz = float(hz)

    def __repr__(self) -> str:
        return (f"Upconverter(fs={self.fs!r}, interpolation={self.interpolation!r}, offset_hz={self.offset_hz!r}, "
                f"bandwidth_hz={self.bandwidth_hz!r}, stopband_db={self.stopband_db!r})")
