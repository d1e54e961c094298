"""PmDirectPhaseMod: agreement with the float32 model, block splits with
setters, the phase law and the setters."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from models.libm import cosf, sinf
from models.mod import PmDirectPhaseModel
from .helpers import NON_FINITE, odd_signal, run_events_both


f32 = np.float32

# (sample_rate, kp_rad_per_unit, rf_hz, {position: [(setter, value)]})
MODEL_CASES = {
    "plain": (48000.0, 1.2, 5000.0, {}),
    "setters between blocks": (48000.0, 1.2, -5000.0,
                               {90: [("set_sensitivity", -40.0)], 180: [("set_gain", 0.25), ("set_sensitivity", 1e6)]}),
    "rf 0": (48000.0, 3.0, 0.0, {0: [("set_gain", -2.0)]}),
    "kp 0": (8000.0, 0.0, 1000.0, {}),
    "NaN sensitivity, then back": (48000.0, np.nan, 5000.0, {150: [("set_sensitivity", 0.5)]}),
    "NaN gain, then zero": (48000.0, 1.2, 5000.0, {0: [("set_gain", np.nan)], 150: [("set_gain", 0.0)]}),
    "rf above fs": (8000.0, 1.2, 13000.0, {}),
    "sample rate 0": (0.0, 1.2, 5000.0, {}),
    "sample rate inf": (np.inf, 1.2, 5000.0, {}),
}


@pytest.mark.parametrize("case", MODEL_CASES.values(), ids=MODEL_CASES.keys())
def test_matches_model(case, rng):
    fs, kp, rf, events = case
    x = odd_signal(rng, 300, NON_FINITE)
    got, want = run_events_both(lambda: halvo_sdr.PmDirectPhaseMod(fs, kp, rf),
                                lambda: PmDirectPhaseModel(fs, kp, rf), x, events)
    assert_same_bits_any_nan(got, want)
    if fs == 0:
        assert np.isnan(got.view(np.float32)).all()


def test_non_finite_input_spoils_only_its_own_sample(rng):
    x = rng.normal(0, 0.5, 64).astype(np.float32)
    clean = halvo_sdr.PmDirectPhaseMod(48000.0, 2.0, 3000.0).process(x)
    y = x.copy()
    y[[10, 20, 30]] = [np.nan, np.inf, -np.inf]
    out = halvo_sdr.PmDirectPhaseMod(48000.0, 2.0, 3000.0).process(y)
    assert np.isnan(out[[10, 20, 30]].view(np.float32)).all()
    keep = np.setdiff1d(np.arange(64), [10, 20, 30])
    assert_same_bits(out[keep], clean[keep])


def test_phase_is_kp_times_x_on_top_of_the_carrier(rng):
    fs, kp, rf = 48000.0, 2.0, 3000.0
    x = rng.uniform(-1.5, 1.5, 3000).astype(np.float32)
    y = halvo_sdr.PmDirectPhaseMod(fs, kp, rf).process(x)
    want = np.exp(1j * (kp * x.astype(np.float64) + 2 * np.pi * rf / fs * np.arange(1, 3001)))
    assert np.allclose(y, want, atol=2e-4)


@pytest.mark.parametrize("x", [0.3, -2.0, 1000.0, 1e6])
def test_rf_0_gives_gain_times_cos_sin_of_the_unreduced_phase(x):
    m = halvo_sdr.PmDirectPhaseMod(48000.0, 1.0, 0.0)
    m.set_gain(1.5)
    out = m.process(np.full(4, x, np.float32))
    phi = f32(x)
    assert np.all(out.real == cosf(phi) * f32(1.5)) and np.all(out.imag == sinf(phi) * f32(1.5))


def test_zero_sensitivity_gives_the_bare_carrier(rng):
    x = rng.normal(0, 5, 1500).astype(np.float32)
    carrier = halvo_sdr.PmDirectPhaseMod(48000.0, 0.0, 2000.0).process(np.zeros(1500, np.float32))
    assert_same_bits(halvo_sdr.PmDirectPhaseMod(48000.0, 0.0, 2000.0).process(x), carrier)
    m = halvo_sdr.PmDirectPhaseMod(48000.0, 4.0, 2000.0)
    assert not np.array_equal(m.process(x[:700]), carrier[:700])
    m.set_sensitivity(0.0)
    assert_same_bits(m.process(x[700:]), carrier[700:])


def test_carrier_runs_on_through_zero_gain(rng):
    x = rng.normal(0, 0.5, 900).astype(np.float32)
    ref = halvo_sdr.PmDirectPhaseMod(48000.0, 1.0, 2500.0)
    want = [ref.process(x[:300]), ref.process(x[300:600]), ref.process(x[600:])]
    m = halvo_sdr.PmDirectPhaseMod(48000.0, 1.0, 2500.0)
    assert_same_bits(m.process(x[:300]), want[0])
    m.set_gain(0.0)
    assert np.all(m.process(x[300:600]) == 0)
    m.set_gain(1.0)
    assert_same_bits(m.process(x[600:]), want[2])
