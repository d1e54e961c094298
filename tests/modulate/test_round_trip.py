"""Modulate, then demodulate with the module's own demodulators, and recover
the message.

The message is band-limited noise (400 Hz to 2.4 kHz); CW uses Morse keying.
Measure: the Pearson correlation coefficient r between the recovered audio
and the reference, over a settled stretch, after the best whole-sample delay
(0..400 samples) of the recovered audio; plus, where the contract fixes it,
the least-squares scale at that delay. The reference is the message itself,
except for PM, whose demodulator outputs k times the phase change: there it
is the first difference of the message. r ignores the DC that a carrier
offset leaves in the FM and PM outputs, but not a sign inversion.

The demodulator low-pass corners sit well above the message band (4.5 kHz),
so their phase response barely disperses it; measured r is about 0.999 for
AM, FM and PM and 0.98 for CW, and the thresholds leave margin for rounding
only, not for a wrong sign, sideband or scale.
"""
import numpy as np
import pytest
from scipy import signal

import halvo_sdr

FS = 48000.0
N = 72000          # 1.5 s
SETTLE = 24000     # the low-pass pairs and the 2 Hz DC blocker settle first
MAX_DELAY = 400    # samples
DEMOD_BW = 5000.0  # demodulator audio_bw_hz: cut-off at 4.5 kHz


@pytest.fixture(scope="module")
def message():
    """Band-limited noise, 400 Hz to 2.4 kHz, peak 0.9."""
    rng = np.random.default_rng(2024)
    sos = signal.butter(6, [400.0, 2400.0], btype="bandpass", fs=FS, output="sos")
    m = signal.sosfilt(sos, rng.normal(size=N))
    return (0.9 * m / np.abs(m).max()).astype(np.float32)


def delayed(reference, d):
    return reference[SETTLE - d:len(reference) - d].astype(np.float64)


def aligned_correlation(reference, recovered):
    """(r, delay, least-squares scale) of the recovered audio against the
    reference delayed by 0..MAX_DELAY samples, over the settled stretch."""
    seg = recovered[SETTLE:].astype(np.float64)
    r, d = max((np.corrcoef(delayed(reference, d), seg)[0, 1], d) for d in range(MAX_DELAY + 1))
    ref = delayed(reference, d)
    ref_c, seg_c = ref - ref.mean(), seg - seg.mean()
    return r, d, float(ref_c @ seg_c / (ref_c @ ref_c))


def aligned_complex_correlation(reference, recovered):
    """|complex correlation| of the analytic signals, after the best delay: like
    r, but blind to a constant phase shift of every audio component."""
    seg = signal.hilbert(recovered[SETTLE:].astype(np.float64))  # after the transients
    seg -= seg.mean()
    analytic = signal.hilbert(reference.astype(np.float64))
    best = 0.0
    for d in range(MAX_DELAY + 1):
        ref = analytic[SETTLE - d:len(reference) - d]
        ref = ref - ref.mean()
        c = abs(np.vdot(ref, seg)) / np.sqrt(np.vdot(ref, ref).real * np.vdot(seg, seg).real)
        best = max(best, c)
    return best


def in_blocks(obj, x, size=4096):
    return np.concatenate([obj.process(x[i:i + size]) for i in range(0, len(x), size)])


@pytest.mark.parametrize("abs_approx", [False, True])
def test_am(message, abs_approx):
    tx = halvo_sdr.AmDsbMod(FS, 6000.0, 1.0, 0.5)
    rx = halvo_sdr.AmEnvelopeDemod(FS, DEMOD_BW, abs_approx)
    r, _, scale = aligned_correlation(message, in_blocks(rx, in_blocks(tx, message)))
    assert r > 0.99
    if not abs_approx:  # the exact envelope is 1 + 0.5*m
        assert scale == pytest.approx(0.5, rel=0.05)


@pytest.mark.parametrize("usb", [True, False])
def test_ssb(message, usb):
    # usb puts the audio band reversed at rf + if - f, lsb upright at
    # rf - if + f; either way a BFO at rf +- if brings audio f back to f.
    # Measured with the complex correlation: the Weaver low-pass delays the
    # audio at the IF, so the BFO meets it with a fixed phase offset and the
    # audio returns as m*cos(p) + hilbert(m)*sin(p), which r would punish.
    # Measured: about 0.990 on the right BFO, 0.05 on the mirror one.
    rf, f_if = 6000.0, 1500.0
    tx = halvo_sdr.SsbPhasingMod(FS, 1500.0, f_if, rf, usb)
    sent = in_blocks(tx, message)
    right, mirror = (rf + f_if, rf - f_if) if usb else (rf - f_if, rf + f_if)
    got = in_blocks(halvo_sdr.SsbProductDemod(FS, right, 4000.0), sent)
    assert aligned_complex_correlation(message, got) > 0.98
    # the mirror BFO hears the band inverted (3 kHz - f): nothing of the message
    wrong = in_blocks(halvo_sdr.SsbProductDemod(FS, mirror, 4000.0), sent)
    assert aligned_complex_correlation(message, wrong) < 0.2


def test_fm(message):
    dev = 3000.0
    tx = halvo_sdr.FmPhaseAccumMod(FS, dev, 6000.0)
    rx = halvo_sdr.FmQuadratureDemod(FS, dev, DEMOD_BW)
    r, _, scale = aligned_correlation(message, in_blocks(rx, in_blocks(tx, message)))
    assert r > 0.99
    # dev*x Hz reads as (2 pi dev x / fs) / dev
    assert scale == pytest.approx(2 * np.pi / FS, rel=0.05)


def test_pm(message):
    kp, k = 1.2, 0.5
    tx = halvo_sdr.PmDirectPhaseMod(FS, kp, 6000.0)
    rx = halvo_sdr.PmQuadratureDemod(FS, k, DEMOD_BW)
    first_difference = np.diff(message, prepend=np.float32(0))
    r, _, scale = aligned_correlation(first_difference, in_blocks(rx, in_blocks(tx, message)))
    assert r > 0.99
    # the first difference stresses the top of the band, where the low-pass
    # pair is already about 0.7 dB down
    assert scale == pytest.approx(k * kp, rel=0.1)


def morse(text, unit):
    """On-off keying of `text` (letters of PARIS), `unit` samples per dot."""
    code = {"P": ".--.", "A": ".-", "R": ".-.", "I": "..", "S": "..."}
    bits = []
    for letter in text:
        for mark in code[letter]:
            bits += [1] * (1 if mark == "." else 3) + [0]
        bits += [0, 0]
    bits += [0] * 4
    return np.repeat(np.array(bits, np.float32), unit)


def test_cw():
    key = morse("PARIS", unit=2880)  # 20 words per minute
    tx = halvo_sdr.CwKeyedMod(FS, 700.0, 4.0, 4.0)
    rx = halvo_sdr.CwEnvelopeDemod(FS, 700.0, 100.0)
    env = in_blocks(rx, in_blocks(tx, key))
    r, delay, scale = aligned_correlation(key, env)
    assert r > 0.97
    assert scale == pytest.approx(1.0, rel=0.1)
    # sliced at half the key-down level, the delayed envelope is the keying
    assert np.mean((env[delay:] > 0.5) == (key[:len(key) - delay] > 0.5)) > 0.99
