"""AmDsbMod: agreement with the float32 model, block splits, envelope and gain."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from models.mod import AmDsbModel
from .helpers import NON_FINITE, odd_signal, run_events_both


f32 = np.float32

# (fs, rf_hz, carrier_level, modulation_index, {position: [(setter, value)]})
MODEL_CASES = {
    "plain": (48000.0, 1200.0, 1.0, 0.5, {}),
    "clamp on, gain up later": (48000.0, 1200.0, 0.5, 1.0, {0: [("set_clamp", True)], 150: [("set_gain", 2.5)]}),
    "clamp toggled": (44100.0, -7000.0, 0.3, 2.0, {0: [("set_clamp", True)], 100: [("set_clamp", False)]}),
    "rf 0": (48000.0, 0.0, 1.0, 0.8, {}),
    "rf above fs": (8000.0, 11000.0, 0.7, 0.3, {}),
    "negative gain and index": (48000.0, 3000.0, -0.2, -1.5, {0: [("set_gain", -0.75)]}),
    "NaN gain, then zero": (48000.0, 3000.0, 1.0, 1.0, {0: [("set_gain", np.nan)], 120: [("set_gain", 0.0)]}),
    "subnormal level": (48000.0, 500.0, 1e-40, 1e-38, {}),
    "fs 0": (0.0, 1000.0, 1.0, 0.5, {}),
    "fs 0, rf 0": (0.0, 0.0, 1.0, 0.5, {}),
    "fs NaN": (np.nan, 1000.0, 1.0, 0.5, {}),
    "fs inf": (np.inf, 1000.0, 1.0, 0.5, {}),
}


@pytest.mark.parametrize("case", MODEL_CASES.values(), ids=MODEL_CASES.keys())
def test_matches_model(case, rng):
    fs, rf, level, index, events = case
    x = odd_signal(rng, 300, tail=NON_FINITE)
    got, want = run_events_both(lambda: halvo_sdr.AmDsbMod(fs, rf, level, index),
                                lambda: AmDsbModel(fs, rf, level, index), x, events)
    assert_same_bits_any_nan(got, want)
    if fs == 0 or np.isnan(fs):
        assert np.isnan(got.view(np.float32)).all()


def test_non_finite_input_spoils_only_its_own_sample(rng):
    x = rng.normal(0, 0.5, 64).astype(np.float32)
    for clamp in (False, True):
        ref = halvo_sdr.AmDsbMod(48000.0, 1500.0, 1.0, 0.5)
        ref.set_clamp(clamp)
        clean = ref.process(x)
        m = halvo_sdr.AmDsbMod(48000.0, 1500.0, 1.0, 0.5)
        m.set_clamp(clamp)
        y = x.copy()
        y[10], y[20] = np.nan, np.inf
        out = m.process(y)
        assert np.isnan(out[10].real) and np.isnan(out[10].imag)
        keep = np.r_[0:10, 11:20, 21:64]
        if clamp:  # inf is limited to 1, a NaN is not
            assert np.isfinite(out[20])
        assert np.array_equal(out[keep], clean[keep])


@pytest.mark.parametrize("x, clamp, envelope", [
    (0.8, True, 1.0), (0.8, False, 1.3), (-2.0, True, -1.0), (-2.0, False, -1.5), (0.2, True, 0.7),
])
def test_envelope_limit(x, clamp, envelope):
    # rf 0 keeps the carrier at exactly 1+0j, so the output is the envelope.
    m = halvo_sdr.AmDsbMod(48000.0, 0.0, 0.5, 1.0)
    m.set_clamp(clamp)
    out = m.process(np.full(5, x, np.float32))
    e = f32(x) * f32(1.0) + f32(0.5)
    want = np.clip(e, f32(-1), f32(1)) if clamp else e
    assert want == pytest.approx(envelope, rel=1e-6)
    assert np.all(out.real == want) and np.all(out.imag == 0)


def test_gain_applies_after_the_limit():
    m = halvo_sdr.AmDsbMod(48000.0, 0.0, 0.5, 1.0)
    m.set_clamp(True)
    m.set_gain(3.0)
    assert np.all(m.process(np.array([0.8, -2.0], np.float32)) == np.array([3.0, -3.0]))


def test_unmodulated_carrier_at_rf_0_is_exactly_one(rng):
    out = halvo_sdr.AmDsbMod(48000.0, 0.0, 1.0, 0.0).process(rng.normal(0, 10, 3000).astype(np.float32))
    assert np.all(out.real == 1) and np.all(out.imag == 0)


def test_carrier_runs_on_through_zero_gain(rng):
    x = rng.normal(0, 0.5, 900).astype(np.float32)
    ref = halvo_sdr.AmDsbMod(48000.0, 2500.0, 1.0, 0.5)
    want = [ref.process(x[:300]), ref.process(x[300:600]), ref.process(x[600:])]
    m = halvo_sdr.AmDsbMod(48000.0, 2500.0, 1.0, 0.5)
    assert_same_bits(m.process(x[:300]), want[0])
    m.set_gain(0.0)
    muted = m.process(x[300:600])
    assert np.all(muted == 0)
    m.set_gain(1.0)
    assert_same_bits(m.process(x[600:]), want[2])


def test_carrier_phase_steps_by_rf(rng):
    # Magnitude |level + index*x| and phase (n+1)*d, d = 2*pi*rf/fs, within
    # the phasor's rounding drift between renormalisations.
    x = rng.uniform(-0.9, 0.9, 1500).astype(np.float32)
    out = halvo_sdr.AmDsbMod(48000.0, 3000.0, 1.0, 0.5).process(x)
    assert np.allclose(np.abs(out), 1.0 + 0.5 * x.astype(np.float64), rtol=1e-4, atol=0)
    n = np.arange(1, 1501)
    assert np.allclose(out / np.abs(out), np.exp(2j * np.pi * 3000.0 / 48000.0 * n), atol=1e-4)
