"""Many receivers of one mode over one capture, fed by one channelizer.

``ReceiverBank`` splits the capture with a ``Channelizer`` (twice oversampled
by default) and runs one ``Receiver`` per channel on its channelizer row, all
in one native call. docs/radio/receiver-bank.md defines each output row exactly.
"""
from __future__ import annotations

import math
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from . import _native
from .audio import _DEFAULTS, DEFAULT, _Default, _mode_index, _opt

__all__ = ["ReceiverBank"]

_MAX_CHANNELS = 4096
# The channelizer's passband edge, in channel spacings, per oversampling factor.
_PASS = {1: 0.4, 2: 0.5}


def _per_channel(name: str, value, n: int) -> list:
    """A scalar broadcast to n channels, or a sequence of exactly n values."""
    if value is None or np.ndim(value) == 0:
        return [value] * n
    values = list(value)
    if len(values) != n:
        raise ValueError(f"{name} must be a scalar or a sequence of {n} values (one per offset), got {len(values)}")
    return values


def _fits(mode: str, offsets: Sequence[float], bandwidth: float, spacing: float, edge: float) -> bool:
    for f in offsets:
        residual = f - round(f / spacing) * spacing
        lo, hi = residual - 0.5 * bandwidth, residual + 0.5 * bandwidth
        if mode == "usb":
            lo, hi = residual, residual + bandwidth
        elif mode == "lsb":
            lo, hi = residual - bandwidth, residual
        if lo < -edge * spacing or hi > edge * spacing:
            return False
    return True


def _choose_channels(mode: str, fs: float, offsets: Sequence[float], audio_fs: float, bandwidth: float,
                     oversample: int) -> int:
    """The largest power of two M whose channels hold every offset's band
    and whose channel rate oversample*fs/M still reaches audio_fs (the least
    work per channel); a ValueError when no M does."""
    m = _MAX_CHANNELS
    while m >= 2:
        rate = oversample * fs / m
        if rate >= audio_fs and rate > 2.0 * bandwidth and _fits(mode, offsets, bandwidth, fs / m, _PASS[oversample]):
            return m
        m //= 2
    raise ValueError(f"offsets_hz: no channelizer of 2 to {_MAX_CHANNELS} channels (a power of two) holds every "
                     f"channel's band ({bandwidth:g} Hz wide) within {_PASS[oversample]:g} of a channel spacing of its centre at "
                     f"fs = {fs:g} with audio_fs = {audio_fs:g}")


class ReceiverBank:
    """One mode over many channels: complex64 at ``fs`` in, one row of float32
    audio per channel out.

    The capture is split by a polyphase ``Channelizer`` of ``n_channels``
    channels (spacing ``fs / n_channels``, channel rate ``channel_fs =
    oversample * fs / n_channels``); channel k is served by the
    channelizer channel nearest ``offsets_hz[k]`` and a ``Receiver`` at
    ``channel_fs`` tuned to the rest of the offset. Row k of the output is,
    bit for bit and for any split of the input::

        b = round(offsets_hz[k] / spacing)
        Receiver(mode, channel_fs, offsets_hz[k] - b * spacing, audio_fs=audio_fs,
                 squelch_db=squelch_db[k], <options>).process(
            Channelizer(fs, n_channels, oversample, stopband_db).process(iq)[b % n_channels])

    Each channel's band (for "usb"/"lsb" the sideband beside the dial
    frequency) must lie within the channelizer's passband about its
    channelizer channel's centre (half a spacing either side when twice
    oversampled, 0.4 of a spacing when critically sampled); other offsets
    are refused with a ValueError. Every row has the same length.

    Parameters
    ----------
    mode : str
        "am", "usb", "lsb", "cw", "nbfm", "wbfm" or "pm" (as ``Receiver``).
    fs : float
        Capture sample rate, Hz.
    offsets_hz : sequence of float
        The channels' frequencies in the capture, Hz (dial frequency for
        "usb"/"lsb"); one output row each, in this order.
    audio_fs : float
        Audio sample rate, Hz (at most ``channel_fs``).
    squelch_db : float, None, or a sequence of them
        Power squelch threshold per channel, dB of mean |x|^2 in the channel
        (a scalar applies to every channel; None: no squelch).
    n_channels : int or None
        Channelizer size, a power of two from 2 to 4096. None: the largest
        that holds every channel's band and keeps ``channel_fs >= audio_fs``.
    stopband_db : float
        Channelizer prototype stopband attenuation, dB.
    oversample : int
        2 (default): the channelizer's channels at twice their spacing, flat
        to half a spacing either side; 1: critically sampled, flat to 0.4 of
        a spacing, half the channel rate (half the work per channel) for
        channels that fit.
    bandwidth_hz, deviation_hz, tau_us, cw_pitch_hz
        As for ``Receiver`` (per-mode defaults), shared by all channels.

    Attributes: the parameters, ``spacing_hz``, ``channel_fs``, ``rows``
    (the channelizer row of each channel); ``is_open(k)``: channel k's
    squelch state.

    Example
    -------
    >>> import numpy as np
    >>> bank = ReceiverBank("nbfm", 1_600_000, [-50_000, 0, 25_000, 100_000], squelch_db=-40)
    >>> bank.n_channels, bank.channel_fs
    (64, 50000.0)
    >>> bank.process(np.zeros(160_000, np.complex64)).shape
    (4, 4800)
    """

    def __init__(self, mode: str, fs: float, offsets_hz: Sequence[float] | npt.NDArray[np.floating], *, audio_fs: float = 48_000.0,
                 squelch_db: float | None | Sequence[float | None] = None, n_channels: int | None = None,
                 stopband_db: float = 70.0, oversample: int = 2, bandwidth_hz: float | None = None,
                 deviation_hz: float | None = None,
                 tau_us: float | None | _Default = DEFAULT, cw_pitch_hz: float = 700.0) -> None:
        index = _mode_index(mode)
        offsets = [float(f) for f in np.atleast_1d(np.asarray(offsets_hz, dtype=np.float64))]
        if np.ndim(offsets_hz) != 1 or len(offsets) == 0:
            raise ValueError(f"offsets_hz must be a non-empty sequence of frequencies, got {offsets_hz!r}")
        squelch = _per_channel("squelch_db", squelch_db, len(offsets))
        bw, dev, tau_default = _DEFAULTS[mode]
        bandwidth = bw if bandwidth_hz is None else float(bandwidth_hz)
        fs = float(fs)
        if not (fs > 0.0 and math.isfinite(fs)):
            raise ValueError(f"fs must be finite and > 0, got {fs!r}")
        if oversample not in (1, 2):
            raise ValueError(f"oversample must be 1 or 2, got {oversample!r}")
        if n_channels is None:
            n_channels = _choose_channels(mode, fs, offsets, float(audio_fs), bandwidth, oversample)
        tau_given = tau_us is not DEFAULT
        tau = _opt(tau_us) if tau_given else math.nan  # type: ignore[arg-type]
        self._native = _native.ReceiverBank(index, fs, int(n_channels), float(audio_fs), _opt(bandwidth_hz),
                                            _opt(deviation_hz), tau, tau_given, float(cw_pitch_hz),
                                            float(stopband_db))
        if oversample != 2:
            self._native.set_oversample(int(oversample))
        rows = [self._native.add_channel(k, f, _opt(s)) for k, (f, s) in enumerate(zip(offsets, squelch))]
        self.mode = mode
        self.fs = fs
        self.offsets_hz = tuple(offsets)
        self.audio_fs = float(audio_fs)
        self.squelch_db = tuple(None if s is None else float(s) for s in squelch)
        self.n_channels = int(n_channels)
        self.stopband_db = float(stopband_db)
        self.oversample = int(oversample)
        self.bandwidth_hz = bandwidth
        self.deviation_hz = dev if deviation_hz is None else float(deviation_hz)
        self.tau_us = tau_default if not tau_given else (None if tau_us is None else float(tau_us))  # type: ignore[arg-type]
        self.cw_pitch_hz = float(cw_pitch_hz)
        self.spacing_hz = fs / self.n_channels
        self.channel_fs = self._native.channel_fs()
        self.rows = tuple(rows)

    def is_open(self, channel: int) -> bool:
        """Channel ``channel``'s squelch state after the last sample (True without a squelch)."""
        return self._native.is_open(int(channel))

    def process(self, iq: np.ndarray) -> np.ndarray:
        """complex64 at fs in; the audio samples it completes, float32, shape
        (len(offsets_hz), n): the same n for every channel."""
        return self._native.process(iq)

    def __len__(self) -> int:
        return len(self.offsets_hz)

    def __repr__(self) -> str:
        return (f"ReceiverBank({self.mode!r}, fs={self.fs!r}, offsets_hz=<{len(self.offsets_hz)} channels>, "
                f"audio_fs={self.audio_fs!r}, n_channels={self.n_channels!r}, stopband_db={self.stopband_db!r}, "
                f"oversample={self.oversample!r}, "
                f"bandwidth_hz={self.bandwidth_hz!r}, deviation_hz={self.deviation_hz!r}, tau_us={self.tau_us!r})")
