"""PmQuadratureDemod: phase discriminator, times k, low-pass pair."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from .demod_cases import INF, NAN, SIGNAL_KINDS, iq_signal, tone
from models.demod import pm_quadrature_demod


# (fs, k, audio_bw_hz)
PARAMS = [
    (48000.0, 1.0, 3000.0),
    (48000.0, 2.5, 15000.0),
    (48000.0, 0.0, 3000.0),
    (48000.0, -0.7, 3000.0),
    (48000.0, NAN, 3000.0),
    (48000.0, INF, 3000.0),
    (48000.0, 1e-45, 3000.0),
    (0.0, 1.0, 3000.0),       # all NaN
    (48000.0, 1.0, 0.0),
    (48000.0, 1.0, -300.0),
]


@pytest.mark.parametrize("fs, k, bw", PARAMS)
@pytest.mark.parametrize("kind", SIGNAL_KINDS)
def test_matches_model(fs, k, bw, kind):
    x = iq_signal(kind, seed=15)
    assert_same_bits_any_nan(halvo_sdr.PmQuadratureDemod(fs, k, bw).process(x), pm_quadrature_demod(x, fs, k, bw))


def test_zero_sample_rate_gives_all_nan():
    out = halvo_sdr.PmQuadratureDemod(0.0, 1.0, 3000.0).process(tone(100.0, 8000.0, 50))
    assert out.shape == (50,) and np.isnan(out).all()


def pm_signal(n=3000, fs=48000.0):
    """A carrier phase-modulated by two tones."""
    t = np.arange(n) / fs
    phase = 0.8 * np.sin(2 * np.pi * 300 * t) + 0.3 * np.sin(2 * np.pi * 1100 * t + 1.0)
    return np.exp(1j * (2 * np.pi * 2000 * t + phase)).astype(np.complex64)


@pytest.mark.parametrize("k", [2.5, -0.7, 1e3])
def test_equals_fm_with_unit_deviation_times_k(k):
    x = pm_signal()
    pm = halvo_sdr.PmQuadratureDemod(48000.0, k, 3000.0).process(x)
    fm = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process(x)
    np.testing.assert_allclose(pm, fm * np.float32(k), rtol=1e-5, atol=1e-6 * abs(k) * np.abs(fm).max())


def test_negative_k_flips_the_sign_and_zero_k_gives_zeros():
    x = pm_signal()
    y = halvo_sdr.PmQuadratureDemod(48000.0, 2.0, 3000.0).process(x)
    assert np.array_equal(halvo_sdr.PmQuadratureDemod(48000.0, -2.0, 3000.0).process(x), -y)
    assert (halvo_sdr.PmQuadratureDemod(48000.0, 0.0, 3000.0).process(x) == 0).all()
    assert np.abs(y).max() > 0.01


@pytest.mark.parametrize("k", [1.0, -3.0])
def test_phase_jump_gives_the_pairs_impulse_response(k):
    # A constant phase offset: only the first sample (compared with 1 + 0j) has a
    # phase step, so the output is the pair's impulse response scaled by k * delta.
    # A jump of delta later in a stream gives the same response from the jump on.
    delta, n = 0.7, 2000
    offset = np.full(n, np.exp(1j * delta), dtype=np.complex64)
    y = halvo_sdr.PmQuadratureDemod(48000.0, k, 3000.0).process(offset)
    jump = np.concatenate([np.ones(10), offset]).astype(np.complex64)
    later = halvo_sdr.PmQuadratureDemod(48000.0, k, 3000.0).process(jump)
    assert (later[:10] == 0).all()
    assert_same_bits(later[10:], y)
    # The pair has unit gain at DC, so its impulse response sums to 1.
    assert np.sum(y, dtype=np.float64) == pytest.approx(k * delta, abs=0.0015 * abs(k))
    assert abs(y[-1]) < 1e-6 * abs(k)
