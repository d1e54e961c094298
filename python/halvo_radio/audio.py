"""The audio stage of halvo_radio, and whole receivers and transmitters.

``Deemphasis`` and ``Preemphasis`` filter FM audio; ``PowerSquelch`` gates a
complex channel on its power; ``Agc`` levels audio; ``Receiver`` takes one
channel out of a wideband capture to audio, and ``Transmitter`` makes the
wideband signal of one channel from audio. Every object keeps its state
between calls: a stream fed in blocks gives, bit for bit, what one call over
the whole stream gives. docs/radio/audio.md gives the float32 order of
operations, docs/radio/receiver.md the stages of the receiver.
"""
from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

F32 = npt.NDArray[np.float32]
C64 = npt.NDArray[np.complex64]

from . import _native

__all__ = ["Deemphasis", "Preemphasis", "PowerSquelch", "Agc", "Receiver", "Transmitter", "MODES"]

#: The modes of Receiver and Transmitter, in the native layer's order.
MODES = ("am", "usb", "lsb", "cw", "nbfm", "wbfm", "pm")

# Per mode: channel bandwidth (Hz), deviation (Hz; radians for pm), de-emphasis (us).
_DEFAULTS = {
    "am": (10_000.0, None, None),
    "usb": (2_800.0, None, None),
    "lsb": (2_800.0, None, None),
    "cw": (500.0, None, None),
    "nbfm": (16_000.0, 5_000.0, 75.0),
    "wbfm": (200_000.0, 75_000.0, 75.0),
    "pm": (16_000.0, 1.0, None),
}


class _Default:
    def __repr__(self) -> str:
        return "<mode default>"


#: Marks an option left at its per-mode default.
DEFAULT = _Default()


def _mode_index(mode: str) -> int:
    if mode not in MODES:
        raise ValueError(f"mode must be one of {', '.join(repr(m) for m in MODES)}, got {mode!r}")
    return MODES.index(mode)


def _opt(value: float | None) -> float:
    return math.nan if value is None else float(value)


class Deemphasis:
    """First-order de-emphasis of float32 audio (FM broadcast and voice).

    Parameters
    ----------
    fs : float
        Sample rate, Hz (finite, > 0).
    tau_us : float
        Time constant, microseconds (75 in the Americas, 50 in Europe; 0
        passes the audio through).

    Example
    -------
    >>> import numpy as np
    >>> d = Deemphasis(48_000)
    >>> d.process(np.ones(4, np.float32)).dtype
    dtype('float32')
    """

    def __init__(self, fs: float, tau_us: float = 75.0) -> None:
        self._native = _native.Deemphasis(float(fs), float(tau_us))
        self.process = self._native.process  # type: ignore[method-assign]  # the native method itself: no Python frame per call
        self.fs = float(fs)
        self.tau_us = float(tau_us)

    def process(self, x: F32) -> F32:
        """float32 audio in, the same number of float32 samples out."""
        return self._native.process(x)

    def __repr__(self) -> str:
        return f"Deemphasis(fs={self.fs!r}, tau_us={self.tau_us!r})"


class Preemphasis:
    """First-order pre-emphasis of float32 audio, the inverse of ``Deemphasis``.

    Parameters
    ----------
    fs : float
        Sample rate, Hz (finite, > 0).
    tau_us : float
        Time constant, microseconds (0 passes the audio through).

    Example
    -------
    >>> import numpy as np
    >>> len(Preemphasis(48_000).process(np.zeros(10, np.float32)))
    10
    """

    def __init__(self, fs: float, tau_us: float = 75.0) -> None:
        self._native = _native.Preemphasis(float(fs), float(tau_us))
        self.process = self._native.process  # type: ignore[method-assign]  # the native method itself: no Python frame per call
        self.fs = float(fs)
        self.tau_us = float(tau_us)

    def process(self, x: F32) -> F32:
        """float32 audio in, the same number of float32 samples out."""
        return self._native.process(x)

    def __repr__(self) -> str:
        return f"Preemphasis(fs={self.fs!r}, tau_us={self.tau_us!r})"


class PowerSquelch:
    """Gates a complex64 channel on its mean power: zeros while closed.

    The gate opens when the mean |x|^2 (averaged over ``average_ms``) rises
    above ``threshold_db`` and closes when it falls ``hysteresis_db`` below;
    the gain ramps over ``attack_ms`` when opening and ``release_ms`` when
    closing, so the gating does not click.

    Parameters
    ----------
    fs : float
        Sample rate, Hz.
    threshold_db : float
        Opening level, dB of mean |x|^2 (0 dB = power 1.0, full scale).
    hysteresis_db : float
        How far below the threshold the gate closes, dB.
    attack_ms, release_ms : float
        Gain ramps when opening and closing, milliseconds.
    average_ms : float
        Averaging time of the power estimate, milliseconds.

    Attribute ``is_open``: the gate's state after the last sample processed.

    Example
    -------
    >>> import numpy as np
    >>> sq = PowerSquelch(48_000, -30.0)
    >>> y = sq.process(np.full(4800, 0.5, np.complex64))
    >>> sq.is_open
    True
    """

    def __init__(self, fs: float, threshold_db: float, *, hysteresis_db: float = 3.0, attack_ms: float = 1.0,
                 release_ms: float = 10.0, average_ms: float = 2.0) -> None:
        self._native = _native.PowerSquelch(float(fs), float(threshold_db), float(hysteresis_db), float(attack_ms),
                                            float(release_ms), float(average_ms))
        self.process = self._native.process  # type: ignore[method-assign]  # the native method itself: no Python frame per call
        self.fs = float(fs)
        self.threshold_db = float(threshold_db)
        self.hysteresis_db = float(hysteresis_db)
        self.attack_ms = float(attack_ms)
        self.release_ms = float(release_ms)
        self.average_ms = float(average_ms)

    @property
    def is_open(self) -> bool:
        return self._native.is_open()

    def process(self, iq: C64) -> C64:
        """complex64 in, the same samples gated (complex64) out."""
        return self._native.process(iq)

    def set_threshold(self, db: float) -> None:
        """A new opening level, dB, from the next sample on."""
        self._native.set_threshold(float(db))
        self.threshold_db = float(db)

    def __repr__(self) -> str:
        return (f"PowerSquelch(fs={self.fs!r}, threshold_db={self.threshold_db!r}, "
                f"hysteresis_db={self.hysteresis_db!r}, attack_ms={self.attack_ms!r}, "
                f"release_ms={self.release_ms!r}, average_ms={self.average_ms!r})")


class Agc:
    """Automatic gain control of float32 audio towards an output RMS, its
    peaks held within a ceiling.

    Parameters
    ----------
    fs : float
        Sample rate, Hz.
    target : float
        Output RMS the gain aims at, on steady signals whose crest factor
        (peak over RMS) is at most ``ceiling / target``; louder peaks are
        held at the ceiling instead.
    attack_ms : float
        Averaging time of the input's mean square, milliseconds.
    decay_ms : float
        How slowly the held level falls when the input gets quieter, ms.
    max_gain_db : float
        Largest gain, dB (keeps silence from being blown up to noise).
    ceiling : float
        Largest output magnitude: a held peak of the input (up at once,
        down over about ``decay_ms``) limits the gain, so an onset or a
        click never comes out beyond it.

    Example
    -------
    >>> import numpy as np
    >>> t = np.arange(48_000) / 48_000
    >>> y = Agc(48_000).process((0.01 * np.sin(2 * np.pi * 440 * t)).astype(np.float32))
    >>> 0.4 < float(np.sqrt(np.mean(y[24_000:] ** 2))) < 0.6
    True
    """

    def __init__(self, fs: float, *, target: float = 0.5, attack_ms: float = 10.0, decay_ms: float = 300.0,
                 max_gain_db: float = 60.0, ceiling: float = 1.0) -> None:
        self._native = _native.Agc(float(fs), float(target), float(attack_ms), float(decay_ms), float(max_gain_db),
                                   float(ceiling))
        self.process = self._native.process  # type: ignore[method-assign]  # the native method itself: no Python frame per call
        self.fs = float(fs)
        self.target = float(target)
        self.attack_ms = float(attack_ms)
        self.decay_ms = float(decay_ms)
        self.max_gain_db = float(max_gain_db)
        self.ceiling = float(ceiling)

    def process(self, x: F32) -> F32:
        """float32 audio in, the same number of float32 samples out."""
        return self._native.process(x)

    def __repr__(self) -> str:
        return (f"Agc(fs={self.fs!r}, target={self.target!r}, attack_ms={self.attack_ms!r}, "
                f"decay_ms={self.decay_ms!r}, max_gain_db={self.max_gain_db!r}, ceiling={self.ceiling!r})")


class Receiver:
    """A whole receiver: one channel of a wideband capture to audio.

    complex64 at ``fs`` in, float32 audio at ``audio_fs`` out. The stages are
    the library's own: channel selection at ``offset_hz`` (mix, filter,
    decimate), an optional power squelch, halvo_sdr's demodulator for the
    mode, a resampler to ``audio_fs``, then de-emphasis (FM) or AGC (AM, SSB,
    CW). FM at full deviation comes out near +-1; AM, SSB and CW are levelled
    to an RMS of 0.5. The first samples, while the filters settle, come out
    as zeros (counted from the start of the stream, so block splits never
    move them).

    Parameters
    ----------
    mode : str
        "am", "usb", "lsb", "cw", "nbfm", "wbfm" (mono broadcast FM) or "pm".
    fs : float
        Capture sample rate, Hz.
    offset_hz : float
        The channel's frequency in the capture, Hz; for "usb" and "lsb" the
        suppressed carrier (dial) frequency.
    audio_fs : float
        Audio sample rate, Hz.
    squelch_db : float or None
        Power squelch threshold, dB of mean |x|^2 in the channel; None: no
        squelch.
    bandwidth_hz : float, optional
        Channel bandwidth, Hz. Defaults: am 10 000, usb/lsb 2 800, cw 500,
        nbfm 16 000, wbfm 200 000, pm 16 000.
    deviation_hz : float, optional
        FM deviation at full scale, Hz (nbfm 5 000, wbfm 75 000); for "pm"
        the peak phase in radians (default 1).
    tau_us : float or None, optional
        De-emphasis time constant, microseconds (nbfm/wbfm default 75);
        None turns it off.
    cw_pitch_hz : float
        Pitch of the CW tone, Hz.

    Attribute ``is_open``: the squelch state (True without a squelch).

    Example
    -------
    >>> import numpy as np
    >>> tx = Transmitter("nbfm", 48_000, 240_000, 50_000)
    >>> t = np.arange(48_000) / 48_000
    >>> iq = tx.process((0.5 * np.sin(2 * np.pi * 1000 * t)).astype(np.float32))
    >>> rx = Receiver("nbfm", 240_000, 50_000)
    >>> audio = rx.process(iq)
    >>> audio.dtype, len(audio)
    (dtype('float32'), 48000)
    """

    def __init__(self, mode: str, fs: float, offset_hz: float, *, audio_fs: float = 48_000.0,
                 squelch_db: float | None = None, bandwidth_hz: float | None = None,
                 deviation_hz: float | None = None, tau_us: float | None | _Default = DEFAULT,
                 cw_pitch_hz: float = 700.0) -> None:
        index = _mode_index(mode)
        tau_given = tau_us is not DEFAULT
        tau = _opt(tau_us) if tau_given else math.nan  # type: ignore[arg-type]
        self._native = _native.Receiver(index, float(fs), float(offset_hz), float(audio_fs), _opt(squelch_db),
                                        _opt(bandwidth_hz), _opt(deviation_hz), tau, tau_given, float(cw_pitch_hz))
        self.process = self._native.process  # type: ignore[method-assign]  # the native method itself: no Python frame per call
        bw, dev, tau_default = _DEFAULTS[mode]
        self.mode = mode
        self.fs = float(fs)
        self.offset_hz = float(offset_hz)
        self.audio_fs = float(audio_fs)
        self.squelch_db = None if squelch_db is None else float(squelch_db)
        self.bandwidth_hz = bw if bandwidth_hz is None else float(bandwidth_hz)
        self.deviation_hz = dev if deviation_hz is None else float(deviation_hz)
        self.tau_us = tau_default if not tau_given else (None if tau_us is None else float(tau_us))  # type: ignore[arg-type]
        self.cw_pitch_hz = float(cw_pitch_hz)

    @property
    def is_open(self) -> bool:
        return self._native.is_open()

    @property
    def channel_fs(self) -> float:
        """Sample rate of the selected channel (before the audio resampler), Hz."""
        return self._native.channel_fs()

    def process(self, iq: C64) -> F32:
        """complex64 at fs in, the audio samples it completes (float32) out."""
        return self._native.process(iq)

    def __repr__(self) -> str:
        return (f"Receiver({self.mode!r}, fs={self.fs!r}, offset_hz={self.offset_hz!r}, audio_fs={self.audio_fs!r}, "
                f"squelch_db={self.squelch_db!r}, bandwidth_hz={self.bandwidth_hz!r}, "
                f"deviation_hz={self.deviation_hz!r}, tau_us={self.tau_us!r}, cw_pitch_hz={self.cw_pitch_hz!r})")


class Transmitter:
    """A whole transmitter: float32 audio to one channel of a wideband signal.

    float32 audio at ``audio_fs`` in (full scale +-1), complex64 at ``fs``
    out, the channel placed at ``offset_hz``: pre-emphasis (FM), a resampler
    to the modulation rate, halvo_sdr's modulator for the mode and an
    upconverter. The modes and per-mode options are those of ``Receiver``.

    Example
    -------
    >>> import numpy as np
    >>> tx = Transmitter("usb", 48_000, 240_000, -30_000)
    >>> tx.process(np.zeros(480, np.float32)).shape
    (2400,)
    """

    def __init__(self, mode: str, audio_fs: float, fs: float, offset_hz: float, *,
                 bandwidth_hz: float | None = None, deviation_hz: float | None = None,
                 tau_us: float | None | _Default = DEFAULT) -> None:
        index = _mode_index(mode)
        tau_given = tau_us is not DEFAULT
        tau = _opt(tau_us) if tau_given else math.nan  # type: ignore[arg-type]
        self._native = _native.Transmitter(index, float(audio_fs), float(fs), float(offset_hz), _opt(bandwidth_hz),
                                           _opt(deviation_hz), tau, tau_given)
        bw, dev, tau_default = _DEFAULTS[mode]
        self.mode = mode
        self.audio_fs = float(audio_fs)
        self.fs = float(fs)
        self.offset_hz = float(offset_hz)
        self.bandwidth_hz = bw if bandwidth_hz is None else float(bandwidth_hz)
        self.deviation_hz = dev if deviation_hz is None else float(deviation_hz)
        self.tau_us = tau_default if not tau_given else (None if tau_us is None else float(tau_us))  # type: ignore[arg-type]

    def process(self, audio: F32) -> C64:
        """float32 audio in, the complex64 samples at fs it completes out."""
        return self._native.process(audio)

    def __repr__(self) -> str:
        return (f"Transmitter({self.mode!r}, audio_fs={self.audio_fs!r}, fs={self.fs!r}, "
                f"offset_hz={self.offset_hz!r}, bandwidth_hz={self.bandwidth_hz!r}, "
                f"deviation_hz={self.deviation_hz!r}, tau_us={self.tau_us!r})")
