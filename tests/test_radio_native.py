"""halvo_radio._native, the second module of halvo_sdr's extension file: it
loads through the halvo_radio package, and the binding machinery its classes
use works (2-D output of another length than the input, classes owning heap
memory, ValueError from validation, int parameters, queries, module
functions returning arrays)."""
import gc
import resource

import numpy as np
import pytest

import halvo_radio
import halvo_sdr
from conftest import assert_same_bits


def test_loaded_from_halvo_sdrs_extension_file():
    native = halvo_radio._native
    assert native.__name__ == "halvo_radio._native"
    assert native.__file__ == halvo_sdr.__file__
    assert native.__all__ == ["Channelizer", "ChannelSelector", "Resampler", "RealResampler", "Upconverter",
                              "Deemphasis", "Preemphasis", "PowerSquelch", "Agc", "Receiver", "Transmitter",
                              "ReceiverBank"] + [
                                 name + "Bank" for name in halvo_sdr.__all__]  # behind halvo_radio.Bank
    assert halvo_radio.Channelizer is native.Channelizer
    assert len(halvo_sdr.__all__) == 10 and not hasattr(halvo_sdr, "Channelizer")


def test_channelizer_rows_by_frames_and_any_split():
    rng = np.random.default_rng(5)
    x = (rng.normal(size=1000) + 1j * rng.normal(size=1000)).astype(np.complex64)
    x[300] = complex(np.nan, 0.0)
    whole = halvo_radio.Channelizer(1e6, 16, 2, 70.0).process(x)
    assert whole.shape == (16, 1000 // 8) and whole.dtype == np.complex64
    assert whole.flags.c_contiguous
    for cuts in ([1], [7, 8, 9], [3, 500, 501, 999], list(range(0, 1000, 37))):
        c = halvo_radio.Channelizer(1e6, 16, 2, 70.0)
        bounds = [0, *cuts, 1000]
        parts = [c.process(x[a:b]) for a, b in zip(bounds[:-1], bounds[1:])]
        assert all(p.shape[0] == 16 for p in parts)
        assert_same_bits(np.concatenate(parts, axis=1), whole)


@pytest.mark.parametrize("args, message", [
    ((0.0, 8, 1, 60.0), "fs must be finite and > 0, got 0"),
    ((1e6, 12, 1, 60.0), "n_channels must be a power of two from 2 to 4096, got 12"),
    ((1e6, 8, 3, 60.0), "oversample must be 1 or 2, got 3"),
    ((1e6, 8, 1, float("nan")), "stopband_db must be from 20 to 140, got nan"),
])
def test_validation_raises_value_error(args, message):
    with pytest.raises(ValueError) as e:
        halvo_radio.Channelizer(*args)
    assert str(e.value) == message


@pytest.mark.parametrize("bad, error", [(8.0, TypeError), ("8", TypeError), (2**40, OverflowError)])
def test_integer_parameters(bad, error):
    with pytest.raises(error, match="n_channels" if error is TypeError else None):
        halvo_radio.Channelizer(1e6, bad, 1, 60.0)
    assert halvo_radio.Channelizer(1e6, np.int64(8), True, 60.0).n_channels() == 8


def test_module_function_returns_a_new_float32_array():
    taps = halvo_radio._native.channelizer_taps(8, 1, 60.0)
    assert taps.dtype == np.float32 and taps.ndim == 1 and taps.size % 8 == 0 and taps.size > 8
    assert taps.flags.owndata or taps.base is not None
    with pytest.raises(ValueError, match="oversample"):
        halvo_radio._native.channelizer_taps(8, 5, 60.0)


def test_heap_state_is_freed_with_the_object():
    def rss_kib():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

    # A 4096-channel bank owns several MiB of taps, streams and work space; forty
    # of them made and dropped one after another must not accumulate.
    halvo_radio.Channelizer(1e6, 4096, 2, 120.0)
    gc.collect()
    before = rss_kib()
    for _ in range(40):
        halvo_radio.Channelizer(1e6, 4096, 2, 120.0)
    gc.collect()
    assert rss_kib() - before < 48 * 1024
