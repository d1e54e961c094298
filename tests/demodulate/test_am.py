"""AmEnvelopeDemod: exact and approximate envelope, low-pass pair, DC blocker."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits_any_nan
from .demod_cases import INF, NAN, SIGNAL_KINDS, iq_signal, tone, tone_amplitude
from models.demod import am_envelope_demod, lowpass_pair


f32 = np.float32

# (fs, audio_bw_hz)
PARAMS = [
    (48000.0, 5000.0),
    (8000.0, 3000.0),
    (0.0, 3000.0),      # NaN coefficients: all NaN
    (0.0, 0.0),
    (48000.0, 0.0),     # a section that outputs 0
    (48000.0, -300.0),  # unstable section
    (NAN, 3000.0),
    (-8000.0, 3000.0),
    (INF, 3000.0),
    (10.0, 3000.0),     # DC blocker pole clamped to 0, cut-off far above fs / 2
]


def keyed_carrier(n_on=400, n_off=400, fs=8000.0):
    """A rotating carrier switched off abruptly."""
    x = tone(700.0, fs, n_on + n_off)
    x[n_on:] = 0
    return x


@pytest.mark.parametrize("abs_approx", [False, True], ids=["exact", "approx"])
@pytest.mark.parametrize("fs, bw", PARAMS)
@pytest.mark.parametrize("kind", [*SIGNAL_KINDS, "keyed"])
def test_matches_model(fs, bw, abs_approx, kind):
    x = keyed_carrier() if kind == "keyed" else iq_signal(kind, seed=11)
    got = halvo_sdr.AmEnvelopeDemod(fs, bw, abs_approx).process(x)
    assert_same_bits_any_nan(got, am_envelope_demod(x, fs, bw, abs_approx))


@pytest.mark.parametrize("abs_approx", [False, True])
def test_zero_sample_rate_gives_all_nan(abs_approx):
    out = halvo_sdr.AmEnvelopeDemod(0.0, 3000.0, abs_approx).process(iq_signal("noise", 50))
    assert out.shape == (50,) and np.isnan(out).all()


def test_keyed_carrier_never_gives_nan():
    fs, bw = 8000.0, 3000.0
    x = keyed_carrier(fs=fs)
    # The fault is real: the pair's output dips below zero once the carrier stops,
    # and a plain square root there would be NaN.
    lp = lowpass_pair(f32(fs), f32(bw))
    assert min(lp(f32(abs(v) ** 2)) for v in x) < 0
    out = halvo_sdr.AmEnvelopeDemod(fs, bw).process(x)
    assert np.isfinite(out).all()
    # ...and the output keeps working afterwards: a second burst is demodulated too.
    again = halvo_sdr.AmEnvelopeDemod(fs, bw)
    y = again.process(np.concatenate([x, x]))
    assert np.isfinite(y).all() and np.abs(y[800:1200]).max() > 0.1


@pytest.mark.parametrize("abs_approx", [False, True])
def test_nan_input_propagates(abs_approx):
    x = iq_signal("noise", 300, seed=3)
    x[120] = complex(NAN, 0.0)
    out = halvo_sdr.AmEnvelopeDemod(8000.0, 3000.0, abs_approx).process(x)
    assert np.isfinite(out[:120]).all() and np.isnan(out[120:]).all()


@pytest.mark.parametrize(
    "abs_approx, carrier_hz, carrier_phase, scale",
    [
        (False, 1000.0, 0.0, 1.0),           # exact: the rotation does not matter
        (False, -2500.0, 0.3, 1.0),
        (True, 0.0, 0.0, 0.9482),            # approx: real axis weighted 0.9482
        (True, 0.0, np.pi / 2, 0.392),       # imaginary axis weighted 0.392
    ],
)
def test_recovers_modulating_tone_without_carrier(abs_approx, carrier_hz, carrier_phase, scale):
    fs, bw, audio_hz, depth = 48000.0, 5000.0, 400.0, 0.5
    n = 48000
    t = np.arange(n) / fs
    envelope = 1.0 + depth * np.cos(2 * np.pi * audio_hz * t)
    x = (envelope * tone(carrier_hz, fs, n, phase=carrier_phase)).astype(np.complex64)
    y = halvo_sdr.AmEnvelopeDemod(fs, bw, abs_approx).process(x)[-12000:]  # settled: 100 periods
    assert tone_amplitude(y, audio_hz, fs) == pytest.approx(scale * depth, rel=0.01)
    assert abs(np.mean(y)) < 1e-3 * scale  # the carrier level is gone


def test_exact_constant_carrier_rises_then_decays():
    a = 0.7
    y = halvo_sdr.AmEnvelopeDemod(48000.0, 3000.0).process(np.full(40000, a, dtype=np.complex64))
    assert abs(y[0]) < 0.05 * a                 # the low-pass starts from zero
    assert y[:200].max() == pytest.approx(a, rel=0.1)
    assert abs(y[-1]) < 1e-4                    # the DC blocker removes the level


def test_approx_ripples_on_rotating_carrier_exact_does_not():
    # A constant-magnitude carrier rotating at f. 0.9482|cos| + 0.392|sin| has
    # period pi, so the approximation ripples at 2 f (then 4 f, ...); the exact
    # estimator sees a constant magnitude.
    fs, f = 48000.0, 1000.0
    x = tone(f, fs, 24000)
    tail = slice(-480, None)  # ten rotations, long after the start
    exact = halvo_sdr.AmEnvelopeDemod(fs, 15000.0, False).process(x)[tail]
    approx = halvo_sdr.AmEnvelopeDemod(fs, 15000.0, True).process(x)[tail]
    assert np.ptp(exact) < 1e-3
    assert tone_amplitude(approx, 2 * f, fs) == pytest.approx(0.236, rel=0.05)
