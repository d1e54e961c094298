"""CwKeyedMod: agreement with the float32 model, block splits and grouping,
keying ramps, the time-constant floor and the gain."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from models.libm import expf
from models.mod import CwKeyedModel
from .helpers import run_events_both


f32 = np.float32


def keying(rng, n, tail=()):
    """Key down/up runs with soft edges, values outside 0..1, odd values, and
    `tail` near the end."""
    runs = rng.integers(3, 40, n)
    level = np.repeat(rng.integers(0, 2, n), runs)[:n].astype(np.float32)
    x = level + rng.normal(0, 0.05, n).astype(np.float32)
    x[[7, 50, 90, 130, 170, 200]] = [-0.0, 1e-45, 2.5, -3.0, 0.9999999, 1e-40]
    for j, v in enumerate(tail):
        x[n - 30 + 8 * j] = v
    return x


# (sample_rate, tone_hz, rise_ms, fall_ms, {position: [(setter, value)]})
MODEL_CASES = {
    "plain": (48000.0, 700.0, 5.0, 8.0, {}),
    "short ramps": (8000.0, 700.0, 0.7, 0.3, {}),  # (T*0.001)*fs rounds apart from T*(0.001*fs) here
    "fast edges, gain changes": (8000.0, -600.0, 0.3, 0.2, {100: [("set_gain", -2.0)], 200: [("set_gain", 0.0)]}),
    "floored time constants": (48000.0, 700.0, 0.0, -4.0, {}),
    "NaN time constants": (48000.0, 700.0, np.nan, np.nan, {}),
    "tone 0": (48000.0, 0.0, 1.0, 1.0, {0: [("set_gain", 1e-40)]}),
    "NaN gain": (48000.0, 700.0, 1.0, 1.0, {150: [("set_gain", np.nan)]}),
    "negative sample rate": (-48000.0, 700.0, 1.0, 2.0, {}),
    "sample rate 0": (0.0, 700.0, 5.0, 5.0, {}),
}


@pytest.mark.parametrize("tail", [(), (np.inf, -np.inf), (np.nan,)], ids=["finite", "inf", "NaN"])
@pytest.mark.parametrize("case", MODEL_CASES.values(), ids=MODEL_CASES.keys())
def test_matches_model(case, tail, rng):
    fs, tone, rise, fall, events = case
    x = keying(rng, 300, tail)
    got, want = run_events_both(lambda: halvo_sdr.CwKeyedMod(fs, tone, rise, fall),
                                lambda: CwKeyedModel(fs, tone, rise, fall), x, events)
    assert_same_bits_any_nan(got, want)
    if fs == 0:
        assert np.isnan(got.view(np.float32)).all()
    if tail == (np.nan,):  # the envelope keeps the NaN for good
        assert np.isnan(got[300 - 30:].view(np.float32)).all()


def test_key_equal_to_envelope_takes_the_rise_pole(rng):
    # At 10 Hz a 0.1 ms rise has the pole exp(-1000) = 0, so the envelope
    # equals the key one sample after a rise; holding the key then compares
    # equal values, and the rise pole keeps e exactly, where the fall pole
    # (exp(-1) at 100 ms) would round (1 - a)*k + a*k off k for some levels.
    levels = rng.uniform(0.05, 0.95, 40).astype(np.float32)
    a_fall = CwKeyedModel(10.0, 1.0, 0.1, 100.0).a_fall
    assert any((f32(1) - a_fall) * k + a_fall * k != k for k in levels)
    x = np.repeat(np.sort(levels), 3)  # rising, each level held
    got = halvo_sdr.CwKeyedMod(10.0, 1.0, 0.1, 100.0).process(x)
    assert_same_bits_any_nan(got, CwKeyedModel(10.0, 1.0, 0.1, 100.0).process(x))


@pytest.mark.parametrize("n", range(10))
def test_every_short_length_and_its_splits(n, rng):
    # The loop takes four samples at a time plus a remainder; no length and
    # no cut may change a bit.
    x = keying(rng, 300)[:n]
    want = CwKeyedModel(48000.0, 900.0, 0.2, 0.15).process(x)
    assert_same_bits_any_nan(halvo_sdr.CwKeyedMod(48000.0, 900.0, 0.2, 0.15).process(x), want)
    for cut in range(1, n):
        m = halvo_sdr.CwKeyedMod(48000.0, 900.0, 0.2, 0.15)
        assert_same_bits_any_nan(np.concatenate([m.process(x[:cut]), m.process(x[cut:])]), want)


def test_rise_and_fall_ramps():
    fs, tone, rise_ms, fall_ms = 48000.0, 1000.0, 5.0, 2.0
    a_rise = float(expf(f32(-1.0) / ((f32(rise_ms) * f32(0.001)) * f32(fs))))
    a_fall = float(expf(f32(-1.0) / ((f32(fall_ms) * f32(0.001)) * f32(fs))))
    m = halvo_sdr.CwKeyedMod(fs, tone, rise_ms, fall_ms)
    m.set_gain(0.8)
    up = m.process(np.ones(2000, np.float32))
    k = np.arange(2000)
    assert np.allclose(np.abs(up), 0.8 * (1 - a_rise ** (k + 1)), rtol=1e-4, atol=1e-6)
    # after rise_ms (240 samples) the envelope is at 1 - 1/e of its goal
    assert abs(up[239]) / 0.8 == pytest.approx(1 - np.exp(-1), abs=2e-3)
    # the phase turns by the tone's step every sample
    step = np.angle(up[1:] * np.conj(up[:-1]))
    assert np.allclose(step, 2 * np.pi * tone / fs, atol=1e-5)
    top = abs(up[-1])
    down = m.process(np.zeros(500, np.float32))
    assert np.allclose(np.abs(down), top * a_fall ** (np.arange(500) + 1), rtol=1e-4, atol=1e-6)


def test_fresh_object_keyed_up_gives_zeros():
    out = halvo_sdr.CwKeyedMod(48000.0, 700.0, 5.0, 5.0).process(np.zeros(100, np.float32))
    assert np.all(out == 0)


def test_keying_outside_0_1_acts_as_the_limit(rng):
    x = rng.uniform(-3, 4, 500).astype(np.float32)
    a = halvo_sdr.CwKeyedMod(48000.0, 700.0, 0.5, 0.5).process(x)
    b = halvo_sdr.CwKeyedMod(48000.0, 700.0, 0.5, 0.5).process(np.clip(x, 0, 1))
    assert_same_bits(a, b)


@pytest.mark.parametrize("rise_ms", [0.0, -5.0, 0.05, np.nan, -np.inf])
def test_time_constants_below_0_1_ms_are_raised(rise_ms, rng):
    x = keying(rng, 300)
    want = halvo_sdr.CwKeyedMod(48000.0, 700.0, 0.1, 0.1).process(x)
    assert_same_bits(halvo_sdr.CwKeyedMod(48000.0, 700.0, rise_ms, rise_ms).process(x), want)
    # a time constant just above the floor does change the ramps
    assert not np.array_equal(halvo_sdr.CwKeyedMod(48000.0, 700.0, 0.11, 0.11).process(x), want)


def test_gain_change_is_immediate_and_keeps_the_envelope(rng):
    x = keying(rng, 600)
    ref = halvo_sdr.CwKeyedMod(48000.0, 700.0, 2.0, 2.0)
    first, second = ref.process(x[:300]), ref.process(x[300:])
    m = halvo_sdr.CwKeyedMod(48000.0, 700.0, 2.0, 2.0)
    assert_same_bits(m.process(x[:300]), first)
    m.set_gain(2.0)
    # doubling is exact, so no ramp and no rounding in between
    assert_same_bits(m.process(x[300:]), (second * 2).astype(np.complex64))


def test_zero_output_signs_follow_the_full_complex_product():
    # The output is (A + 0j)(re + j im) with every term rounded: for A = +0
    # the real part A*re - 0*im is -0 only where re < 0 < im, and the imaginary
    # part 0*re + A*im only where re and im are both negative; a plain
    # (A*re, A*im) would copy the phasor's signs instead.
    x_on, x_off = np.ones(64, np.float32), np.zeros(64, np.float32)
    phasor = halvo_sdr.CwKeyedMod(48000.0, 7000.0, 1.0, 1.0).process(x_on)  # signs of the tone
    out = halvo_sdr.CwKeyedMod(48000.0, 7000.0, 1.0, 1.0).process(x_off)
    assert np.all(out == 0)
    re_neg, im_neg = phasor.real < 0, phasor.imag < 0
    assert (re_neg & ~im_neg).any() and (re_neg & im_neg).any()
    assert np.array_equal(np.signbit(out.real), re_neg & ~im_neg)
    assert np.array_equal(np.signbit(out.imag), re_neg & im_neg)
