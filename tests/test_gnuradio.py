"""Round trips with GNU Radio 3.10 (Debian's `gnuradio` package), where it is
installed: our Transmitter("nbfm") received by GNU Radio's nbfm_rx, and GNU
Radio's nbfm_tx received by our Receiver("nbfm"). GNU Radio's Python is the
system's (/usr/bin/python3), so its flowgraph runs as a subprocess that reads
and writes raw sample files. Each direction must bring a known message back
with a stated signal-to-noise ratio; a wrong deviation scale, de-emphasis
or sideband shows as a low SNR or a wrong level."""
import os
import subprocess
import textwrap

import numpy as np
import pytest

from halvo_radio import Receiver, Transmitter

GR_PYTHON = "/usr/bin/python3"
# GNU Radio is not ours to sanitize: its interpreter runs without the sanitizer
# runtime that robustness/sanitize.sh preloads into every child process.
GR_ENV = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
AUDIO_FS, FS, DEV = 48_000.0, 240_000.0, 5_000.0
TONES = ((400.0, 0.3), (1_100.0, 0.25), (2_300.0, 0.2))   # the message: three tones, peak below full scale


def gnuradio_available():
    if os.environ.get("HALVO_SKIP_GNURADIO") or not os.path.exists(GR_PYTHON):
        return False
    proc = subprocess.run([GR_PYTHON, "-c", "from gnuradio import analog, blocks, gr"], capture_output=True,
                          env=GR_ENV)
    return proc.returncode == 0


pytestmark = pytest.mark.skipif(not gnuradio_available(),
                                reason="GNU Radio (Debian's gnuradio package) is not installed")


def run_flowgraph(tmp_path, body):
    """Run a GNU Radio top block whose middle is `body` (names src, snk, tb in scope)."""
    script = textwrap.dedent("""
        import sys
        from gnuradio import analog, blocks, gr
        tb = gr.top_block()
    """) + textwrap.dedent(body) + "\ntb.run()\n"
    proc = subprocess.run([GR_PYTHON, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=300,
                          env=GR_ENV)
    assert proc.returncode == 0, proc.stderr


def message(n):
    t = np.arange(n) / AUDIO_FS
    return sum(a * np.sin(2 * np.pi * f * t) for f, a in TONES).astype(np.float32)


def snr_db(audio, start):
    """Fit the message's tones (any phase and level) plus DC to audio[start:]:
    the fitted tones' power over what is left, in dB, and each tone's level
    relative to the one sent."""
    t = np.arange(start, len(audio)) / AUDIO_FS
    y = audio[start:].astype(np.float64)
    basis = np.stack([np.ones_like(t)] + [g(2 * np.pi * f * t) for f, _ in TONES for g in (np.sin, np.cos)], 1)
    coef, *_ = np.linalg.lstsq(basis, y, rcond=None)
    fit = basis @ coef
    levels = [np.hypot(coef[1 + 2 * i], coef[2 + 2 * i]) / a for i, (_, a) in enumerate(TONES)]
    return 10 * np.log10(np.sum((fit - coef[0]) ** 2) / np.sum((y - fit) ** 2)), levels


def noise(n, rms, seed):
    rng = np.random.default_rng(seed)
    return (rms / np.sqrt(2) * (rng.standard_normal(n) + 1j * rng.standard_normal(n))).astype(np.complex64)


def test_our_transmitter_into_gnuradio_nbfm_rx(tmp_path):
    audio = message(int(AUDIO_FS))
    iq = Transmitter("nbfm", AUDIO_FS, FS, 0.0, deviation_hz=DEV).process(audio)
    (iq + noise(len(iq), 0.01, 1)).astype(np.complex64).tofile(tmp_path / "tx.cf32")
    run_flowgraph(tmp_path, f"""
        src = blocks.file_source(gr.sizeof_gr_complex, "tx.cf32", False)
        rx = analog.nbfm_rx(audio_rate={int(AUDIO_FS)}, quad_rate={int(FS)}, tau=75e-6, max_dev={DEV})
        snk = blocks.file_sink(gr.sizeof_float, "rx.f32")
        tb.connect(src, rx, snk)
    """)
    got = np.fromfile(tmp_path / "rx.f32", np.float32)
    assert len(got) == len(audio)
    snr, levels = snr_db(got, 4_800)
    # Both ends use 75 us emphasis and +-1 = 5 kHz: the tones come back at their sent levels.
    assert snr > 30, snr
    np.testing.assert_allclose(levels, 1.0, rtol=0.1)


@pytest.fixture(scope="module")
def gnuradio_nbfm(tmp_path_factory):
    """The message through GNU Radio's nbfm_tx at 240 kHz, and that through our Receiver."""
    tmp_path = tmp_path_factory.mktemp("gr_tx")
    audio = message(int(AUDIO_FS))
    audio.tofile(tmp_path / "audio.f32")
    run_flowgraph(tmp_path, f"""
        src = blocks.file_source(gr.sizeof_float, "audio.f32", False)
        tx = analog.nbfm_tx(audio_rate={int(AUDIO_FS)}, quad_rate={int(FS)}, tau=75e-6, max_dev={DEV})
        snk = blocks.file_sink(gr.sizeof_gr_complex, "tx.cf32")
        tb.connect(src, tx, snk)
    """)
    iq = np.fromfile(tmp_path / "tx.cf32", np.complex64)
    assert len(iq) == len(audio) * int(FS // AUDIO_FS)
    return Receiver("nbfm", FS, 0.0, deviation_hz=DEV).process((iq + noise(len(iq), 0.01, 2)).astype(np.complex64))


def test_gnuradio_nbfm_tx_into_our_receiver(gnuradio_nbfm):
    snr, levels = snr_db(gnuradio_nbfm, 4_800)
    assert snr > 30, snr
    # GNU Radio's pre-emphasis has its own overall gain (about 1.56 at 400 Hz against the
    # analogue network's 1.02): compare the tones' levels with each other, not with 1.
    np.testing.assert_allclose(levels[1] / levels[0], 1.0, rtol=0.1)


def test_our_receiver_passes_the_voice_band_flat(gnuradio_nbfm):
    _, levels = snr_db(gnuradio_nbfm, 4_800)
    np.testing.assert_allclose(levels[2] / levels[0], 1.0, rtol=0.1)
