"""Signals and block runners shared by the modulator tests."""
import numpy as np
from hypothesis import strategies as st

from conftest import run_in_blocks, split_points

f32 = np.float32

# Finite values that take unusual paths: signed zeros, subnormals, extremes.
FINITE_ODD = np.array(
    [0.0, -0.0, 1e-45, -1e-45, 1e-40, -3e-39, 1e-30, 1e30, -1e30, 1.0, -1.0, 0.5],
    dtype=np.float32,
)
NON_FINITE = np.array([np.inf, -np.inf, np.nan], dtype=np.float32)


def odd_signal(rng, n, tail=()):
    """Seeded noise with the FINITE_ODD values spread through it and `tail`
    (for example values that poison state for good) placed near the end, so
    most of the block exercises ordinary operation."""
    x = rng.normal(0.0, 0.7, n).astype(np.float32)
    spots = np.linspace(5, n - 40, len(FINITE_ODD)).astype(int)
    x[spots] = FINITE_ODD
    for j, v in enumerate(tail):
        x[n - 30 + 8 * j] = v
    return x


def run_with_events(obj, x, cuts, events):
    """Process x in blocks ending at `cuts`; before the block that starts at
    position p, call each (setter name, value) in events.get(p, ())."""
    bounds = [0, *split_points(len(x), cuts), len(x)]

    def between(o, k):
        for name, value in events.get(bounds[k], ()):
            getattr(o, name)(value)

    return run_in_blocks(obj, x, cuts, between)


def run_events_both(make_module, make_model, x, events):
    """The module and the model, each fed x in blocks split where setters are
    applied."""
    cuts = sorted(events)
    return (run_with_events(make_module(), x, cuts, events),
            run_with_events(make_model(), x, cuts, events))


def setter_events(draw, n, setter_values):
    """Hypothesis: a few setter calls at positions inside 1..n-1."""
    events = {}
    if n < 2 or not setter_values:
        return events
    calls = draw(st.lists(st.tuples(st.integers(1, n - 1), st.sampled_from(sorted(setter_values))), max_size=4))
    for pos, name in calls:
        events.setdefault(pos, []).append((name, draw(setter_values[name])))
    return events


GAINS = st.one_of(st.sampled_from([0.0, -0.0, -1.5, 2.0, 1e-40, np.nan, np.inf, 1e300]), st.floats(-4, 4))
