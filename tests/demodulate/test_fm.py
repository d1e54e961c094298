"""FmQuadratureDemod: phase discriminator, 1 / max(dev_hz, 1), low-pass pair."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from .demod_cases import INF, NAN, SIGNAL_KINDS, iq_signal, tone
from models.demod import fm_quadrature_demod


# (fs, dev_hz, audio_bw_hz)
PARAMS = [
    (48000.0, 5000.0, 15000.0),
    (48000.0, 1.0, 3000.0),
    (48000.0, 0.0, 3000.0),     # gain 1
    (48000.0, -3.0, 3000.0),
    (48000.0, NAN, 3000.0),
    (48000.0, INF, 3000.0),     # gain 0
    (48000.0, 1.5, 3000.0),     # just above the floor
    (48000.0, 1e-45, 3000.0),   # subnormal deviation
    (0.0, 5000.0, 3000.0),      # all NaN
    (48000.0, 5000.0, 0.0),
    (48000.0, 5000.0, -300.0),
]


@pytest.mark.parametrize("fs, dev, bw", PARAMS)
@pytest.mark.parametrize("kind", SIGNAL_KINDS)
def test_matches_model(fs, dev, bw, kind):
    x = iq_signal(kind, seed=14)
    assert_same_bits_any_nan(halvo_sdr.FmQuadratureDemod(fs, dev, bw).process(x), fm_quadrature_demod(x, fs, dev, bw))


def test_zero_sample_rate_gives_all_nan():
    out = halvo_sdr.FmQuadratureDemod(0.0, 5000.0, 3000.0).process(tone(100.0, 8000.0, 50))
    assert out.shape == (50,) and np.isnan(out).all()


@pytest.mark.parametrize("dev", [1.0, 5000.0])
@pytest.mark.parametrize("omega", [0.3, -1.2, 2.5])
def test_steady_rotation_settles_at_omega_over_dev(omega, dev):
    x = np.exp(1j * omega * np.arange(2000)).astype(np.complex64)
    y = halvo_sdr.FmQuadratureDemod(48000.0, dev, 3000.0).process(x)
    # Not normalised by fs; FastAtan2 is within about 0.0015 rad.
    assert y[-1] * dev == pytest.approx(omega, abs=0.002)
    assert np.ptp(y[-500:]) * dev < 1e-5


@pytest.mark.parametrize("dev", [0.0, -3.0, NAN, 0.5])
def test_deviation_at_most_one_acts_as_one(dev):
    x = iq_signal("noise", 300, seed=6)
    assert_same_bits(halvo_sdr.FmQuadratureDemod(48000.0, dev, 3000.0).process(x),
                     halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process(x))


def test_infinite_deviation_gives_zeros():
    y = halvo_sdr.FmQuadratureDemod(48000.0, INF, 3000.0).process(iq_signal("noise", 300, seed=6))
    assert (y == 0).all()


def test_first_sample_is_compared_with_one():
    # Prepending 1 + 0j feeds a zero into the filter and changes nothing else.
    x = iq_signal("noise", 300, seed=7)
    y = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process(x)
    shifted = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process(np.concatenate([[1 + 0j], x]).astype(np.complex64))
    assert shifted[0] == 0
    assert_same_bits(shifted[1:], y)
    assert y[0] != 0


def test_constant_one_gives_zeros():
    assert (halvo_sdr.FmQuadratureDemod(48000.0, 5000.0, 3000.0).process(np.ones(100, np.complex64)) == 0).all()


def test_output_does_not_depend_on_amplitude_until_epsilon():
    x = tone(1000.0, 48000.0, 1000)
    ref = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process(x)
    for scale in (1000.0, 0.5):
        y = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process((x * np.float32(scale)).astype(np.complex64))
        np.testing.assert_allclose(y, ref, rtol=1e-4, atol=1e-6)
    # |x[n]| |x[n-1]| = 1e-10, far below the 1.2e-7 of FastAtan2: the steps shrink.
    weak = halvo_sdr.FmQuadratureDemod(48000.0, 1.0, 3000.0).process((x * np.float32(1e-5)).astype(np.complex64))
    assert abs(weak[-1]) < 0.1 * abs(ref[-1])


def test_nan_input_poisons_the_rest():
    x = tone(1000.0, 48000.0, 300)
    x[100] = complex(NAN, 0.0)
    y = halvo_sdr.FmQuadratureDemod(48000.0, 5000.0, 3000.0).process(x)
    assert np.isfinite(y[:100]).all() and np.isnan(y[100:]).all()
