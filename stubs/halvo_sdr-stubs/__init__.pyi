"""Exact, stateful software-radio modulators and demodulators for NumPy sample blocks.

Demodulators take complex baseband (complex64) and return audio (float32);
modulators take audio or keying (float32) and return complex baseband
(complex64). Every object keeps its filter and oscillator state between
`process` calls, so a stream fed block by block gives bit for bit what one
call over the whole stream gives. Frequencies are in hertz, times in
milliseconds. Values are not validated.
"""

from typing import Final, SupportsFloat, SupportsIndex, TypeAlias, final

import numpy as np
import numpy.typing as npt

__all__ = [
    "CwEnvelopeDemod",
    "AmEnvelopeDemod",
    "SsbProductDemod",
    "FmQuadratureDemod",
    "PmQuadratureDemod",
    "AmDsbMod",
    "CwKeyedMod",
    "FmPhaseAccumMod",
    "PmDirectPhaseMod",
    "SsbPhasingMod",
]

# A number argument is converted like float(x) for anything with __float__ or
# __index__: int, float, numpy.float32 and the like (not str).
_Number: TypeAlias = SupportsFloat | SupportsIndex
# A flag is exactly a Python bool or a NumPy bool; int 0/1 is refused.
_Flag: TypeAlias = bool | np.bool_
# One-dimensional, contiguous sample blocks.
_IqBlock: TypeAlias = npt.NDArray[np.complex64]
_AudioBlock: TypeAlias = npt.NDArray[np.float32]

# ---------------------------------------------------------------- demodulators

@final
class AmEnvelopeDemod:
    """AM envelope detector: complex64 baseband in, float32 audio out.

    abs_approx=False: power -> low-pass pair -> square root -> DC blocker.
    abs_approx=True: 0.9482*|re| + 0.392*|im| -> low-pass pair -> DC blocker.
    fs and audio_bw_hz in Hz; the low-pass is 6 dB down at 0.9*audio_bw_hz.
    """

    def __new__(cls, fs: _Number, audio_bw_hz: _Number, abs_approx: _Flag = False) -> AmEnvelopeDemod: ...
    def process(self, iq: _IqBlock) -> _AudioBlock:
        """Demodulate one block; returns audio of the same length."""

@final
class CwEnvelopeDemod:
    """CW (on-off keying) envelope: |x| smoothed by a one-pole low-pass, times gain.

    sample_rate and env_bw_hz in Hz (env_bw_hz below 1 Hz counts as 1 Hz);
    tone_hz is accepted and ignored.
    """

    def __new__(cls, sample_rate: _Number, tone_hz: _Number, env_bw_hz: _Number) -> CwEnvelopeDemod: ...
    def set_gain(self, g: _Number) -> None:
        """Output gain from the next sample on; the envelope keeps its value."""

    def process(self, iq: _IqBlock) -> _AudioBlock:
        """Envelope of one block; returns float32 values of the same length."""

@final
class SsbProductDemod:
    """Product detector: Re(x * conj(BFO)) -> low-pass pair -> DC blocker.

    fs, bfo_hz and audio_bw_hz in Hz. Only the real part is kept, so both
    sidebands around bfo_hz land on the same audio frequency.
    """

    def __new__(cls, fs: _Number, bfo_hz: _Number, audio_bw_hz: _Number) -> SsbProductDemod: ...
    def process(self, iq: _IqBlock) -> _AudioBlock:
        """Demodulate one block; returns audio of the same length."""

@final
class FmQuadratureDemod:
    """FM discriminator: phase step per sample (radians) / max(dev_hz, 1), low-passed.

    The output is radians per sample divided by dev_hz: a steady offset of
    f Hz reads (2*pi*f/fs)/dev_hz. fs, dev_hz and audio_bw_hz in Hz.
    """

    def __new__(cls, fs: _Number, dev_hz: _Number, audio_bw_hz: _Number) -> FmQuadratureDemod: ...
    def process(self, iq: _IqBlock) -> _AudioBlock:
        """Demodulate one block; returns audio of the same length."""

@final
class PmQuadratureDemod:
    """PM discriminator: k times the phase step per sample (radians), low-passed.

    The output is the first difference of the phase, not the phase itself.
    fs and audio_bw_hz in Hz; k per radian.
    """

    def __new__(cls, fs: _Number, k: _Number, audio_bw_hz: _Number) -> PmQuadratureDemod: ...
    def process(self, iq: _IqBlock) -> _AudioBlock:
        """Demodulate one block; returns audio of the same length."""

# ------------------------------------------------------------------ modulators

@final
class AmDsbMod:
    """AM double sideband: gain * (carrier_level + modulation_index * x) on a carrier at rf_hz.

    fs and rf_hz in Hz; carrier_level and modulation_index linear.
    """

    def __new__(cls, fs: _Number, rf_hz: _Number, carrier_level: _Number, modulation_index: _Number) -> AmDsbMod: ...
    def set_gain(self, g: _Number) -> None:
        """Output gain (after the clamp) from the next sample on."""

    def set_clamp(self, on: _Flag) -> None:
        """Limit carrier_level + modulation_index * x to -1..+1 (off by default)."""

    def process(self, audio: _AudioBlock) -> _IqBlock:
        """Modulate one block of audio; returns complex baseband of the same length."""

@final
class CwKeyedMod:
    """Keyed tone at tone_hz whose amplitude follows the keying (0..1) with exponential ramps.

    sample_rate and tone_hz in Hz; rise_ms and fall_ms are time constants in
    milliseconds (at least 0.1 ms).
    """

    def __new__(cls, sample_rate: _Number, tone_hz: _Number, rise_ms: _Number, fall_ms: _Number) -> CwKeyedMod: ...
    def set_gain(self, g: _Number) -> None:
        """Output gain from the next call on; envelope and tone phase run on."""

    def process(self, audio: _AudioBlock) -> _IqBlock:
        """Input: keying envelope 0..1 as float32 array."""

@final
class SsbPhasingMod:
    """Single sideband by the two-oscillator (Weaver) phasing method.

    fs, audio_bw_hz, audio_if_hz and rf_hz in Hz. An audio tone f_a leaves at
    rf_hz + audio_if_hz - f_a with usb=True (the band reversed) and at
    rf_hz - audio_if_hz + f_a with usb=False.
    """

    def __new__(cls, fs: _Number, audio_bw_hz: _Number, audio_if_hz: _Number, rf_hz: _Number, usb: _Flag) -> SsbPhasingMod: ...
    def process(self, audio: _AudioBlock) -> _IqBlock:
        """Modulate one block of audio; returns complex baseband of the same length."""

@final
class FmPhaseAccumMod:
    """FM: instantaneous frequency rf_hz + deviation_hz * x, phase-continuous.

    sample_rate, deviation_hz (per unit of audio) and rf_hz in Hz.
    """

    def __new__(cls, sample_rate: _Number, deviation_hz: _Number, rf_hz: _Number) -> FmPhaseAccumMod: ...
    def set_deviation(self, hz: _Number) -> None:
        """Deviation in Hz per unit of audio from the next call on; no phase jump."""

    def set_gain(self, g: _Number) -> None:
        """Output magnitude from the next sample on."""

    def process(self, audio: _AudioBlock) -> _IqBlock:
        """Modulate one block of audio; returns complex baseband of the same length."""

@final
class PmDirectPhaseMod:
    """PM: gain * exp(j * kp_rad_per_unit * x) on a carrier at rf_hz.

    sample_rate and rf_hz in Hz; kp_rad_per_unit in radians per input unit.
    """

    def __new__(cls, sample_rate: _Number, kp_rad_per_unit: _Number, rf_hz: _Number) -> PmDirectPhaseMod: ...
    def set_gain(self, g: _Number) -> None:
        """Output magnitude from the next call on; the carrier runs on."""

    def set_sensitivity(self, kp: _Number) -> None:
        """Radians of phase per input unit from the next call on."""

    def process(self, audio: _AudioBlock) -> _IqBlock:
        """Modulate one block of audio; returns complex baseband of the same length."""
