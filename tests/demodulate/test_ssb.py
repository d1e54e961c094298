"""SsbProductDemod: BFO mixing (real part), low-pass pair, DC blocker."""
import numpy as np
import pytest

import halvo_sdr
from conftest import assert_same_bits, assert_same_bits_any_nan
from .demod_cases import INF, NAN, SIGNAL_KINDS, iq_signal, tone, tone_amplitude
from models.demod import ssb_product_demod


# (fs, bfo_hz, audio_bw_hz)
PARAMS = [
    (48000.0, 1500.0, 2700.0),
    (8000.0, 0.0, 3000.0),      # the phasor stays 1 + 0j
    (8000.0, -1000.0, 3000.0),  # negative BFO
    (0.0, 1500.0, 2700.0),      # all NaN
    (0.0, 0.0, 0.0),
    (48000.0, 1500.0, 0.0),
    (48000.0, 1500.0, -300.0),
    (NAN, 1500.0, 2700.0),
    (48000.0, INF, 2700.0),     # NaN oscillator step
    (8000.0, 3999.0, 3000.0),   # BFO near fs / 2
]


@pytest.mark.parametrize("fs, bfo, bw", PARAMS)
@pytest.mark.parametrize("kind", SIGNAL_KINDS)
def test_matches_model(fs, bfo, bw, kind):
    x = iq_signal(kind, seed=12)
    assert_same_bits_any_nan(halvo_sdr.SsbProductDemod(fs, bfo, bw).process(x), ssb_product_demod(x, fs, bfo, bw))


def test_matches_model_across_renormalisation():
    # The 1024th advance renormalises the BFO.
    x = iq_signal("noise", 1100, seed=13)
    assert_same_bits_any_nan(halvo_sdr.SsbProductDemod(48000.0, 1234.5, 2700.0).process(x),
                         ssb_product_demod(x, 48000.0, 1234.5, 2700.0))


def test_zero_sample_rate_gives_all_nan():
    out = halvo_sdr.SsbProductDemod(0.0, 1500.0, 2700.0).process(iq_signal("noise", 50))
    assert out.shape == (50,) and np.isnan(out).all()


@pytest.mark.parametrize("bfo", [1500.0, -1500.0])
@pytest.mark.parametrize("side", [+1, -1], ids=["upper", "lower"])
def test_both_sidebands_give_the_audio_tone(bfo, side):
    fs, a, n = 48000.0, 700.0, 24000
    y = halvo_sdr.SsbProductDemod(fs, bfo, 2700.0).process(tone(bfo + side * a, fs, n))
    tail = y[-4800:]  # 70 periods, settled
    assert tone_amplitude(tail, a, fs) == pytest.approx(1.0, abs=0.02)  # pair at 700 Hz: about -0.06 dB
    fitted = tone_amplitude(tail, a, fs) * np.sqrt(2) / 2
    assert np.sqrt(np.mean(tail**2)) == pytest.approx(fitted, rel=0.01)  # nothing else in the output


def test_tone_at_bfo_gives_decaying_dc():
    fs, bfo = 48000.0, 1500.0
    y = halvo_sdr.SsbProductDemod(fs, bfo, 2700.0).process(tone(bfo, fs, 48000))
    assert y[:100].max() > 0.9      # the mixed tone is a constant 1...
    assert abs(y[-1]) < 1e-4        # ...that the DC blocker removes


def test_zero_bfo_ignores_the_quadrature_part():
    x = iq_signal("noise", 500, seed=4)
    real_only = x.real.astype(np.complex64)
    assert_same_bits(halvo_sdr.SsbProductDemod(8000.0, 0.0, 3000.0).process(x),
                     halvo_sdr.SsbProductDemod(8000.0, 0.0, 3000.0).process(real_only))
