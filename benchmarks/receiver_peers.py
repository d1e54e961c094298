"""Receiver("nbfm") beside GNU Radio's NBFM chain, in one run: speed and audio SNR.

    /usr/bin/python3 benchmarks/receiver_peers.py BUILD/receiver_bench [--seconds 20]

The capture: 240 kHz complex, an FM voice-band message (tones at 400, 1000 and
1700 Hz, pre-emphasised 75 us, 5 kHz peak deviation) at +30 kHz, a second FM
signal at -50 kHz and white noise (carrier-to-noise 20 dB in the 16 kHz
channel). Both receivers go to 48 kHz audio with 75 us de-emphasis and a
power squelch that stays open: GNU Radio's freq_xlating_fir_filter_ccf /5
(70 dB, passband 6.25 kHz, stopband 12.5 kHz; Kaiser), pwr_squelch_cc and
nbfm_rx; halvo's Receiver("nbfm", 240e3, 30e3, squelch_db=-40) through the
C++ runner (`receiver_bench rx`). Speed: the median ns per input sample over
the repeats, GNU Radio's flowgraph timed without the Python-to-C++ copy; the
runner's process call timed by `receiver_bench` itself (its table). SNR: the
message's three tones, each fitted in amplitude and phase, against everything
else in the output, after the first 0.5 s.
"""
from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
import radio_peers  # noqa: E402

FS, AUDIO_FS, OFFSET, DEV = 240e3, 48e3, 30e3, 5e3


def message(n_audio: int) -> np.ndarray:
    t = np.arange(n_audio) / AUDIO_FS
    return (0.4 * np.sin(2 * np.pi * 400 * t) + 0.3 * np.sin(2 * np.pi * 1000 * t)
            + 0.25 * np.sin(2 * np.pi * 1700 * t))


def capture(seconds: float, seed: int = 3) -> tuple[np.ndarray, np.ndarray]:
    n = int(seconds * FS)
    m_audio = message(int(seconds * AUDIO_FS))
    # Pre-emphasis (the inverse of a 75 us one-pole at 48 kHz), then up to 240 kHz.
    a = np.exp(-1e6 / (AUDIO_FS * 75.0))
    pre = (m_audio - a * np.concatenate([[0.0], m_audio[:-1]])) / (1 - a)
    m = np.interp(np.arange(n) / FS, np.arange(len(pre)) / AUDIO_FS, pre)
    t = np.arange(n) / FS
    phase = 2 * np.pi * DEV * np.cumsum(m) / FS
    x = 0.5 * np.exp(1j * (2 * np.pi * OFFSET * t + phase))
    m2 = np.sin(2 * np.pi * 700 * t)
    x += 0.5 * np.exp(1j * (-2 * np.pi * 50e3 * t + 2 * np.pi * 5e3 * np.cumsum(m2) / FS))
    rng = np.random.default_rng(seed)
    noise_power = 0.25 / 100 * FS / 16e3  # 20 dB carrier-to-noise in 16 kHz
    x += np.sqrt(noise_power / 2) * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    return x.astype(np.complex64), m_audio


def snr_db(y: np.ndarray, ref_unused: np.ndarray) -> float:
    """Power of the three message tones (each fitted in amplitude and phase
    on its own, so a filter's phase response is not counted as noise) over
    the power of everything else, after the first 0.5 s."""
    skip = int(0.5 * AUDIO_FS)
    s = y[skip:].astype(np.float64)
    t = (skip + np.arange(len(s))) / AUDIO_FS
    basis = np.column_stack([f(2 * np.pi * hz * t) for hz in (400, 1000, 1700) for f in (np.cos, np.sin)])
    coef, *_ = np.linalg.lstsq(basis, s, rcond=None)
    fit = basis @ coef
    e = s - fit
    return float(10 * np.log10(np.dot(fit, fit) / np.dot(e, e)))


def gnuradio_audio(x: np.ndarray) -> np.ndarray | None:
    if radio_peers._gnuradio() is None:
        return None
    from gnuradio import analog, blocks, filter, gr
    from gnuradio.fft import window
    c = radio_peers.NBFM
    taps = filter.firdes.low_pass_2(1.0, c["fs"], (c["pass_hz"] + c["stop_hz"]) / 2, c["stop_hz"] - c["pass_hz"],
                                    c["stopband_db"], window.WIN_KAISER, 7.0)
    tb = gr.top_block()
    src = blocks.vector_source_c(x, False)
    xlate = filter.freq_xlating_fir_filter_ccf(5, taps, OFFSET, FS)
    squelch = analog.pwr_squelch_cc(-40.0, 1e-3, 0, False)
    rx = analog.nbfm_rx(audio_rate=int(AUDIO_FS), quad_rate=int(FS / 5), tau=75e-6, max_dev=DEV)
    sink = blocks.vector_sink_f()
    tb.connect(src, xlate, squelch, rx, sink)
    tb.run()
    return np.array(sink.data(), dtype=np.float32)


def main(argv: list[str] | None = None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("bench", help="path to the receiver_bench executable")
    p.add_argument("--seconds", type=float, default=20.0)
    p.add_argument("--repeats", type=int, default=5)
    a = p.parse_args(argv)
    x, m = capture(a.seconds)
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.cf32"), os.path.join(d, "out.f32")
        x.tofile(src)
        subprocess.run([a.bench, "rx", "nbfm", str(FS), str(OFFSET), "-40", src, dst], check=True)
        ours = np.fromfile(dst, dtype=np.float32)
    table = subprocess.run([a.bench], check=True, capture_output=True, text=True).stdout
    ours_ns = [float(line.split()[4]) for line in table.splitlines() if line.startswith("Receiver nbfm 240k")]
    gr_ns = radio_peers.gnuradio_nbfm(x, a.repeats)
    gr_audio = gnuradio_audio(x)
    print(f"halvo Receiver nbfm: {ours_ns[-1]:.2f} ns/sample (levels: {ours_ns}), SNR {snr_db(ours, m):.1f} dB")
    if gr_ns is None or gr_audio is None:
        print("gnuradio: missing")
    else:
        print(f"GNU Radio NBFM chain: {gr_ns:.2f} ns/sample, SNR {snr_db(gr_audio, m):.1f} dB; "
              f"ratio {gr_ns / ours_ns[-1]:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
