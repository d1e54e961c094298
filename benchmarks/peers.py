"""The same jobs written the way a competent NumPy/SciPy user would write
them: vectorised per block, with every filter and oscillator state carried
from block to block (`sosfilt`/`lfilter` with `zi`, phases accumulated in
float64). They are the baseline the module is compared against; they match
the module's output closely but not to the bit.
"""
import numpy as np
from scipy import signal

TWO_PI = 2 * np.pi


def _biquad_pair_sos(fs, bw):
    w = TWO_PI * 0.9 * bw / fs
    c, s = np.cos(w), np.sin(w)
    alpha = s / np.sqrt(2)
    a0 = 1 + alpha
    b = np.array([(1 - c) / 2, 1 - c, (1 - c) / 2]) / a0
    a = np.array([1, -2 * c / a0, (1 - alpha) / a0])
    return np.vstack([np.r_[b, a], np.r_[b, a]])


class _Phase:
    """A carrier whose phase is carried between blocks."""

    def __init__(self, hz, fs):
        self.step = TWO_PI * hz / fs
        self.phase = 0.0

    def next(self, n):
        ph = self.phase + self.step * np.arange(1, n + 1)
        self.phase = (self.phase + self.step * n) % TWO_PI
        return ph


class CwEnvelopeDemod:
    def __init__(self, sample_rate, tone_hz, env_bw_hz):
        p = np.exp(-TWO_PI * max(env_bw_hz, 1.0) / sample_rate)
        self.b, self.a = [1 - p], [1, -p]
        self.zi = np.zeros(1)
        self.gain = 1.0

    def process(self, iq):
        y, self.zi = signal.lfilter(self.b, self.a, np.abs(iq), zi=self.zi)
        return (self.gain * y).astype(np.float32)


class AmEnvelopeDemod:
    def __init__(self, fs, audio_bw_hz):
        self.sos = _biquad_pair_sos(fs, audio_bw_hz)
        self.zi = np.zeros((2, 2))
        r = min(max(1 - TWO_PI * 2 / fs, 0.0), 0.9999)
        self.dc_b, self.dc_a, self.dc_zi = [1, -1], [1, -r], np.zeros(1)

    def process(self, iq):
        p = iq.real.astype(np.float64) ** 2 + iq.imag.astype(np.float64) ** 2
        y, self.zi = signal.sosfilt(self.sos, p, zi=self.zi)
        m = np.sqrt(np.maximum(y, 0))
        out, self.dc_zi = signal.lfilter(self.dc_b, self.dc_a, m, zi=self.dc_zi)
        return out.astype(np.float32)


class SsbProductDemod:
    def __init__(self, fs, bfo_hz, audio_bw_hz):
        self.bfo = _Phase(bfo_hz, fs)
        self.sos = _biquad_pair_sos(fs, audio_bw_hz)
        self.zi = np.zeros((2, 2))
        r = min(max(1 - TWO_PI * 2 / fs, 0.0), 0.9999)
        self.dc_b, self.dc_a, self.dc_zi = [1, -1], [1, -r], np.zeros(1)

    def process(self, iq):
        v = (iq * np.exp(-1j * self.bfo.next(len(iq)))).real
        y, self.zi = signal.sosfilt(self.sos, v, zi=self.zi)
        out, self.dc_zi = signal.lfilter(self.dc_b, self.dc_a, y, zi=self.dc_zi)
        return out.astype(np.float32)


class FmQuadratureDemod:
    def __init__(self, fs, dev_hz, audio_bw_hz, scale=None):
        self.scale = 1.0 / max(dev_hz, 1.0) if scale is None else scale
        self.sos = _biquad_pair_sos(fs, audio_bw_hz)
        self.zi = np.zeros((2, 2))
        self.prev = np.complex64(1)

    def process(self, iq):
        if len(iq) == 0:
            return np.zeros(0, np.float32)
        shifted = np.concatenate(([self.prev], iq[:-1]))
        self.prev = iq[-1]
        theta = np.angle(iq * np.conj(shifted))
        y, self.zi = signal.sosfilt(self.sos, theta * self.scale, zi=self.zi)
        return y.astype(np.float32)


class PmQuadratureDemod(FmQuadratureDemod):
    def __init__(self, fs, k, audio_bw_hz):
        super().__init__(fs, 1.0, audio_bw_hz, scale=k)


class AmDsbMod:
    def __init__(self, fs, rf_hz, carrier_level, modulation_index):
        self.carrier = _Phase(rf_hz, fs)
        self.level, self.index, self.gain = carrier_level, modulation_index, 1.0

    def process(self, audio):
        env = (self.level + self.index * audio) * self.gain
        return (env * np.exp(1j * self.carrier.next(len(audio)))).astype(np.complex64)


class CwKeyedMod:
    """Keying envelope through one smoothing pole (rise and fall equal; a
    data-dependent pole has no vectorised NumPy form)."""

    def __init__(self, sample_rate, tone_hz, rise_ms, fall_ms):
        a = np.exp(-1.0 / (max(rise_ms, 0.1) * 1e-3 * sample_rate))
        self.b, self.a, self.zi = [1 - a], [1, -a], np.zeros(1)
        self.tone = _Phase(tone_hz, sample_rate)
        self.gain = 1.0

    def process(self, audio):
        env, self.zi = signal.lfilter(self.b, self.a, np.clip(audio, 0, 1), zi=self.zi)
        return (self.gain * env * np.exp(1j * self.tone.next(len(audio)))).astype(np.complex64)


class SsbPhasingMod:
    def __init__(self, fs, audio_bw_hz, audio_if_hz, rf_hz, usb):
        self.sos = _biquad_pair_sos(fs, audio_bw_hz)
        self.zi_i, self.zi_q = np.zeros((2, 2)), np.zeros((2, 2))
        self.ifo, self.rf = _Phase(audio_if_hz, fs), _Phase(rf_hz, fs)
        self.sign = 1.0 if usb else -1.0

    def process(self, audio):
        ph = self.ifo.next(len(audio))
        i, self.zi_i = signal.sosfilt(self.sos, audio * np.cos(ph), zi=self.zi_i)
        q, self.zi_q = signal.sosfilt(self.sos, audio * np.sin(ph), zi=self.zi_q)
        return ((i + 1j * self.sign * q) * np.exp(1j * self.rf.next(len(audio)))).astype(np.complex64)


class FmPhaseAccumMod:
    def __init__(self, sample_rate, deviation_hz, rf_hz):
        self.k = TWO_PI * deviation_hz / sample_rate
        self.carrier = _Phase(rf_hz, sample_rate)
        self.phase = 0.0
        self.gain = 1.0

    def process(self, audio):
        ph = self.phase + np.cumsum(audio * self.k, dtype=np.float64)
        if len(ph):
            self.phase = ph[-1] % TWO_PI
        return (self.gain * np.exp(1j * (ph + self.carrier.next(len(audio))))).astype(np.complex64)


class PmDirectPhaseMod:
    def __init__(self, sample_rate, kp_rad_per_unit, rf_hz):
        self.kp = kp_rad_per_unit
        self.carrier = _Phase(rf_hz, sample_rate)
        self.gain = 1.0

    def process(self, audio):
        return (self.gain * np.exp(1j * (self.kp * audio + self.carrier.next(len(audio))))).astype(np.complex64)
