"""SsbPhasingMod: agreement with the float32 model, block splits and grouping,
the frequency plan and the sideband relations."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits_any_nan
from models.mod import SsbPhasingModel
from .helpers import odd_signal


# (fs, audio_bw_hz, audio_if_hz, rf_hz, usb)
MODEL_CASES = {
    "usb": (48000.0, 1500.0, 1500.0, 10000.0, True),
    "lsb": (48000.0, 1500.0, 1500.0, 10000.0, False),
    "rf 0": (48000.0, 3000.0, 1500.0, 0.0, True),
    "negative rf and if": (8000.0, 1200.0, -1100.0, -2500.0, False),
    "if 0": (44100.0, 2000.0, 0.0, 5000.0, True),
    "bw 0": (48000.0, 0.0, 1500.0, 3000.0, True),
    "bw above nyquist": (8000.0, 6000.0, 1000.0, 3000.0, False),
    "small negative bw (unstable)": (48000.0, -300.0, 1000.0, 3000.0, True),
    "fs 0": (0.0, 1500.0, 1500.0, 10000.0, True),
    "fs NaN": (np.nan, 1500.0, 1500.0, 10000.0, False),
}


@pytest.mark.parametrize("tail", [(), (np.inf,), (np.nan,)], ids=["finite", "inf", "NaN"])
@pytest.mark.parametrize("case", MODEL_CASES.values(), ids=MODEL_CASES.keys())
def test_matches_model(case, tail, rng):
    x = odd_signal(rng, 300, tail)
    got, want = halvo_sdr.SsbPhasingMod(*case).process(x), SsbPhasingModel(*case).process(x)
    assert_same_bits_any_nan(got, want)
    if case[0] == 0:
        assert np.isnan(got.view(np.float32)).all()
    if tail:  # a non-finite sample spoils the filters for good
        assert not np.isfinite(got[300 - 30:]).any()
        assert np.isnan(got[300 - 20:].view(np.float32)).all()


@pytest.mark.parametrize("n", range(10))
def test_every_short_length_and_its_splits(n, rng):
    # The loop takes four samples at a time plus a remainder; no length and
    # no cut may change a bit.
    case = (48000.0, 2400.0, 1500.0, 9000.0, False)
    x = odd_signal(rng, 300)[250:250 + n]
    want = SsbPhasingModel(*case).process(x)
    assert_same_bits_any_nan(halvo_sdr.SsbPhasingMod(*case).process(x), want)
    for cut in range(1, n):
        m = halvo_sdr.SsbPhasingMod(*case)
        assert_same_bits_any_nan(np.concatenate([m.process(x[:cut]), m.process(x[cut:])]), want)


def spectrum_db(y, fs):
    """Magnitude spectrum in dB of amplitude, for tones on bin centres."""
    mag = np.abs(np.fft.fft(y.astype(np.complex128))) / len(y)
    return np.fft.fftfreq(len(y), 1 / fs), 20 * np.log10(mag + 1e-30)


@pytest.mark.parametrize("usb, wanted, image", [(True, 10500.0, 12500.0), (False, 9500.0, 7500.0)])
def test_frequency_plan(usb, wanted, image):
    fs, n_settle, n = 48000.0, 4800, 4800  # 10 Hz bins: every product on a bin centre
    t = np.arange(n_settle + n)
    tone = np.cos(2 * np.pi * 1000.0 / fs * t).astype(np.float32)
    y = halvo_sdr.SsbPhasingMod(fs, 1500.0, 1500.0, 10000.0, usb).process(tone)[n_settle:]
    freqs, db = spectrum_db(y, fs)
    assert freqs[np.argmax(db)] == wanted
    peak = db.max()
    assert 10 ** (peak / 20) == pytest.approx(0.5, rel=0.05)  # half the tone's amplitude
    assert peak - db[freqs == image][0] == pytest.approx(22.0, abs=2.0)
    # nothing else comes close: the next strongest component is the image
    others = np.delete(db, [np.argmax(db), np.flatnonzero(freqs == image)[0]])
    assert others.max() < db[freqs == image][0] - 20


def test_usb_reverses_the_audio_band():
    fs, n = 48000.0, 9600
    t = np.arange(n)
    for f_audio in (600.0, 1000.0, 2000.0):
        tone = np.sin(2 * np.pi * f_audio / fs * t).astype(np.float32)
        for usb, expect in ((True, 10000.0 + 1500.0 - f_audio), (False, 10000.0 - 1500.0 + f_audio)):
            y = halvo_sdr.SsbPhasingMod(fs, 1500.0, 1500.0, 10000.0, usb).process(tone)[4800:]
            freqs, db = spectrum_db(y, fs)
            assert freqs[np.argmax(db)] == expect


def test_sidebands_are_conjugates_at_rf_0(rng):
    x = rng.normal(0, 0.5, 3000).astype(np.float32)
    upper = halvo_sdr.SsbPhasingMod(48000.0, 3000.0, 1500.0, 0.0, True).process(x)
    lower = halvo_sdr.SsbPhasingMod(48000.0, 3000.0, 1500.0, 0.0, False).process(x)
    assert np.array_equal(upper.conj(), lower)
    assert np.any(upper.imag != 0)


def test_if_0_is_double_sideband(rng):
    x = rng.normal(0, 0.5, 4800).astype(np.float32)
    upper = halvo_sdr.SsbPhasingMod(48000.0, 3000.0, 0.0, 7000.0, True).process(x)
    lower = halvo_sdr.SsbPhasingMod(48000.0, 3000.0, 0.0, 7000.0, False).process(x)
    assert np.array_equal(upper, lower)
    # the low-passed audio times the RF phasor: the same audio on both sides
    freqs, db = spectrum_db(upper, 48000.0)
    pairs = [(db[freqs == 7000.0 + d][0], db[freqs == 7000.0 - d][0]) for d in (200.0, 800.0, 1600.0)]
    assert all(abs(a - b) < 0.05 for a, b in pairs)


def test_first_sample_uses_phasors_after_one_advance():
    # x = 1 into fresh filters: I = b0^2*cos(w_if), Q = b0^2*sin(w_if); the
    # output is (I + jQ)(cos w_rf + j sin w_rf).
    fs, bw, f_if, f_rf = 48000.0, 1500.0, 1500.0, 10000.0
    out = halvo_sdr.SsbPhasingMod(fs, bw, f_if, f_rf, True).process(np.ones(1, np.float32))[0]
    w = 2 * np.pi * 0.9 * bw / fs
    c = np.cos(w)
    b0 = 0.5 * (1 - c) / (1 + np.sin(w) / np.sqrt(2))
    want = b0 ** 2 * np.exp(2j * np.pi * (f_if + f_rf) / fs)
    assert out == pytest.approx(want, rel=1e-5)
