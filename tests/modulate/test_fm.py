"""FmPhaseAccumMod: agreement with the float32 model, block splits with
setters, instantaneous frequency, deviation and gain changes."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from models.mod import FmPhaseAccumModel
from .helpers import odd_signal, run_events_both


# (sample_rate, deviation_hz, rf_hz, {position: [(setter, value)]})
MODEL_CASES = {
    "plain": (48000.0, 2500.0, 6000.0, {}),
    "44.1 kHz": (44100.0, 1000.0, 6000.0, {}),  # (dev*2pi)/fs rounds apart from dev*(2pi/fs) here
    "setters between blocks": (48000.0, 2500.0, -6000.0,
                               {90: [("set_deviation", 500.0)], 180: [("set_gain", -0.5), ("set_deviation", -3e4)]}),
    "rf 0": (48000.0, 1000.0, 0.0, {0: [("set_gain", 3.0)]}),
    "deviation 0": (8000.0, 0.0, 1000.0, {}),
    "huge deviation": (8000.0, 1e9, 1000.0, {}),
    "NaN gain, then zero": (48000.0, 2500.0, 6000.0, {0: [("set_gain", np.nan)], 150: [("set_gain", 0.0)]}),
    "NaN deviation later": (48000.0, 2500.0, 6000.0, {200: [("set_deviation", np.nan)]}),
    "sample rate 0": (0.0, 2500.0, 6000.0, {}),
    "sample rate 0, rf 0": (0.0, 2500.0, 0.0, {}),
    "negative sample rate": (-48000.0, 2500.0, 6000.0, {}),
}


@pytest.mark.parametrize("tail", [(), (np.inf,), (np.nan,)], ids=["finite", "inf", "NaN"])
@pytest.mark.parametrize("case", MODEL_CASES.values(), ids=MODEL_CASES.keys())
def test_matches_model(case, tail, rng):
    fs, dev, rf, events = case
    x = odd_signal(rng, 300, tail)
    got, want = run_events_both(lambda: halvo_sdr.FmPhaseAccumMod(fs, dev, rf),
                                lambda: FmPhaseAccumModel(fs, dev, rf), x, events)
    assert_same_bits_any_nan(got, want)
    if fs == 0:
        assert np.isnan(got.view(np.float32)).all()
    if tail:  # a non-finite phase step leaves the message phasor NaN
        assert np.isnan(got[300 - 30:].view(np.float32)).all()


def inst_freq(y, fs):
    return np.angle(y[1:] * np.conj(y[:-1])) * fs / (2 * np.pi)


@pytest.mark.parametrize("x, rf, hz", [(0.5, 0.0, 500.0), (-0.5, 0.0, -500.0), (0.5, 3000.0, 3500.0),
                                       (-1.25, -2000.0, -3250.0)])
def test_instantaneous_frequency(x, rf, hz):
    fs = 48000.0
    y = halvo_sdr.FmPhaseAccumMod(fs, 1000.0, rf).process(np.full(5000, x, np.float32))
    assert np.allclose(inst_freq(y, fs), hz, atol=0.02)
    # the first sample already carries one step of both phasors
    assert np.angle(y[0]) * fs / (2 * np.pi) == pytest.approx(hz, abs=0.02)
    assert np.allclose(np.abs(y), 1.0, atol=1e-4)


def test_silence_at_rf_0_is_exactly_the_gain():
    m = halvo_sdr.FmPhaseAccumMod(48000.0, 3000.0, 0.0)
    m.set_gain(-0.375)
    out = m.process(np.zeros(2500, np.float32))
    assert np.all(out.real == np.float32(-0.375)) and np.all(out.imag == 0)


def test_message_phase_follows_the_running_sum(rng):
    # phase of sample n: k*(x[0] + ... + x[n]) + (n+1)*d, as a unit phasor
    fs, dev, rf = 48000.0, 2000.0, 1000.0
    x = rng.uniform(-1, 1, 3000).astype(np.float32)
    y = halvo_sdr.FmPhaseAccumMod(fs, dev, rf).process(x)
    phase = 2 * np.pi * (dev * np.cumsum(x.astype(np.float64)) + rf * np.arange(1, 3001)) / fs
    assert np.allclose(y, np.exp(1j * phase), atol=2e-4)


def test_deviation_change_takes_effect_next_call_without_a_phase_jump():
    fs = 48000.0
    m = halvo_sdr.FmPhaseAccumMod(fs, 1000.0, 0.0)
    first = m.process(np.full(700, 0.5, np.float32))
    m.set_deviation(3000.0)
    second = m.process(np.full(700, 0.5, np.float32))
    f = inst_freq(np.concatenate([first, second]), fs)
    assert np.allclose(f[:699], 500.0, atol=0.02)
    assert np.allclose(f[699:], 1500.0, atol=0.02)  # from the boundary step on


def test_gain_scales_the_magnitude_only(rng):
    x = rng.normal(0, 0.5, 1200).astype(np.float32)
    ref = halvo_sdr.FmPhaseAccumMod(48000.0, 2500.0, 6000.0)
    want = [ref.process(x[:600]), ref.process(x[600:])]
    m = halvo_sdr.FmPhaseAccumMod(48000.0, 2500.0, 6000.0)
    assert_same_bits(m.process(x[:600]), want[0])
    m.set_gain(2.0)
    # doubling each factor is exact: the phase sequence is untouched
    assert_same_bits(m.process(x[600:]), (want[1] * 2).astype(np.complex64))
