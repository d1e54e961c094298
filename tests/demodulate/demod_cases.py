"""Inputs and checks shared by the demodulator tests."""
import numpy as np
from hypothesis import strategies as st

from conftest import assert_same_bits, run_in_blocks

NAN, INF = float("nan"), float("inf")
SIGNAL_KINDS = ("noise", "specials", "nonfinite")
EMPTY = np.zeros(0, dtype=np.complex64)

# Sample values that exercise the edges of float32 arithmetic.
SPECIAL_SAMPLES = [0j, complex(-0.0, -0.0), complex(1e-40, -3e-42), complex(-1e-45, 1e-38),
                   complex(INF, 0.0), complex(0.5, -INF), complex(NAN, 1.0), complex(3e38, -3e38)]


def iq_signal(kind, n=300, seed=0):
    """Seeded complex64 test input.

    noise: complex Gaussian. specials: noise with signed zeros and subnormals
    sprinkled in. nonfinite: noise with an infinity at 100 and a NaN at 200,
    so the samples before them are checked too.
    """
    rng = np.random.default_rng(seed)
    x = (rng.normal(size=n) + 1j * rng.normal(size=n)).astype(np.complex64)
    if kind == "specials":
        x[::7] = complex(1e-40, -1e-42)
        x[3::11] = complex(-0.0, 0.0)
        x[5::13] = 0
        x[9::17] *= np.float32(1e-39)
    elif kind == "nonfinite":
        x[100] = complex(INF, 0.0)
        x[200] = complex(0.5, NAN)
    return x


def tone(freq_hz, fs, n, amplitude=1.0, phase=0.0):
    """amplitude * e^(j(2 pi freq t + phase)) as complex64, computed in float64."""
    t = np.arange(n) / fs
    return (amplitude * np.exp(1j * (2 * np.pi * freq_hz * t + phase))).astype(np.complex64)


def tone_amplitude(y, freq_hz, fs):
    """Amplitude of the real sinusoid at freq_hz in y (a whole number of periods helps)."""
    t = np.arange(len(y)) / fs
    return 2 * abs(np.mean(y * np.exp(-2j * np.pi * freq_hz * t)))


def _canonical_nans(a):
    a = a.copy()
    a[np.isnan(a)] = np.float32(NAN)
    return a


def assert_matches_model(got, want):
    """Same bits, except that all NaNs count as one.

    Which NaN an operation returns when both operands are NaN depends on the
    operand order the compiler chose, and so differs even between builds of
    the same source; only that the value is NaN is part of the result.
    """
    assert_same_bits(_canonical_nans(got), _canonical_nans(want))


def assert_empty_call_changes_nothing(make, warmup, probe):
    """An empty block returns an empty float32 array and leaves the state alone:
    afterwards the object matches a twin that never saw the empty call."""
    a, b = make(), make()
    a.process(warmup)
    b.process(warmup)
    out = a.process(EMPTY)
    assert out.dtype == np.float32 and out.shape == (0,)
    assert_same_bits(a.process(probe), b.process(probe))


@st.composite
def signals_and_cuts(draw, max_len=2500):
    """A seeded noise signal with a few special samples, and cut positions into it."""
    n = draw(st.integers(0, max_len))
    x = iq_signal("noise", n, seed=draw(st.integers(0, 2**32 - 1)))
    if n:
        for i, v in draw(st.lists(st.tuples(st.integers(0, n - 1), st.sampled_from(SPECIAL_SAMPLES)),
                                  max_size=3)):
            x[i] = v
    cuts = draw(st.lists(st.integers(0, n), max_size=8))
    return x, cuts


def assert_split_invariant(make, x, cuts):
    """Blocks ending at the cuts give the same bits as one call on a twin."""
    assert_same_bits(run_in_blocks(make(), x, cuts), make().process(x))
