"""ReceiverBank: each row is, bit for bit and for any block split, the
channelizer row of its channel run through a Receiver at the channel rate
(built here from the public Channelizer and Receiver); a band of
transmitters comes out on the right rows with squelched rows silent; bad
arguments are refused by name."""
from __future__ import annotations

import numpy as np
import pytest

import halvo_radio as hr

FS = 1_600_000.0


def band(fs: float, carriers: dict[float, tuple[str, float]], n: int, seed: int, noise: float = 1e-3) -> np.ndarray:
    """Noise plus one Transmitter per carrier {offset: (mode, tone Hz)}, each tone at half scale."""
    rng = np.random.default_rng(seed)
    x = (rng.normal(size=n) + 1j * rng.normal(size=n)) * noise
    for f, (mode, tone_hz) in carriers.items():
        audio_n = int(np.ceil(n * 48_000 / fs)) + 1
        t = np.arange(audio_n) / 48_000
        tx = hr.Transmitter(mode, 48_000.0, fs, f)
        x += 0.3 * tx.process((0.5 * np.sin(2 * np.pi * tone_hz * t)).astype(np.float32))[:n]
    return x.astype(np.complex64)


def composed(mode: str, fs: float, offsets, n_channels: int, x: np.ndarray, squelch, **opts) -> np.ndarray:
    """The rows as documented: Channelizer row b (b = the nearest channel),
    then a Receiver at 2*fs/n_channels tuned to the rest of the offset."""
    spacing = fs / n_channels
    oversample = opts.pop("oversample", 2)
    rows = hr.Channelizer(fs, n_channels, oversample, opts.pop("stopband_db", 70.0)).process(x)
    out = []
    for f, sq in zip(offsets, squelch):
        b = round(f / spacing)
        rx = hr.Receiver(mode, oversample * spacing, f - b * spacing, squelch_db=sq, **opts)
        out.append(rx.process(rows[b % n_channels]))
    return np.array(out)


def in_blocks(bank, x: np.ndarray, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    cuts = np.sort(rng.integers(0, len(x) + 1, size=12))
    cuts[:3] = [0, 1, 1 + rng.integers(0, 40)]  # an empty block, one sample, a partial frame
    return np.concatenate([bank.process(np.ascontiguousarray(p)) for p in np.split(x, np.sort(cuts))], axis=1)


# mode, offsets, n_channels, squelch per channel, options. Channel counts are
# not powers of two; offsets include the band's edges, off-grid channels and
# two channels on one channelizer row.
CASES = [
    ("nbfm", [-800_000.0, -25_000.0, 0.0, 25_000.0, 400_000.0], 64, [-40.0, None, -40.0, -60.0, -40.0], {}),
    ("nbfm", list(np.arange(-8, 9) * 25_000.0 + 1_500.0), 64, -45.0, {"audio_fs": 16_000.0}),
    ("am", [-200_000.0, 3_000.0, 200_000.0], 32, None, {"bandwidth_hz": 8_000.0}),
    ("am", [-300_000.0, 2_000.0, 60_000.0, 760_000.0], 32, -50.0, {"oversample": 1, "audio_fs": 24_000.0}),
    ("usb", [-100_000.0, 99_000.0, 99_000.0], 64, None, {}),
    ("lsb", [-100_000.0, 100_000.0, 51_000.0], 64, None, {}),
    ("cw", [60_000.0, 10_400.0], 64, -50.0, {}),
    ("pm", [25_000.0, -775_000.0, 50_000.0], 64, None, {}),
    ("wbfm", [0.0, 400_000.0, -400_000.0], 8, None, {"stopband_db": 80.0, "bandwidth_hz": 180_000.0}),
]


@pytest.mark.parametrize("mode, offsets, n_channels, squelch, opts", CASES, ids=[c[0] for c in CASES])
def test_rows_are_the_composition_bit_for_bit_for_any_split(mode, offsets, n_channels, squelch, opts):
    carriers = {offsets[0]: ("nbfm" if mode == "nbfm" else mode, 1_000.0)}
    if mode in ("nbfm", "am", "pm", "wbfm"):
        carriers[offsets[-1]] = (mode, 700.0)
    x = band(FS, carriers, 40_000, seed=len(offsets))
    sq = squelch if isinstance(squelch, list) else [squelch] * len(offsets)
    want = composed(mode, FS, offsets, n_channels, x, sq, **opts)
    make = lambda: hr.ReceiverBank(mode, FS, offsets, squelch_db=squelch, n_channels=n_channels, **opts)  # noqa: E731
    whole = make().process(x)
    assert whole.shape == want.shape and whole.shape[0] == len(offsets) and whole.shape[1] > 0
    np.testing.assert_array_equal(whole.view(np.uint32), want.view(np.uint32))
    for seed in range(3):
        np.testing.assert_array_equal(in_blocks(make(), x, seed).view(np.uint32), want.view(np.uint32))


# mode, fs, audio_fs, n_channels, oversample: audio rates that divide the
# channel rate, that do not (a resampler by l/m), and equal to it.
COUNT_CASES = [
    ("nbfm", 1_600_000.0, 48_000.0, 64, 2),
    ("nbfm", 2_400_000.0, 44_100.0, 64, 2),
    ("am", 960_000.0, 11_025.0, 32, 1),
    ("usb", 2_048_000.0, 16_000.0, 128, 2),
    ("wbfm", 2_400_000.0, 48_000.0, 8, 2),
]


@pytest.mark.parametrize("mode, fs, audio_fs, n_channels, oversample", COUNT_CASES, ids=[c[0] for c in COUNT_CASES])
def test_each_call_gives_what_a_channelizer_and_receiver_give_for_the_same_blocks(mode, fs, audio_fs, n_channels,
                                                                                   oversample):
    """Call by call, the bank's count is the channelizer's frames so far
    through a receiver's count (never above ceil(n * audio_fs / fs) for n
    input samples so far) and its rows are those receivers' samples; blocks
    of random sizes, several of them longer than the bank's internal pass."""
    rng = np.random.default_rng(n_channels)
    offsets = [0.0, fs / n_channels]
    bank = hr.ReceiverBank(mode, fs, offsets, audio_fs=audio_fs, n_channels=n_channels, oversample=oversample,
                           squelch_db=[None, -60.0])
    chz = hr.Channelizer(fs, n_channels, oversample, 70.0)
    fs_ch = oversample * fs / n_channels
    rx = [hr.Receiver(mode, fs_ch, 0.0, audio_fs=audio_fs), hr.Receiver(mode, fs_ch, 0.0, audio_fs=audio_fs,
                                                                         squelch_db=-60.0)]
    seen = made = 0
    for size in list(rng.integers(0, 3 * n_channels, size=40)) + list(rng.integers(30_000, 70_000, size=3)):
        x = (0.01 * (rng.standard_normal(size) + 1j * rng.standard_normal(size))).astype(np.complex64)
        got = bank.process(x)
        rows = chz.process(x)
        want = np.array([rx[0].process(rows[0]), rx[1].process(rows[1])])
        seen += size
        made += got.shape[1]
        assert got.shape == want.shape, (seen, got.shape, want.shape)
        assert made <= int(np.ceil(seen * audio_fs / fs)), (seen, made)
        np.testing.assert_array_equal(got.view(np.uint32), want.view(np.uint32))


def test_a_band_comes_out_on_its_rows_and_squelched_rows_stay_silent():
    offsets = list(np.arange(-16, 16) * 25_000.0)
    tones = {-300_000.0: 600.0, 25_000.0: 1_100.0, 375_000.0: 1_700.0}
    x = band(FS, {f: ("nbfm", t) for f, t in tones.items()}, 320_000, seed=3)
    bank = hr.ReceiverBank("nbfm", FS, offsets, squelch_db=-30.0)
    assert bank.n_channels == 64 and bank.channel_fs == 50_000.0
    y = bank.process(x)
    assert y.shape == (32, 9_600)
    for k, f in enumerate(offsets):
        tail = y[k, len(y[k]) // 2:].astype(np.float64)
        if f in tones:
            assert bank.is_open(k)
            spectrum = np.abs(np.fft.rfft(tail * np.hanning(len(tail))))
            peak_hz = np.argmax(spectrum) * 48_000 / len(tail)
            assert abs(peak_hz - tones[f]) < 10, (f, peak_hz)
            assert 0.1 < np.sqrt(np.mean(tail ** 2)) < 0.5
        else:
            assert not bank.is_open(k)
            assert not np.any(tail), f


@pytest.mark.parametrize("kwargs, match", [
    ({"offsets_hz": [0.0, 12_500.0], "n_channels": 64}, r"offsets_hz\[1\] must be a channel whose band"),
    ({"offsets_hz": [0.0, 900_000.0]}, r"offsets_hz\[1\] must be within \+-fs/2"),
    ({"offsets_hz": [0.0, 25_000.0], "squelch_db": [-40.0]}, r"squelch_db must be a scalar or a sequence of 2"),
    ({"offsets_hz": [0.0], "n_channels": 48}, r"n_channels must be a power of two"),
    ({"offsets_hz": [0.0], "n_channels": 128}, r"audio_fs must be above 0 and at most fs = 25000"),
    ({"offsets_hz": []}, r"offsets_hz must be a non-empty sequence"),
    ({"offsets_hz": [0.0], "bandwidth_hz": 2_000_000.0}, r"offsets_hz: no channelizer"),
    ({"offsets_hz": [0.0], "oversample": 3}, r"oversample must be 1 or 2, got 3"),
    ({"offsets_hz": [0.0, 30_000.0], "n_channels": 64, "oversample": 1, "bandwidth_hz": 12_000.0,
      "audio_fs": 24_000.0}, r"offsets_hz\[1\] must be a channel whose band \(12000 Hz wide\) lies within \+-10000 Hz"),
])
def test_bad_arguments_are_refused_by_name(kwargs, match):
    with pytest.raises(ValueError, match=match):
        hr.ReceiverBank("nbfm", FS, **kwargs)


def test_attributes_read_back():
    bank = hr.ReceiverBank("usb", 240_000.0, [-30_000.0, 15_000.0], squelch_db=[None, -50.0], audio_fs=24_000.0)
    assert (bank.mode, bank.fs, bank.offsets_hz, bank.squelch_db) == ("usb", 240_000.0, (-30_000.0, 15_000.0),
                                                                      (None, -50.0))
    assert bank.n_channels == 16 and bank.spacing_hz == 15_000.0 and bank.channel_fs == 30_000.0
    assert bank.rows == (14, 1) and len(bank) == 2 and bank.bandwidth_hz == 2_800.0
