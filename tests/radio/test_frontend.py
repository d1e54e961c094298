"""halvo_radio's front end from Python: bit for bit against the independent
NumPy model of frontend_model_check.py in random splits, the filter masks of
lowpass_taps, attributes, and refused parameters."""
from __future__ import annotations

import importlib.util
import pathlib

import numpy as np
import pytest

import halvo_radio

_spec = importlib.util.spec_from_file_location("frontend_model", pathlib.Path(__file__).with_name("frontend_model_check.py"))
model = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(model)

RNG = np.random.default_rng(3)


def noise(n: int) -> np.ndarray:
    return (RNG.uniform(-1, 1, n) + 1j * RNG.uniform(-1, 1, n)).astype(np.complex64)


def in_blocks(obj, x: np.ndarray, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    cuts = np.sort(rng.integers(0, len(x) + 1, size=12))
    parts = np.split(x, cuts)  # empty blocks included
    return np.concatenate([obj.process(np.ascontiguousarray(p)) for p in parts])


def one_stage(h: np.ndarray) -> np.ndarray:
    """The runner's taps layout (frontend_model_check.split_taps) for one stage."""
    return np.concatenate([np.float32([1, 0]), h]).astype(np.float32)


@pytest.mark.parametrize("make, dtype", [
    (lambda: halvo_radio.ChannelSelector(1.024e6, 125e3, 64, 8e3), np.complex64),
    (lambda: halvo_radio.ChannelSelector(1e6, -2e5, 7, 2e4, transition_hz=5e3), np.complex64),
    (lambda: halvo_radio.Resampler(2.4e6, 48e3), np.complex64),
    (lambda: halvo_radio.Resampler(44.1e3, 48e3, dtype=np.float32), np.float32),
    (lambda: halvo_radio.Upconverter(48e3, 20, 2e5, 16e3), np.complex64),
])
def test_any_split_gives_one_calls_bits(make, dtype):
    x = noise(9000) if dtype == np.complex64 else RNG.uniform(-1, 1, 9000).astype(np.float32)
    x[4000] = np.nan  # NaNs too come out the same (as the one quiet NaN)
    whole = make().process(x)
    for seed in (1, 2):
        got = in_blocks(make(), x, seed)
        assert got.dtype == dtype
        np.testing.assert_array_equal(got.view(np.uint32), whole.view(np.uint32))


# One-stage plans, whose taps are lowpass_taps' (prime decimations have no first stage).
@pytest.mark.parametrize("fs, offset, dec, bw, transition", [(48e3, -5e3, 3, 6e3, 3e3), (1e6, 3e5, 7, 1e5, 2e4)])
def test_selector_matches_model_in_any_split(fs, offset, dec, bw, transition):
    x = noise(7000)
    sel = halvo_radio.ChannelSelector(fs, offset, dec, bw, transition_hz=transition)
    h = one_stage(halvo_radio.lowpass_taps(fs, bw / 2, bw / 2 + transition, 70.0))
    want = model.selector_model(x, fs, offset, dec, h, -1, 0.0)
    np.testing.assert_array_equal(in_blocks(sel, x, seed=dec).view(np.uint32), want.astype(np.complex64).view(np.uint32))


def test_selector_retune_matches_model():
    x = noise(5000)
    sel = halvo_radio.ChannelSelector(48e3, 3e3, 5, 6e3, transition_hz=2e3)
    h = one_stage(halvo_radio.lowpass_taps(48e3, 3e3, 5e3, 70.0))
    a = sel.process(x[:1234])
    sel.set_offset(-7e3)
    b = sel.process(x[1234:])
    want = model.selector_model(x, 48e3, 3e3, 5, h, 1234, -7e3)
    np.testing.assert_array_equal(np.concatenate([a, b]).view(np.uint32), want.astype(np.complex64).view(np.uint32))
    assert sel.offset_hz == -7e3


@pytest.mark.parametrize("dtype", [np.complex64, np.float32])
def test_resampler_matches_model_in_any_split(dtype):
    # 240 kHz -> 48 kHz: 1/5, one stage (5 has no divisor to split it).
    x = noise(5000) if dtype == np.complex64 else RNG.uniform(-1, 1, 5000).astype(np.float32)
    r = halvo_radio.Resampler(240e3, 48e3, dtype=dtype)
    assert (r.interpolation, r.decimation) == (1, 5)
    got = in_blocks(r, x, seed=5)
    assert got.dtype == dtype and len(got) == 1000
    h = one_stage(halvo_radio.lowpass_taps(240e3, 21.6e3, 26.4e3, 70.0))
    want = model.resampler_model(x, 1, 5, h).astype(dtype)
    np.testing.assert_array_equal(got.view(np.uint32), want.view(np.uint32))


@pytest.mark.parametrize("fs, fp, fst, db", [(48e3, 3e3, 5e3, 70.0), (1e6, 1e4, 1.3e4, 90.0), (8e3, 1e3, 3.9e3, 40.0)])
def test_lowpass_taps_meets_its_mask(fs, fp, fst, db):
    h = halvo_radio.lowpass_taps(fs, fp, fst, db)
    assert h.dtype == np.float32 and np.array_equal(h, h[::-1])
    f = np.linspace(0, fs / 2, 8192)
    resp = np.abs(np.exp(-2j * np.pi * np.outer(f / fs, np.arange(len(h)))) @ h.astype(np.float64))
    db_resp = 20 * np.log10(np.maximum(resp, 1e-20))
    assert np.all(np.abs(db_resp[f <= fp]) <= 0.5)
    assert np.all(db_resp[f >= fst] <= -db)


def test_attributes_and_repr():
    sel = halvo_radio.ChannelSelector(1.024e6, 125e3, 64, 8e3)
    assert (sel.fs, sel.offset_hz, sel.decimation, sel.bandwidth_hz, sel.stopband_db) == (1.024e6, 125e3, 64, 8e3, 70.0)
    assert sel.fs_out == 16e3 and sel.transition_hz == 8e3 and sel.delay > 0
    assert "ChannelSelector(fs=1024000.0" in repr(sel)
    r = halvo_radio.Resampler(44.1e3, 48e3, dtype=np.float32)
    assert "dtype=numpy.float32" in repr(r) and r.delay > 0
    up = halvo_radio.Upconverter(48e3, 20, 200e3, 16e3)
    assert up.fs_out == 960e3 and "Upconverter(fs=48000.0" in repr(up)


@pytest.mark.parametrize("make, name", [
    (lambda: halvo_radio.ChannelSelector(0.0, 0.0, 4, 1e3), "fs"),
    (lambda: halvo_radio.ChannelSelector(1e6, 6e5, 4, 1e3), "offset_hz"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 0, 1e3), "decimation"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 2.5, 1e3), "decimation"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 4, 3e5), "bandwidth_hz"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 4, 1e3, transition_hz=-1.0), "transition_hz"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 4, 1e3, transition_hz=1e-3), "taps"),
    (lambda: halvo_radio.ChannelSelector(1e6, 0.0, 4, 1e3, stopband_db=float("nan")), "stopband_db"),
    (lambda: halvo_radio.Resampler(48e3, 44.1e3, bandwidth=1.0), "bandwidth"),
    (lambda: halvo_radio.Resampler(48e3, 48e3 * np.pi), "fs_out"),
    (lambda: halvo_radio.Resampler(48e3, 44.1e3, dtype=np.int16), "dtype"),
    (lambda: halvo_radio.Upconverter(48e3, 0, 0.0, 1e3), "interpolation"),
    (lambda: halvo_radio.Upconverter(48e3, 2, 5e4, 1e3), "offset_hz"),
    (lambda: halvo_radio.lowpass_taps(48e3, 5e3, 3e3), "stopband_hz"),
    (lambda: halvo_radio.lowpass_taps(48e3, 3e3, 3.0001e3), "taps"),
    (lambda: halvo_radio.Resampler(1e6, 1e6 * 65521 / 65519), "taps"),
])
def test_invalid_parameters_refused(make, name):
    with pytest.raises(ValueError, match=name):
        make()


def test_set_offset_refused_keeps_state():
    sel = halvo_radio.ChannelSelector(1e6, 1e3, 4, 1e3)
    with pytest.raises(ValueError, match="offset_hz"):
        sel.set_offset(7e5)
    assert sel.offset_hz == 1e3
