"""The NaN rule: every NaN output is the one quiet NaN 0x7FC00000.

NaN and infinity in one part of a sample, and in parameters through the
setters, for every class; any split of the stream gives the same bits as one
call, NaN sign and payload included (the comparison is strict), on whichever
instruction-set level this process runs (under qemu too: tools/test_aarch64.sh
runs this file).
"""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, run_in_blocks

CANONICAL_NAN = 0x7FC00000
# Quiet NaNs of both signs and another payload, and both infinities.
ODD_VALUES = np.array([0x7FC00000, 0xFFC00000, 0x7FC12345, 0xFF800000, 0x7F800000],
                      dtype=np.uint32).view(np.float32)

# (class, constructor arguments, number setters)
CLASSES = [
    (halvo_sdr.CwEnvelopeDemod, (48000.0, 700.0, 50.0), ["set_gain"]),
    (halvo_sdr.AmEnvelopeDemod, (48000.0, 5000.0, False), []),
    (halvo_sdr.AmEnvelopeDemod, (48000.0, 5000.0, True), []),
    (halvo_sdr.SsbProductDemod, (48000.0, 1500.0, 2700.0), []),
    (halvo_sdr.FmQuadratureDemod, (48000.0, 5000.0, 3000.0), []),
    (halvo_sdr.PmQuadratureDemod, (48000.0, 1.0, 3000.0), []),
    (halvo_sdr.AmDsbMod, (48000.0, 10000.0, 1.0, 0.5), ["set_gain"]),
    (halvo_sdr.CwKeyedMod, (48000.0, 700.0, 5.0, 5.0), ["set_gain"]),
    (halvo_sdr.SsbPhasingMod, (48000.0, 3000.0, 1500.0, 10000.0, True), []),
    (halvo_sdr.FmPhaseAccumMod, (48000.0, 5000.0, 10000.0), ["set_deviation", "set_gain"]),
    (halvo_sdr.PmDirectPhaseMod, (48000.0, 1.0, 10000.0), ["set_gain", "set_sensitivity"]),
]
IDS = [f"{cls.__name__}{'-approx' if args[-1] is True and cls is halvo_sdr.AmEnvelopeDemod else ''}"
       for cls, args, _ in CLASSES]


def _complex_input(cls):
    return cls.__name__.endswith("Demod")


def signal(cls, n, seed, spots):
    """Noise with an odd value (NaN of either sign, a payload, ±inf) in one
    part of the sample at each spot."""
    rng = np.random.default_rng(seed)
    if _complex_input(cls):
        x = (rng.normal(0, 0.5, n) + 1j * rng.normal(0, 0.5, n)).astype(np.complex64)
        parts = x.view(np.float32)
        for j, i in enumerate(spots):
            parts[2 * i + (j & 1)] = ODD_VALUES[j % len(ODD_VALUES)]
    else:
        x = rng.normal(0, 0.5, n).astype(np.float32)
        for j, i in enumerate(spots):
            x[i] = ODD_VALUES[j % len(ODD_VALUES)]
    return x


def split_lists(n, seed, count=40):
    """Deterministic cut lists: every single cut of a short stream, and
    random multi-cut lists."""
    rng = np.random.default_rng(seed)
    singles = [[c] for c in range(1, min(n, 20))]
    return singles + [sorted(rng.integers(0, n + 1, rng.integers(1, 8)).tolist()) for _ in range(count)]


def assert_canonical_nans(y):
    bits = y.view(np.uint32)
    nan = np.isnan(y.view(np.float32))
    assert (bits[nan] == CANONICAL_NAN).all(), f"NaN bits {np.unique(bits[nan])[:4]!r}"


@pytest.mark.parametrize("cls, args, setters", CLASSES, ids=IDS)
@pytest.mark.parametrize("n, spots", [
    (4, [0, 2]),                  # a stream shorter than one vector group
    (40, [3, 9, 17, 30]),         # odd values inside groups and in the tail
    (300, [100, 101, 205, 299]),  # the first one poisons what follows
])
def test_nan_and_infinity_in_the_input_any_split(cls, args, setters, n, spots):
    x = signal(cls, n, seed=n, spots=spots)
    whole = cls(*args).process(x)
    assert_canonical_nans(whole)
    for cuts in split_lists(n, seed=n):
        assert_same_bits(run_in_blocks(cls(*args), x, cuts), whole)


@pytest.mark.parametrize("cls, args, setters", [c for c in CLASSES if c[2]], ids=[i for i, c in zip(IDS, CLASSES) if c[2]])
@pytest.mark.parametrize("value", [float("nan"), float("inf"), float("-inf")])
def test_nan_and_infinite_parameters_any_split(cls, args, setters, value):
    """Each setter given the odd value up front, with plain and odd inputs."""
    n = 67
    for setter in setters:
        for x in (signal(cls, n, seed=1, spots=[]), signal(cls, n, seed=2, spots=[5, 40, 41, 66])):
            def fresh():
                obj = cls(*args)
                getattr(obj, setter)(value)
                return obj
            whole = fresh().process(x)
            assert_canonical_nans(whole)
            for cuts in split_lists(n, seed=3, count=30):
                assert_same_bits(run_in_blocks(fresh(), x, cuts), whole)
