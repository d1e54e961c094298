"""halvo_radio's audio stage, Receiver and Transmitter from Python: any
block split gives the bits of one call, a tone survives Transmitter ->
Receiver in every mode, attributes read back, and bad arguments are refused
by name. (The float32 models of the audio stage run in CTest.)"""
from __future__ import annotations

import math
from fractions import Fraction

import numpy as np
import pytest

import halvo_radio as hr

AUDIO_FS = 48_000.0
# Per mode: capture rate and channel offset (wbfm needs a wider capture).
BAND = {m: (240_000.0, 30_000.0) for m in hr.MODES}
BAND["wbfm"] = (960_000.0, 200_000.0)


def tone(seconds: float, f: float = 1000.0, level: float = 0.5) -> np.ndarray:
    t = np.arange(int(seconds * AUDIO_FS)) / AUDIO_FS
    return (level * np.sin(2 * np.pi * f * t)).astype(np.float32)


def in_blocks(obj, x: np.ndarray, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    cuts = np.sort(rng.integers(0, len(x) + 1, size=10))
    return np.concatenate([obj.process(np.ascontiguousarray(p)) for p in np.split(x, cuts)])


def tone_fit(y: np.ndarray, f: float = 1000.0) -> tuple[float, float]:
    """SNR (dB) and amplitude of the f tone in the second half of y."""
    y = y[len(y) // 2:].astype(np.float64)
    n = np.arange(len(y)) / AUDIO_FS
    a = np.stack([np.sin(2 * np.pi * f * n), np.cos(2 * np.pi * f * n), np.ones_like(n)], 1)
    c, *_ = np.linalg.lstsq(a, y, rcond=None)
    fit = a[:, :2] @ c[:2]
    return 10 * np.log10(np.sum(fit ** 2) / np.sum((y - a @ c) ** 2)), float(np.hypot(c[0], c[1]))


RNG = np.random.default_rng(11)
NOISE_IQ = ((RNG.normal(size=30_000) + 1j * RNG.normal(size=30_000)) * 0.3).astype(np.complex64)
NOISE_AUDIO = (RNG.normal(size=30_000) * 0.3).astype(np.float32)


@pytest.mark.parametrize("make, x", [
    (lambda: hr.Deemphasis(48_000.0), NOISE_AUDIO),
    (lambda: hr.Preemphasis(44_100.0, 50.0), NOISE_AUDIO),
    (lambda: hr.PowerSquelch(48_000.0, -12.0, attack_ms=2.0), NOISE_IQ * np.repeat(np.float32([0, 1, 0.1]), 10_000)),
    (lambda: hr.Agc(48_000.0, target=0.3), NOISE_AUDIO * np.repeat(np.float32([1, 0.01, 3]), 10_000)),
] + [(lambda m=m: hr.Receiver(m, *BAND[m], squelch_db=-40.0 if m == "nbfm" else None), NOISE_IQ) for m in hr.MODES]
  + [(lambda m=m: hr.Transmitter(m, AUDIO_FS, *BAND[m]), NOISE_AUDIO[:6000]) for m in hr.MODES],
    ids=["deemphasis", "preemphasis", "squelch", "agc"] + [f"rx-{m}" for m in hr.MODES] + [f"tx-{m}" for m in hr.MODES])
def test_any_split_gives_the_bits_of_one_call(make, x):
    whole = make().process(x)
    for seed in range(3):
        np.testing.assert_array_equal(in_blocks(make(), x, seed).view(np.uint32), whole.view(np.uint32))


@pytest.mark.parametrize("mode, min_snr_db, level", [
    ("am", 30.0, 0.7), ("usb", 30.0, 0.7), ("lsb", 30.0, 0.7), ("nbfm", 40.0, 0.5), ("wbfm", 40.0, 0.5),
    ("pm", 30.0, 0.5),
])
def test_round_trip_tone(mode, min_snr_db, level):
    fs, offset = BAND[mode]
    iq = hr.Transmitter(mode, AUDIO_FS, fs, offset).process(tone(1.0))
    # Another station in the band must not leak into the channel.
    other = hr.Transmitter(mode, AUDIO_FS, fs, -offset).process(tone(1.0, 2300.0))
    audio = hr.Receiver(mode, fs, offset).process(iq + other)
    assert len(audio) == AUDIO_FS
    snr, amplitude = tone_fit(audio)
    assert snr >= min_snr_db
    assert amplitude == pytest.approx(level, rel=0.1)  # FM: half deviation in, 0.5 out; others levelled


@pytest.mark.parametrize("tau_us", [75.0, None])
def test_nbfm_passes_the_voice_band_as_the_deemphasis_predicts(tau_us):
    """A flat message at half deviation, 100 Hz to 3 kHz: the audio level is
    1/|1 + j 2 pi f tau| of it (1 without de-emphasis) within 0.75 dB."""
    fs, dev = 240_000.0, 5_000.0
    t = np.arange(int(0.3 * fs)) / fs
    for f in (100.0, 1_000.0, 2_300.0, 3_000.0):
        phase = 2 * np.pi * dev * np.cumsum(0.5 * np.sin(2 * np.pi * f * t)) / fs
        audio = hr.Receiver("nbfm", fs, 0.0, tau_us=tau_us).process(np.exp(1j * phase).astype(np.complex64))
        y = audio[len(audio) // 3:].astype(np.float64)
        n = (np.arange(len(y)) + len(audio) // 3) / AUDIO_FS
        c, *_ = np.linalg.lstsq(np.stack([np.sin(2 * np.pi * f * n), np.cos(2 * np.pi * f * n), np.ones_like(n)], 1),
                                y, rcond=None)
        want = 1.0 if tau_us is None else 1 / abs(1 + 2j * np.pi * f * tau_us * 1e-6)
        assert abs(20 * np.log10(np.hypot(c[0], c[1]) / 0.5 / want)) < 0.75, f


def speech_like(seconds: float) -> np.ndarray:
    """Harmonics of 150 Hz in syllables of 120 ms with quiet gaps: onsets
    and a crest factor near 4, as in speech."""
    t = np.arange(int(seconds * AUDIO_FS)) / AUDIO_FS
    voice = sum(np.sin(2 * np.pi * 150 * k * t + k * k) / k for k in range(1, 16))
    syllables = (np.sin(np.pi * t / 0.12) ** 2) * (np.floor(t / 0.12) % 3 != 2)
    return (0.25 * voice * syllables).astype(np.float32)


@pytest.mark.parametrize("mode", ["am", "usb", "lsb"])
def test_levelled_modes_keep_speech_within_full_scale(mode):
    fs, offset = BAND[mode]
    audio = hr.Receiver(mode, fs, offset).process(hr.Transmitter(mode, AUDIO_FS, fs, offset).process(speech_like(1.5)))
    assert np.abs(audio).max() <= 1.0
    assert np.abs(audio[len(audio) // 2:]).max() > 0.8   # levelled up to full scale, not squashed


@pytest.mark.parametrize("make, rate_ratio", [
    (lambda: hr.Receiver("nbfm", 240_000.0, 0.0), Fraction(48_000, 240_000)),
    (lambda: hr.Receiver("usb", 250_000.0, 1e4), Fraction(48_000, 250_000)),
    (lambda: hr.Receiver("am", 240_000.0, 0.0, audio_fs=44_100.0), Fraction(44_100, 240_000)),
    (lambda: hr.Receiver("wbfm", 960_000.0, 0.0), Fraction(48_000, 960_000)),
    (lambda: hr.Transmitter("nbfm", 48_000.0, 240_000.0, 0.0), Fraction(240_000, 48_000)),
    (lambda: hr.Transmitter("usb", 44_100.0, 250_000.0, 1e4), Fraction(250_000, 44_100)),
    (lambda: hr.Transmitter("am", 8_000.0, 240_000.0, 0.0), Fraction(240_000, 8_000)),
], ids=["rx-nbfm", "rx-usb-250k", "rx-am-44k1", "rx-wbfm", "tx-nbfm", "tx-usb-44k1", "tx-am-8k"])
def test_output_count_is_the_ceiling_of_the_input_time(make, rate_ratio):
    """Output sample j belongs to input time j / ratio: after n input samples
    in any blocks there are exactly ceil(n * ratio) outputs."""
    obj = make()
    x = (NOISE_IQ if isinstance(obj, hr.Receiver) else NOISE_AUDIO)[:3_000]
    rng = np.random.default_rng(5)
    n = made = 0
    for size in [0, 1, 1, 2, 3, 7, 11, 13] + list(rng.integers(0, 400, 12)):
        made += len(obj.process(x[n:n + size]))
        n += len(x[n:n + size])
        assert made == math.ceil(n * rate_ratio), n


def test_cw_gives_a_tone_at_the_pitch():
    fs, offset = BAND["cw"]
    key = np.ones(int(AUDIO_FS), np.float32)
    audio = hr.Receiver("cw", fs, offset, cw_pitch_hz=600.0).process(hr.Transmitter("cw", AUDIO_FS, fs, offset).process(key))
    snr, amplitude = tone_fit(audio, 600.0)
    assert snr >= 30.0 and amplitude > 0.3


def test_squelch_mutes_noise_and_opens_on_a_signal():
    fs, offset = BAND["nbfm"]
    quiet = (np.random.default_rng(2).normal(size=48_000) * 1e-3).astype(np.complex64)
    rx = hr.Receiver("nbfm", fs, offset, squelch_db=-30.0)
    assert not np.any(rx.process(quiet)) and not rx.is_open
    rx.process(hr.Transmitter("nbfm", AUDIO_FS, fs, offset).process(tone(0.2)))
    assert rx.is_open


def test_attributes_and_repr():
    rx = hr.Receiver("wbfm", 960_000.0, 1e5)
    assert (rx.bandwidth_hz, rx.deviation_hz, rx.tau_us, rx.squelch_db) == (200_000.0, 75_000.0, 75.0, None)
    assert hr.Receiver("nbfm", 240_000.0, 0.0, tau_us=None).tau_us is None
    assert "Receiver('wbfm', fs=960000.0" in repr(rx)
    sq = hr.PowerSquelch(48_000.0, -20.0)
    sq.set_threshold(-25.0)
    assert sq.threshold_db == -25.0 and "threshold_db=-25.0" in repr(sq)


@pytest.mark.parametrize("make, name", [
    (lambda: hr.Receiver("fm", 240_000.0, 0.0), "mode"),
    (lambda: hr.Receiver("nbfm", -1.0, 0.0), "fs"),
    (lambda: hr.Receiver("nbfm", 240_000.0, 0.0, tau_us=-5.0), "tau_us"),
    (lambda: hr.Transmitter("wbfm", AUDIO_FS, 240_000.0, 0.0), "bandwidth_hz"),
    (lambda: hr.Deemphasis(0.0), "fs"),
    (lambda: hr.Agc(48_000.0, target=-1.0), "target"),
    (lambda: hr.PowerSquelch(48_000.0, float("nan")), "threshold_db"),
])
def test_bad_arguments_are_refused_by_name(make, name):
    with pytest.raises(ValueError, match=name):
        make()
