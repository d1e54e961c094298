"""Inputs and checks shared by the demodulator tests."""
import numpy as np

NAN, INF = float("nan"), float("inf")
SIGNAL_KINDS = ("noise", "specials", "nonfinite")


def iq_signal(kind, n=300, seed=0):
    """Seeded complex64 test input.

    noise: complex Gaussian. specials: noise with signed zeros and subnormals
    sprinkled in. nonfinite: noise with an infinity at 100 and a NaN at 200,
    so the samples before them are checked too.
    """
    rng = np.random.default_rng(seed)
    x = (rng.normal(size=n) + 1j * rng.normal(size=n)).astype(np.complex64)
    if kind == "specials":
        x[::7] = complex(1e-40, -1e-42)
        x[3::11] = complex(-0.0, 0.0)
        x[5::13] = 0
        x[9::17] *= np.float32(1e-39)
    elif kind == "nonfinite":
        x[100] = complex(INF, 0.0)
        x[200] = complex(0.5, NAN)
    return x


def tone(freq_hz, fs, n, amplitude=1.0, phase=0.0):
    """amplitude * e^(j(2 pi freq t + phase)) as complex64, computed in float64."""
    t = np.arange(n) / fs
    return (amplitude * np.exp(1j * (2 * np.pi * freq_hz * t + phase))).astype(np.complex64)


def tone_amplitude(y, freq_hz, fs):
    """Amplitude of the real sinusoid at freq_hz in y (a whole number of periods helps)."""
    t = np.arange(len(y)) / fs
    return 2 * abs(np.mean(y * np.exp(-2j * np.pi * freq_hz * t)))
