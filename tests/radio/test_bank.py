"""halvo_radio.Bank: row k of a bank's output is bit for bit what a single
halvo_sdr object built with channel k's parameters gives for row k, for random
parameters per channel, random block splits, setters between blocks and every
channel count from 1 to 17 (the tails of 8 and 16 lanes); bad arguments are
refused by name. (Every bank level against single objects runs in CTest.)"""
from __future__ import annotations

import inspect

import numpy as np
import pytest

import halvo_radio as hr
import halvo_sdr
from conftest import assert_same_bits

KINDS = [getattr(halvo_sdr, name) for name in halvo_sdr.__all__]

# Draws for each constructor parameter and setter value, by name.
RANGES = {
    "fs": (8_000.0, 96_000.0), "sample_rate": (8_000.0, 96_000.0),
    "tone_hz": (-5_000.0, 5_000.0), "bfo_hz": (-3_000.0, 3_000.0), "rf_hz": (-10_000.0, 10_000.0),
    "audio_if_hz": (500.0, 3_000.0), "env_bw_hz": (0.5, 500.0), "audio_bw_hz": (100.0, 10_000.0),
    "dev_hz": (0.5, 10_000.0), "deviation_hz": (100.0, 10_000.0), "k": (-5.0, 5.0),
    "kp_rad_per_unit": (-5.0, 5.0), "carrier_level": (0.0, 1.0), "modulation_index": (0.0, 1.5),
    "rise_ms": (0.05, 20.0), "fall_ms": (0.05, 20.0),
    "g": (-2.0, 2.0), "hz": (100.0, 10_000.0), "kp": (-5.0, 5.0),
}


def draw(rng, name: str, size: int):
    if name in ("abs_approx", "usb", "on"):
        return [bool(b) for b in rng.integers(0, 2, size)]
    lo, hi = RANGES[name]
    return rng.uniform(lo, hi, size).tolist()


def signal(rng, kind, n: int, m: int) -> np.ndarray:
    if "Demod" in kind.__name__:
        x = (rng.normal(size=(n, m)) + 1j * rng.normal(size=(n, m))).astype(np.complex64)
    else:
        x = rng.normal(scale=0.6, size=(n, m)).astype(np.float32)
    x.flat[rng.integers(0, x.size, size=x.size // 100)] = np.nan  # the NaN rule, row by row
    return x


def setters(kind) -> list[tuple[str, str]]:
    """(setter, its value's parameter name) of a class."""
    out = []
    for name in sorted(dir(kind)):
        if name.startswith("set_"):
            params = list(inspect.signature(getattr(kind, name)).parameters)
            out.append((name, params[-1]))
    return out


@pytest.mark.parametrize("n", range(1, 18))
@pytest.mark.parametrize("kind", KINDS, ids=lambda k: k.__name__)
def test_rows_are_single_objects(kind, n):
    rng = np.random.default_rng(1000 * n + KINDS.index(kind))
    names = list(inspect.signature(kind).parameters)
    # Each parameter a scalar for all channels or one value per channel.
    columns = {name: draw(rng, name, n) for name in names}
    params = {name: (col if rng.random() < 0.6 else col[0]) for name, col in columns.items()}
    per_channel = [{name: (v[k] if isinstance(v, list) else v) for name, v in params.items()} for k in range(n)]
    if n > 1 and rng.random() < 0.5:
        params = {name: np.asarray(v) if isinstance(v, list) else v for name, v in params.items()}
    bank = hr.Bank(kind, n, **params)
    singles = [kind(**p) for p in per_channel]
    m = 1500
    x = signal(rng, kind, n, m)
    cuts = np.sort(rng.integers(0, m + 1, size=5))
    for a, b in zip([0, *cuts], [*cuts, m]):
        block = np.ascontiguousarray(x[:, a:b])
        got = bank.process(block)
        assert got.shape == (n, b - a)
        for k in range(n):
            assert_same_bits(got[k], singles[k].process(block[k]))
        for setter, arg in setters(kind):  # each setter, scalar or per channel
            values = draw(rng, arg, n)
            if rng.random() < 0.5:
                getattr(bank, setter)(values)
            else:
                getattr(bank, setter)(values[0])
                values = [values[0]] * n
            for single, v in zip(singles, values):
                getattr(single, setter)(v)


def test_defaults_and_surface():
    rng = np.random.default_rng(7)
    x = signal(rng, halvo_sdr.AmEnvelopeDemod, 3, 200)
    bank = hr.Bank(halvo_sdr.AmEnvelopeDemod, 3, fs=48_000, audio_bw_hz=[1_000, 2_000, 3_000])  # abs_approx=False
    for k, row in enumerate(bank.process(x)):
        assert_same_bits(row, halvo_sdr.AmEnvelopeDemod(48_000, 1_000.0 * (k + 1), False).process(x[k]))
    assert repr(bank) == "halvo_radio.Bank(halvo_sdr.AmEnvelopeDemod, n_channels=3)"
    assert bank.kind is halvo_sdr.AmEnvelopeDemod and bank.n_channels == 3
    assert "set_gain" in dir(hr.Bank(halvo_sdr.CwKeyedMod, 2, sample_rate=8_000, tone_hz=700, rise_ms=5, fall_ms=5))
    assert "Bank" in hr.__all__ and not any(name.endswith("DemodBank") for name in hr.__all__)
    assert bank.process(np.zeros((3, 0), np.complex64)).shape == (3, 0)
    # NumPy scalars and 0-d arrays count as scalars.
    zero_d = hr.Bank(halvo_sdr.AmEnvelopeDemod, 3, fs=np.float32(48_000), audio_bw_hz=np.array(3_000.0),
                     abs_approx=np.bool_(True))
    for k, row in enumerate(zero_d.process(x)):
        assert_same_bits(row, halvo_sdr.AmEnvelopeDemod(48_000, 3_000.0, True).process(x[k]))


FM = dict(fs=48_000.0, dev_hz=5_000.0, audio_bw_hz=3_000.0)


@pytest.mark.parametrize("call, error, words", [
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 4, **{**FM, "dev_hz": [1.0, 2.0, 3.0]}), ValueError, ["dev_hz", "4"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **{**FM, "fs": [[1.0, 2.0]]}), ValueError, ["fs"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 0, **FM), ValueError, ["n_channels"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, fs=48_000.0, dev_hz=5.0), TypeError, ["audio_bw_hz"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM, gain=1.0), TypeError, ["gain"]),
    (lambda: hr.Bank(hr.Channelizer, 2, fs=1.0), TypeError, ["halvo_sdr"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM).process(np.zeros((3, 8), np.complex64)),
     ValueError, ["2 rows", "(3, 8)"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM).process(np.zeros(8, np.complex64)), ValueError, ["2-D"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM).process(np.zeros((2, 8), np.complex64)[:, ::2]),
     TypeError, ["contiguous"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM).process(np.zeros((2, 8), np.float32)), TypeError, []),
    (lambda: hr.Bank(halvo_sdr.AmDsbMod, 2, fs=8e3, rf_hz=0, carrier_level=1, modulation_index=1).set_gain([1, 2, 3]),
     ValueError, ["set_gain", "2"]),
    (lambda: hr.Bank(halvo_sdr.FmQuadratureDemod, 2, **FM).set_gain, AttributeError, ["set_gain"]),
])
def test_refused(call, error, words):
    with pytest.raises(error) as info:
        call()
    for word in words:
        assert word in str(info.value)


@pytest.mark.parametrize("kind", KINDS, ids=lambda k: k.__name__)
def test_native_signatures_follow_the_class(kind):
    """Each native bank's signatures are its class's, with the channel count or index in front."""
    native = getattr(hr._native, kind.__name__ + "Bank")

    def names(f):
        return [p for p in inspect.signature(f).parameters if p != "self"]

    own = names(kind)
    assert names(native) == ["n", *own]
    assert names(native.set_channel) == ["channel", *own]
    assert names(native.process) == names(kind.process)
    assert names(native.n_channels) == []
    setters_of_class = [name for name in dir(kind) if name.startswith("set_")]
    assert sorted(n for n in dir(native) if n.startswith("set_") and n != "set_channel") == setters_of_class
    for name in setters_of_class:
        assert names(getattr(native, name)) == ["channel", *names(getattr(kind, name))]
    bank_params = inspect.signature(native).parameters
    for name, param in inspect.signature(kind).parameters.items():
        assert bank_params[name].default == param.default
