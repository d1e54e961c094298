"""CwEnvelopeDemod: magnitude, one-pole smoother, gain."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits
from models.libm import expf


f32 = np.float32


def model(x, sample_rate, env_bw_hz, gains):
    """Straightforward float32 model; gains[i] is the gain in force at sample i."""
    with np.errstate(all="ignore"):
        fs, bw = f32(sample_rate), f32(env_bw_hz)
        b = bw if bw > f32(1.0) else f32(1.0)
        pole = expf((b * f32(-6.2831855)) / fs)
        k = f32(1.0) - pole
        env = f32(0.0)
        out = np.empty(len(x), np.float32)
        for i, s in enumerate(x):
            re, im = f32(s.real), f32(s.imag)
            m = np.sqrt(re * re + im * im)
            env = k * m + pole * env
            out[i] = f32(gains[i]) * env
    return out


def signal(rng, n):
    x = (rng.standard_normal(n) + 1j * rng.standard_normal(n)) * rng.uniform(0.01, 10.0)
    return x.astype(np.complex64)


SPECIALS = np.array([0, -0.0, np.nan, np.inf, -np.inf, 1e-45, -1e-40, 3e38, 1 + 1j, complex(np.nan, 1)],
                    np.complex64)


@pytest.mark.parametrize("sample_rate, env_bw_hz", [
    (8000, 50), (48000, 200), (1e6, 3000), (8000, 0), (8000, -7), (8000, float("nan")),
    (0, 50), (-8000, 50), (float("nan"), 50), (float("inf"), 50), (8000, 1e40), (1e-3, 50),
])
def test_matches_model(rng, sample_rate, env_bw_hz):
    x = signal(rng, 300)
    d = halvo_sdr.CwEnvelopeDemod(sample_rate, 700, env_bw_hz)
    out = np.concatenate([d.process(x[:120]), d.process(x[120:])])
    assert_same_bits(out, model(x, sample_rate, env_bw_hz, [1.0] * 300))


@pytest.mark.parametrize("position", [0, 5, 299])
def test_special_samples_match_model(rng, position):
    for s in SPECIALS:
        x = signal(rng, 300)
        x[position] = s
        out = halvo_sdr.CwEnvelopeDemod(8000, 700, 50).process(x)
        assert_same_bits(out, model(x, 8000, 50, [1.0] * 300))


def test_gain_changes_between_blocks_match_model(rng):
    x = signal(rng, 400)
    d = halvo_sdr.CwEnvelopeDemod(16000, 0, 100)
    gains = [1.0] * 100 + [0.0] * 100 + [-2.5] * 100 + [1e39] * 100
    outs = []
    for k in range(4):
        d.set_gain(gains[100 * k])
        outs.append(d.process(x[100 * k:100 * (k + 1)]))
    assert_same_bits(np.concatenate(outs), model(x, 16000, 100, gains))
    assert np.all(np.isinf(outs[3][np.abs(x[300:]) > 0]))  # 1e39 narrows to +inf


def test_constant_input_rises_towards_gain_times_magnitude():
    sample_rate, bw, a = 8000.0, 50.0, 5.0
    pole = np.exp(-2 * np.pi * bw / sample_rate)
    d = halvo_sdr.CwEnvelopeDemod(sample_rate, 700, bw)
    d.set_gain(2.0)
    out = d.process(np.full(4000, 3 + 4j, np.complex64))
    i = np.arange(4000)
    np.testing.assert_allclose(out, 2 * a * (1 - pole ** (i + 1)), rtol=2e-4)
    assert abs(out[-1] - 2 * a) < 1e-4


def test_bandwidth_floor_and_ignored_tone(rng):
    x = signal(rng, 500)
    ref = halvo_sdr.CwEnvelopeDemod(8000, 700, 1.0).process(x)
    for bw in (0.0, -3.0, 0.5, float("nan")):
        assert_same_bits(halvo_sdr.CwEnvelopeDemod(8000, 700, bw).process(x), ref)
    for tone in (0.0, -1e30, float("nan"), float("inf")):
        assert_same_bits(halvo_sdr.CwEnvelopeDemod(8000, tone, 1.0).process(x), ref)


def test_zero_sample_rate_means_no_smoothing(rng):
    x = signal(rng, 200)
    out = halvo_sdr.CwEnvelopeDemod(0, 700, 50).process(x)
    re, im = x.real.astype(np.float32), x.imag.astype(np.float32)
    assert_same_bits(out, np.sqrt(re * re + im * im))


def test_nan_sticks_and_infinity_stays():
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    x = np.ones(10, np.complex64)
    x[3] = complex(np.nan, 0)
    assert not np.isnan(d.process(x)[:3]).any() and np.isnan(d.process(np.ones(5, np.complex64))).all()
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    d.process(np.array([np.inf], np.complex64))
    assert np.isposinf(d.process(np.ones(100, np.complex64))).all()


def test_gain_zero_keeps_tracking():
    d, twin = halvo_sdr.CwEnvelopeDemod(8000, 700, 50), halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    x = np.full(300, 2 + 0j, np.complex64)
    d.set_gain(0)
    assert_same_bits(d.process(x), np.zeros(300, np.float32))
    twin.process(x)
    d.set_gain(1)
    assert_same_bits(d.process(x), twin.process(x))
