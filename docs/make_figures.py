"""Draws the figures of the class pages from the module itself.

    pip install . matplotlib
    python docs/make_figures.py                 # writes docs/figures/*.png
    python docs/make_figures.py --out /tmp/f    # somewhere else
    python docs/make_figures.py --only fm_quadrature_demod

Every picture comes from running halvo_sdr on generated signals or on the
bundled speech clip (examples/data/speech.wav); nothing is drawn by hand.
Uses matplotlib's Agg backend, so no display is needed.
"""
from __future__ import annotations

import argparse
import contextlib
import io
import runpy
import shutil
import sys
import tempfile
from pathlib import Path
from typing import Any, Callable

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import numpy.typing as npt  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

import halvo_sdr  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
from sdrio import SPEECH, interpolate, read_wav, spectrum_db  # noqa: E402

F32 = npt.NDArray[np.float32]
C64 = npt.NDArray[np.complex64]

plt.rcParams.update({"figure.dpi": 100, "font.size": 9, "axes.grid": True, "grid.alpha": 0.3,
                     "lines.linewidth": 1.0, "legend.fontsize": 8})


def tone(f: float, fs: float, n: int, amp: float = 1.0) -> F32:
    return np.asarray(amp * np.sin(2 * np.pi * f * np.arange(n) / fs), np.float32)


def phase_steps(x: npt.NDArray[np.complexfloating]) -> npt.NDArray[np.float64]:
    """Angle of x[n] * conj(x[n-1]) in radians, n >= 1."""
    x = np.asarray(x, np.complex128)
    return np.asarray(np.angle(x[1:] * np.conj(x[:-1])), np.float64)


def stft_db(x: npt.NDArray[np.complexfloating], fs: float, nfft: int = 512
            ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Two-sided spectrogram in dB: times (s), frequencies (Hz), power[freq, time]."""
    hop = nfft // 4
    frames = np.lib.stride_tricks.sliding_window_view(np.asarray(x), nfft)[::hop] * np.hanning(nfft)
    p = np.fft.fftshift(np.abs(np.fft.fft(frames, axis=1)) ** 2, axes=1).T
    f = np.fft.fftshift(np.fft.fftfreq(nfft, 1 / fs))
    t = (np.arange(p.shape[1]) * hop + nfft / 2) / fs
    return (np.asarray(t, np.float64), np.asarray(f, np.float64),
            np.asarray(10 * np.log10(p / p.max() + 1e-12), np.float64))


def speech_at(fs: float) -> F32:
    speech, speech_fs = read_wav(SPEECH)
    return interpolate(speech, int(fs // speech_fs))


# ------------------------------------------------------------- demodulators

def am_envelope_demod_data() -> dict[str, Any]:
    """The signals of am_envelope_demod.png."""
    fs, fc = 48_000.0, 5_000.0
    n = int(0.16 * fs)
    t = np.arange(n) / fs
    msg = tone(300, fs, n)
    tx = halvo_sdr.AmDsbMod(fs, fc, carrier_level=0.5, modulation_index=0.4).process(msg)
    tx[int(0.11 * fs):] = 0                      # the carrier drops out abruptly at 110 ms
    rng = np.random.default_rng(1)
    iq = (tx + 0.02 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))).astype(np.complex64)
    exact = halvo_sdr.AmEnvelopeDemod(fs, audio_bw_hz=3_000).process(iq)
    approx = halvo_sdr.AmEnvelopeDemod(fs, audio_bw_hz=3_000, abs_approx=True).process(iq)
    return {"fs": fs, "t": t, "msg": msg, "iq": iq, "exact": exact, "approx": approx}


def am_envelope_demod() -> Figure:
    d = am_envelope_demod_data()
    t, msg, iq, exact, approx = d["t"], d["msg"], d["iq"], d["exact"], d["approx"]
    fig, ax = plt.subplots(2, 1, figsize=(8, 6), sharex=True, constrained_layout=True)
    fig.suptitle("AmEnvelopeDemod: carrier at 5 kHz, envelope 0.5 + 0.4·sin(2π·300 t), "
                 "carrier off at 110 ms")
    ax[0].plot(t * 1e3, iq.real, lw=0.3, color="0.6", label="input, real part")
    ax[0].plot(t * 1e3, np.abs(iq), lw=0.8, label="input, |x|")
    ax[0].set(ylabel="input")
    ax[0].legend(loc="upper right")
    ax[1].plot(t * 1e3, exact, label="abs_approx=False (power, low-pass, root)")
    ax[1].plot(t * 1e3, approx, label="abs_approx=True (0.9482|re| + 0.392|im|: mean gain 0.85 on a turning carrier)")
    on = t < 0.11
    ax[1].plot(t[on] * 1e3, 0.4 * msg[on], ls=":", color="k", label="0.4 × message")
    ax[1].set(xlabel="time (ms)", ylabel="output (fs = 48 kHz, audio_bw_hz = 3 kHz)",
              ylim=(-0.45, 1.25))
    ax[1].annotate("the DC blocker takes the carrier level\naway over ~80 ms (2 Hz corner)",
                   (30, 0.62), xytext=(45, 0.95), fontsize=8, arrowprops={"arrowstyle": "->"})
    ax[1].annotate("carrier gone: the output\nsettles back, never NaN", (125, -0.25),
                   xytext=(118, 0.3), fontsize=8, arrowprops={"arrowstyle": "->"})
    ax[1].legend(loc="upper right")
    return fig


def cw_envelope_demod_data() -> dict[str, Any]:
    """The signals of cw_envelope_demod.png: the keying, the noisy input and
    the output for each smoother bandwidth."""
    fs = 8_000.0
    dot = int(fs * 1.2 / 25)                     # 25 words per minute
    cq = "-.-. --.-"                             # C Q
    units: list[int] = []
    for sym in cq:
        units += {"-": [1, 1, 1, 0], ".": [1, 0], " ": [0, 0]}[sym]
    key = np.repeat(np.array([0, 0] + units + [0, 0], np.float32), dot)
    n = len(key)
    t = np.arange(n) / fs
    tx = halvo_sdr.CwKeyedMod(fs, tone_hz=700, rise_ms=2, fall_ms=2).process(key)
    rng = np.random.default_rng(2)
    noise = 0.25 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    iq = (tx + noise).astype(np.complex64)
    out = {bw: halvo_sdr.CwEnvelopeDemod(fs, tone_hz=700, env_bw_hz=bw).process(iq) for bw in (100.0, 20.0)}
    return {"fs": fs, "t": t, "key": key, "noise": noise, "iq": iq, "out": out}


def cw_envelope_demod() -> Figure:
    d = cw_envelope_demod_data()
    t, key, iq = d["t"], d["key"], d["iq"]

    fig, ax = plt.subplots(2, 1, figsize=(8, 5.5), sharex=True, constrained_layout=True)
    fig.suptitle("CwEnvelopeDemod: \"CQ\" at 25 wpm, 700 Hz tone in noise, fs = 8 kHz")
    ax[0].plot(t, np.abs(iq), lw=0.3, color="0.5", label="input |x|")
    ax[0].plot(t, key, color="k", lw=0.8, label="keying")
    ax[0].set(ylabel="input")
    ax[0].legend(loc="upper right")
    for bw, style in ((100.0, {"lw": 0.6, "alpha": 0.7, "color": "C1"}), (20.0, {"lw": 1.6, "color": "C0"})):
        ax[1].plot(t, d["out"][bw], label=f"env_bw_hz = {bw:g}", zorder=3 if bw == 20.0 else 2, **style)
    ax[1].plot(t, key, color="k", lw=0.6, ls=":", label="keying")
    ax[1].set(xlabel="time (s)", ylabel="output (gain 1)")
    ax[1].legend(loc="upper right")
    return fig


def ssb_product_demod() -> Figure:
    bfo = 2_000.0
    # Two complex tones: 600 Hz above the BFO and 1100 Hz below it.
    fs, iq, out = ssb_product_demod_data()

    fig, ax = plt.subplots(2, 1, figsize=(8, 5.5), constrained_layout=True)
    fig.suptitle("SsbProductDemod: both sidebands land on the audio (fs = 16 kHz, bfo_hz = 2 kHz)")
    f, p = spectrum_db(iq, fs, 4096)
    ax[0].plot(f / 1e3, p)
    ax[0].axvline(bfo / 1e3, color="C3", ls="--", label="bfo_hz")
    ax[0].annotate("bfo + 600 Hz", ((bfo + 600) / 1e3, -6), xytext=(4.2, -20),
                   arrowprops={"arrowstyle": "->"})
    ax[0].annotate("bfo − 1100 Hz", ((bfo - 1100) / 1e3, -12), xytext=(-5, -20),
                   arrowprops={"arrowstyle": "->"})
    ax[0].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-120, 5),
              title="input: complex baseband, two tones")
    ax[0].legend(loc="upper left")
    f, p = spectrum_db(out[2000:], fs, 4096)
    ax[1].plot(f / 1e3, p)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-120, 5),
              title="output: audio at 600 Hz and 1100 Hz (Re(x·conj(BFO)), low-pass, DC blocker)")
    return fig


def fm_quadrature_demod_data() -> dict[str, Any]:
    """The signals of fm_quadrature_demod.png: FM speech received off tune in
    noise, and the output in units of the deviation."""
    fs, dev, offset = 48_000.0, 5_000.0, 1_200.0
    speech = speech_at(fs)
    n = len(speech)
    # A narrowband FM transmission of speech, received 1.2 kHz off tune, in noise.
    tx = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=dev, rf_hz=offset).process(speech)
    rng = np.random.default_rng(3)
    noise = 0.1 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    iq = (tx + noise).astype(np.complex64)
    out = halvo_sdr.FmQuadratureDemod(fs, dev_hz=dev, audio_bw_hz=4_000).process(iq)
    as_units = out * fs / (2 * np.pi)            # radians per sample / dev_hz -> units of deviation
    return {"fs": fs, "dev": dev, "offset": offset, "speech": speech, "tx": tx, "noise": noise, "iq": iq,
            "as_units": as_units, "t": np.arange(n) / fs}


def fm_quadrature_demod() -> Figure:
    d = fm_quadrature_demod_data()
    fs, dev, offset, speech, iq, as_units, t = (d[k] for k in ("fs", "dev", "offset", "speech", "iq", "as_units", "t"))

    fig, ax = plt.subplots(3, 1, figsize=(8, 8.5), constrained_layout=True)
    fig.suptitle(f"FmQuadratureDemod on FM speech: fs = 48 kHz, dev_hz = 5 kHz, "
                 f"tuned {offset / 1e3:g} kHz off, CNR ≈ 17 dB")
    ts, f, p = stft_db(iq, fs, 1024)
    mesh = ax[0].pcolormesh(ts, f / 1e3, p, vmin=-70, vmax=0, shading="auto", cmap="magma")
    fig.colorbar(mesh, ax=ax[0], label="power (dB re full scale)")
    ax[0].set(xlabel="time (s)", ylabel="frequency (kHz)", ylim=(-15, 15), title="input spectrogram (complex baseband)")
    ax[0].grid(False)
    ax[1].plot(t, as_units, lw=0.4, label="output × fs/(2π)")
    ax[1].axhline(offset / dev, color="C3", ls="--", lw=0.8,
                  label=f"tuning offset / dev_hz = {offset / dev:g}")
    ax[1].set(xlabel="time (s)", ylabel="units of deviation")
    ax[1].legend(loc="upper right")
    sl = slice(int(2.4 * fs), int(2.5 * fs))
    ax[2].plot(t[sl] * 1e3, speech[sl] + offset / dev, label="message + offset/dev_hz")
    ax[2].plot(t[sl] * 1e3, as_units[sl], label="output × fs/(2π)")
    ax[2].set(xlabel="time (ms)", ylabel="units of deviation", title="detail")
    ax[2].legend(loc="upper right")
    return fig


def pm_quadrature_demod_data() -> dict[str, Any]:
    """The signals of pm_quadrature_demod.png."""
    fs, kp = 8_000.0, 2.0
    n = int(0.05 * fs)
    t = np.arange(n) / fs
    msg = (0.8 * np.sin(2 * np.pi * 60 * t) * np.hanning(n)).astype(np.float32)
    iq = halvo_sdr.PmDirectPhaseMod(fs, kp_rad_per_unit=kp, rf_hz=0).process(msg)
    out = halvo_sdr.PmQuadratureDemod(fs, k=1.0, audio_bw_hz=3_000).process(iq)
    diff = kp * np.diff(msg, prepend=np.float32(0))
    return {"t": t, "kp": kp, "msg": msg, "iq": iq, "out": out, "diff": diff}


def pm_quadrature_demod() -> Figure:
    d = pm_quadrature_demod_data()
    t, kp, msg, iq, out, diff = d["t"], d["kp"], d["msg"], d["iq"], d["out"], d["diff"]
    fig, ax = plt.subplots(2, 1, figsize=(8, 5.5), sharex=True, constrained_layout=True)
    fig.suptitle("PmQuadratureDemod: k × the phase step per sample (fs = 8 kHz, k = 1)")
    ax[0].plot(t * 1e3, kp * msg, label="phase of the input, kp·m[n] (rad)")
    ax[0].plot(t * 1e3, np.unwrap(np.angle(iq)), ls=":", label="angle of the input samples")
    ax[0].set(ylabel="radians")
    ax[0].legend(loc="upper right")
    ax[1].plot(t * 1e3, out, label="output")
    ax[1].plot(t * 1e3, diff, ls=":", color="k", label="k·kp·(m[n] − m[n−1])")
    ax[1].set(xlabel="time (ms)", ylabel="radians per sample")
    ax[1].legend(loc="upper right")
    return fig


# --------------------------------------------------------------- modulators

def am_dsb_mod_spectrum() -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """The spectrum the AmDsbMod figure draws (and its test measures)."""
    fs = 48_000.0
    m = halvo_sdr.AmDsbMod(fs, rf_hz=6_000, carrier_level=0.5, modulation_index=0.5)
    return spectrum_db(m.process(tone(1_000, fs, int(fs), 0.8)), fs, 8192)


def am_dsb_mod() -> Figure:
    fs = 48_000.0
    n = int(0.004 * fs)
    t = np.arange(n) / fs
    msg = tone(500, fs, n, 0.9)
    fig, ax = plt.subplots(2, 1, figsize=(8, 6), constrained_layout=True)
    fig.suptitle("AmDsbMod: carrier_level = 0.5, modulation_index = 1, message 0.9·sin(2π·500 t)")
    for clamp in (False, True):
        mod = halvo_sdr.AmDsbMod(fs, rf_hz=0, carrier_level=0.5, modulation_index=1.0)
        mod.set_clamp(clamp)
        ax[0].plot(t * 1e3, mod.process(msg).real, label=f"set_clamp({clamp})")
    ax[0].axhline(0, color="k", lw=0.5)
    ax[0].set(xlabel="time (ms)", ylabel="envelope (rf_hz = 0: the real part)",
              title="over-modulated: below zero the carrier is inverted; the clamp limits to −1..+1")
    ax[0].legend(loc="lower left")
    f, p = am_dsb_mod_spectrum()
    ax[1].plot(f / 1e3, p)
    for level, what in ((0.5, "carrier 0.5"), (0.2, "sidebands 0.2")):
        ax[1].axhline(20 * np.log10(level), color="C3", ls="--", lw=0.7)
        ax[1].annotate(f"{what}: {20 * np.log10(level):.0f} dB", (-11.5, 20 * np.log10(level) + 1.5), color="C3")
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", xlim=(-12, 12), ylim=(-100, 0),
              title="rf_hz = 6 kHz, index 0.5, 1 kHz tone of 0.8:\n"
                    "carrier 0.5 at 6 kHz, sidebands 0.2 (index × tone / 2) at 5 and 7 kHz")
    return fig


def cw_keyed_mod_data() -> dict[str, Any]:
    """The signals of cw_keyed_mod.png: one keyed element, and the spectra of keyed dots."""
    fs = 48_000.0
    key = np.concatenate([np.zeros(int(0.005 * fs)), np.ones(int(0.03 * fs)),
                          np.zeros(int(0.025 * fs))]).astype(np.float32)
    t = np.arange(len(key)) / fs
    out = halvo_sdr.CwKeyedMod(fs, tone_hz=600, rise_ms=5, fall_ms=2).process(key)
    # Key clicks: 20 wpm dots with the shortest time constant against 5 ms ramps.
    dots = np.tile(np.repeat(np.array([1, 0], np.float32), int(0.06 * fs)), 30)
    spectra = []
    for rise in (0.1, 5.0):
        m = halvo_sdr.CwKeyedMod(fs, tone_hz=0, rise_ms=rise, fall_ms=rise)
        spectra.append((rise, *spectrum_db(m.process(dots), fs, 8192)))
    return {"t": t, "key": key, "out": out, "spectra": spectra}


def cw_keyed_mod() -> Figure:
    d = cw_keyed_mod_data()
    t, key, out = d["t"], d["key"], d["out"]
    fig, ax = plt.subplots(2, 1, figsize=(8, 6), constrained_layout=True)
    fig.suptitle("CwKeyedMod: tone_hz = 600, rise_ms = 5, fall_ms = 2, fs = 48 kHz")
    ax[0].plot(t * 1e3, out.real, lw=0.5, color="0.6", label="output, real part")
    ax[0].plot(t * 1e3, np.abs(out), label="|output|")
    ax[0].plot(t * 1e3, key, color="k", ls=":", label="keying input")
    ax[0].axvline(10, color="C3", lw=0.6)
    ax[0].annotate("63 % after rise_ms", (10.3, 0.55), fontsize=8, color="C3")
    ax[0].axvline(37, color="C3", lw=0.6)
    ax[0].annotate("37 % after fall_ms", (37.3, 0.55), fontsize=8, color="C3")
    ax[0].set(xlabel="time (ms)", ylabel="amplitude")
    ax[0].legend(loc="upper right")
    for rise, f, p in d["spectra"]:
        ax[1].plot(f / 1e3, p, label=f"rise_ms = fall_ms = {rise:g}")
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", xlim=(-3, 3), ylim=(-110, 0),
              title="spectrum of keyed dots, tone_hz = 0: slower ramps, fewer key clicks")
    ax[1].legend(loc="upper right")
    return fig


def ssb_phasing_spectra() -> list[tuple[bool, npt.NDArray[np.float64], npt.NDArray[np.float64]]]:
    """The spectra in ssb_phasing_mod.png: a 1 kHz tone through either sideband."""
    fs, f_if, rf = 48_000.0, 1_500.0, 10_000.0
    out = []
    for usb in (True, False):
        m = halvo_sdr.SsbPhasingMod(fs, audio_bw_hz=f_if, audio_if_hz=f_if, rf_hz=rf, usb=usb)
        f, p = spectrum_db(m.process(tone(1_000, fs, int(fs)))[4800:], fs, 8192)
        out.append((usb, f, p))
    return out


def ssb_product_demod_data() -> tuple[float, npt.NDArray[np.complex64], npt.NDArray[np.float32]]:
    """The input and output of ssb_product_demod.png: two tones either side of the BFO."""
    fs, bfo = 16_000.0, 2_000.0
    k = np.arange(int(fs))
    iq = (0.5 * np.exp(2j * np.pi * (bfo + 600) * k / fs)
          + 0.25 * np.exp(2j * np.pi * (bfo - 1_100) * k / fs)).astype(np.complex64)
    return fs, iq, halvo_sdr.SsbProductDemod(fs, bfo_hz=bfo, audio_bw_hz=3_000).process(iq)


def ssb_phasing_mod() -> Figure:
    fs, f_if, rf = 48_000.0, 1_500.0, 10_000.0
    n = int(fs)
    fig = plt.figure(figsize=(8, 8.5), constrained_layout=True)
    gs = fig.add_gridspec(3, 2)
    ax0 = fig.add_subplot(gs[0, :])
    fig.suptitle("SsbPhasingMod: fs = 48 kHz, audio_bw_hz = audio_if_hz = 1.5 kHz, rf_hz = 10 kHz")
    for usb, f, p in ssb_phasing_spectra():
        ax0.plot(f / 1e3, p, label=f"usb={usb}")
    ax0.axvline(rf / 1e3, color="k", lw=0.6, ls="--")
    for x, s in ((10.5, "rf + if − 1 kHz"), (9.5, "rf − if + 1 kHz")):
        ax0.annotate(s, (x, -6), xytext=(x + (1.2 if x > 10 else -4.2), -15),
                     arrowprops={"arrowstyle": "->"}, fontsize=8)
    ax0.set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", xlim=(5, 15), ylim=(-100, 0),
            title="1 kHz tone of amplitude 1: wanted product at half amplitude, the other ~22 dB down")
    ax0.legend(loc="upper right")
    # A rising sweep of audio shows which way the band comes out.
    k = np.arange(n)
    sweep = np.sin(2 * np.pi * (300 * k / fs + (2_400 / 2) * (k / fs) ** 2)).astype(np.float32)
    for col, usb in enumerate((True, False)):
        m = halvo_sdr.SsbPhasingMod(fs, audio_bw_hz=f_if, audio_if_hz=f_if, rf_hz=rf, usb=usb)
        ts, f, p = stft_db(m.process(sweep), fs, 2048)
        ax = fig.add_subplot(gs[1:, col])
        mesh = ax.pcolormesh(ts, f / 1e3, p, vmin=-80, vmax=0, shading="auto", cmap="magma")
        fig.colorbar(mesh, ax=ax, label="power (dB re full scale)")
        place = "rf + if − f_a (reversed)" if usb else "rf − if + f_a"
        ax.set(xlabel="time (s)", ylabel="frequency (kHz)", ylim=(6, 14),
               title=f"usb={usb}: audio sweep 0.3 → 2.7 kHz\nleaves at {place}")
        ax.axhline(rf / 1e3, color="w", lw=0.5, ls="--")
        ax.grid(False)
    return fig


def fm_phase_accum_spectra() -> list[tuple[float, npt.NDArray[np.float64], npt.NDArray[np.float64]]]:
    """The spectra of fm_phase_accum_mod.png: a 1 kHz tone at β = 0.5 and 2.5."""
    fs = 48_000.0
    out = []
    for dev in (500.0, 2_500.0):
        m = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=dev, rf_hz=0)
        f, p = spectrum_db(m.process(tone(1_000, fs, int(fs))), fs, 8192)
        out.append((dev, f, p))
    return out


def fm_phase_accum_mod() -> Figure:
    fs = 48_000.0
    n = int(0.02 * fs)
    t = np.arange(n) / fs
    msg = tone(200, fs, n)
    mod = halvo_sdr.FmPhaseAccumMod(fs, deviation_hz=3_000, rf_hz=2_000)
    first = mod.process(msg[: n // 2])
    mod.set_deviation(1_000)                     # from the next call on, no phase jump
    out = np.concatenate([first, mod.process(msg[n // 2:])])
    inst = phase_steps(out) * fs / (2 * np.pi)

    fig, ax = plt.subplots(2, 1, figsize=(8, 6), constrained_layout=True)
    fig.suptitle("FmPhaseAccumMod: instantaneous frequency rf_hz + deviation × x")
    ax[0].plot(t[1:] * 1e3, inst / 1e3, label="measured from the output")
    expected = 2_000 + np.where(np.arange(n) < n // 2, 3_000, 1_000) * msg
    ax[0].plot(t * 1e3, expected / 1e3, ls=":", color="k", label="rf_hz + deviation × x")
    ax[0].axvline(t[n // 2] * 1e3, color="C3", lw=0.6)
    ax[0].annotate("set_deviation(1000)", (t[n // 2] * 1e3 + 0.2, 4.4), color="C3", fontsize=8)
    ax[0].set(xlabel="time (ms)", ylabel="frequency (kHz)",
              title="rf_hz = 2 kHz, 200 Hz message, deviation 3 kHz, then 1 kHz")
    ax[0].legend(loc="lower left")
    for (dev, f, p), color, z in zip(fm_phase_accum_spectra(), ("C0", "C1"), (3, 2)):
        ax[1].plot(f / 1e3, p, color=color, lw=1.4 if z == 3 else 0.9, zorder=z,
                   label=f"deviation_hz = {dev:g} (β = {dev / 1000:g})")
        carson = 2 * (dev + 1_000) / 2e3             # half the Carson bandwidth, kHz
        for edge in (-carson, carson):
            ax[1].axvline(edge, color=color, ls="--", lw=0.8)
        ax[1].annotate(f"Carson ±{carson:g} kHz", (carson, -86), xytext=(carson + 0.1, -86 + 8 * (z == 2)),
                       color=color, fontsize=8)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", xlim=(-8, 8), ylim=(-90, 0),
              title="spectrum for a 1 kHz tone: lines every 1 kHz, Carson bandwidth 2(Δf + f_m) dashed")
    ax[1].legend(loc="upper left", fontsize=8)
    return fig


def pm_direct_phase_mod_data() -> dict[str, Any]:
    """The signals of pm_direct_phase_mod.png."""
    fs, kp = 8_000.0, np.pi / 2
    # Slow symbols of +-1 through a raised-cosine edge: the phase moves between -pi/2 and +pi/2.
    sym = np.repeat(np.array([1, -1, -1, 1, -1, 1, 1, -1], np.float32), 80)
    edge = np.hanning(41)
    msg = (np.convolve(sym, edge / edge.sum(), mode="same")).astype(np.float32)
    out = halvo_sdr.PmDirectPhaseMod(fs, kp_rad_per_unit=kp, rf_hz=0).process(msg)
    return {"t": np.arange(len(msg)) / fs, "kp": kp, "msg": msg, "out": out}


def pm_direct_phase_mod() -> Figure:
    d = pm_direct_phase_mod_data()
    t, kp, msg, out = d["t"], d["kp"], d["msg"], d["out"]

    fig = plt.figure(figsize=(8, 4.5), constrained_layout=True)
    gs = fig.add_gridspec(1, 3)
    ax0 = fig.add_subplot(gs[0, :2])
    ax1 = fig.add_subplot(gs[0, 2])
    fig.suptitle("PmDirectPhaseMod: phase = kp_rad_per_unit × x (kp = π/2, rf_hz = 0, fs = 8 kHz)")
    ax0.plot(t * 1e3, kp * msg, label="kp × x")
    ax0.plot(t * 1e3, np.angle(out), ls=":", color="k", label="angle of the output")
    ax0.set(xlabel="time (ms)", ylabel="radians")
    ax0.legend(loc="lower left")
    ax1.plot(out.real, out.imag, lw=0.6)
    ax1.set(xlabel="I", ylabel="Q", aspect="equal", xlim=(-1.2, 1.2), ylim=(-1.2, 1.2),
            title="output samples\n(on the unit circle)")
    return fig


FIGURES: dict[str, Callable[[], Figure]] = {f.__name__: f for f in (
    am_envelope_demod, cw_envelope_demod, ssb_product_demod, fm_quadrature_demod,
    pm_quadrature_demod, am_dsb_mod, cw_keyed_mod, ssb_phasing_mod, fm_phase_accum_mod,
    pm_direct_phase_mod)}

# ------------------------------------------------------------ halvo_radio
#
# Responses are measured through the objects themselves: one fresh object per
# test tone, the steady-state output projected onto the tone it should give.
# Each *_data function returns what its figure draws and what tests/test_docs.py
# checks against the promised mask.

def db(x: npt.ArrayLike) -> npt.NDArray[np.float64]:
    return np.asarray(20 * np.log10(np.maximum(np.abs(np.asarray(x)), 1e-12)), np.float64)


def cis(f: float, fs: float, n: int, start: int = 0) -> C64:
    """exp(2 pi j f k / fs) for k = start .. start+n-1, as complex64."""
    k = np.arange(start, start + n, dtype=np.float64)
    return np.asarray(np.exp(2j * np.pi * ((f / fs * k) % 1.0)), np.complex64)


def level_of(y: npt.NDArray[Any], f: float, fs: float, start: int) -> float:
    """|a| of the least-squares fit a * exp(2 pi j f k / fs) to y[k], k = start ..."""
    ref = np.exp(2j * np.pi * ((f / fs * np.arange(start, start + len(y), dtype=np.float64)) % 1.0))
    return float(abs(np.vdot(ref, np.asarray(y, np.complex128))) / len(y))


def response_grid(stop: float, nyquist: float) -> npt.NDArray[np.float64]:
    """Test frequencies 0 .. nyquist: 400 up to 3 x the stopband edge, 600 over the whole band."""
    return np.unique(np.concatenate([np.linspace(0, 3 * stop, 400), np.linspace(0, nyquist, 600)]))


def mask_lines(ax: Any, edge: float, stop: float, nyquist: float, stopband_db: float, scale: float = 1e3) -> None:
    """The promised mask: +-0.5 dB to `edge`, -stopband_db from `stop` on."""
    kw = {"color": "C3", "lw": 1.2}
    ax.plot([0, edge / scale], [0.5, 0.5], **kw, label="mask: ±0.5 dB, −%g dB" % stopband_db)
    ax.plot([0, edge / scale], [-0.5, -0.5], **kw)
    ax.plot([stop / scale, nyquist / scale], [-stopband_db, -stopband_db], **kw)
    ax.axvline(stop / scale, color="C3", ls=":", lw=0.8)


def lowpass_taps_data() -> dict[str, Any]:
    from halvo_radio import lowpass_taps
    fs, fp, fst, a = 48_000.0, 3_000.0, 5_000.0, 70.0
    h = lowpass_taps(fs, fp, fst, a)
    f = np.linspace(0, fs / 2, 8193)
    hf = np.abs(np.exp(-2j * np.pi * np.outer(f / fs, np.arange(len(h)))) @ h.astype(np.float64))
    return {"fs": fs, "passband_hz": fp, "stopband_hz": fst, "stopband_db": a, "taps": h, "f": f, "db": db(hf),
            "edge": fp, "stop": fst}


def radio_lowpass_taps() -> Figure:
    d = lowpass_taps_data()
    fig, ax = plt.subplots(1, 2, figsize=(9, 3.8), constrained_layout=True,
                           gridspec_kw={"width_ratios": [2, 1]})
    fig.suptitle(f"lowpass_taps({d['fs']:g}, {d['passband_hz']:g}, {d['stopband_hz']:g}, "
                 f"{d['stopband_db']:g}): {len(d['taps'])} float32 taps")
    ax[0].plot(d["f"] / 1e3, d["db"], label="response of the float32 taps")
    mask_lines(ax[0], d["passband_hz"], d["stopband_hz"], d["fs"] / 2, d["stopband_db"])
    ax[0].set(xlabel="frequency (kHz)", ylabel="gain (dB)", ylim=(-120, 5))
    ax[0].legend(loc="upper right")
    ax[1].plot(d["f"] / 1e3, d["db"])
    ax[1].axhline(0.5, color="C3")
    ax[1].axhline(-0.5, color="C3")
    ax[1].set(xlim=(0, d["passband_hz"] * 1.2 / 1e3), ylim=(-1, 1), xlabel="frequency (kHz)",
              title="passband, close up")
    return fig


def channel_selector_data() -> dict[str, Any]:
    """ChannelSelector(1.024 MS/s, 0 Hz, decimation 64, 8 kHz, transition 8 kHz):
    the gain from each input frequency to the output (where it lands after
    decimation), and a crowded band before and after."""
    from halvo_radio import ChannelSelector
    fs, dec, bw, tr, a = 1_024_000.0, 64, 8_000.0, 8_000.0, 70.0
    edge, stop = bw / 2, bw / 2 + tr
    freqs = response_grid(stop, fs / 2)
    settle, n_out = 64, 256
    gains = []
    for f in freqs:
        y = ChannelSelector(fs, 0.0, dec, bw, transition_hz=tr, stopband_db=a).process(
            cis(f, fs, (settle + n_out) * dec))
        # One tone in, one tone out (wherever it lands after decimation): its RMS is the gain.
        gains.append(float(np.sqrt(np.mean(np.abs(y[settle:].astype(np.complex128)) ** 2))))
    # A band of eight equal carriers 20 kHz apart with noise, the channel at 100 kHz.
    n = 1 << 18
    rng = np.random.default_rng(4)
    band = sum(cis(100_000.0 + 20_000.0 * k + 1_000.0, fs, n) for k in range(-4, 4))
    band = np.asarray(band + 1e-4 * (rng.standard_normal(n) + 1j * rng.standard_normal(n)), np.complex64)
    sel = ChannelSelector(fs, 100_000.0, dec, bw, transition_hz=tr, stopband_db=a)
    out = sel.process(band)
    return {"fs": fs, "decimation": dec, "bandwidth_hz": bw, "transition_hz": tr, "stopband_db": a,
            "edge": 0.9 * edge, "stop": stop, "f": freqs, "db": db(gains), "band": band,
            "out": out[sel.delay.__ceil__() + 16:], "fs_out": sel.fs_out}


def radio_channel_selector() -> Figure:
    d = channel_selector_data()
    fig = plt.figure(figsize=(9, 10), constrained_layout=True)
    gs = fig.add_gridspec(3, 2)
    fig.suptitle("ChannelSelector(1.024e6, offset_hz, 64, 8000, transition_hz=8000):\n"
                 "an 8 kHz channel, ≥ 70 dB from 12 kHz off centre, 16 kHz out")
    for col, (hi, what) in enumerate(((40_000.0, "near the channel"), (d["fs"] / 2, "up to fs/2"))):
        ax = fig.add_subplot(gs[0, col])
        ax.plot(d["f"] / 1e3, d["db"], label="measured: input frequency → output level")
        mask_lines(ax, d["edge"], d["stop"], d["fs"] / 2, d["stopband_db"])
        ax.set(xlim=(0, hi / 1e3), xlabel="input frequency − offset_hz (kHz)", ylabel="gain (dB)",
               ylim=(-130, 5), title=f"response, {what} (aliases included)")
        if col == 0:
            ax.legend(loc="lower left")
    ax = fig.add_subplot(gs[1, :])
    f, p = spectrum_db(d["band"], d["fs"], 16384)
    ax.plot(f / 1e3, p, lw=0.6)
    ax.axvspan(96, 104, color="C1", alpha=0.3, label="the channel, 100 kHz ± 4 kHz")
    ax.set(xlim=(0, 200), xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-100, 10),
           title="input: eight carriers 20 kHz apart (+1 kHz) in noise")
    ax.legend(loc="upper right")
    ax = fig.add_subplot(gs[2, :])
    f, p = spectrum_db(d["out"], d["fs_out"], 2048)
    ax.plot(f / 1e3, p, lw=0.8)
    ax.set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-130, 10),
           title="output at 16 kHz: the 101 kHz carrier at +1 kHz; the neighbours (±20 kHz) ≥ 70 dB down")
    return fig


def resampler_data() -> dict[str, Any]:
    """Resampler(240 kHz, 48 kHz, complex64): input frequency -> output level."""
    from halvo_radio import Resampler
    fs_in, fs_out, bw, a = 240_000.0, 48_000.0, 0.9, 70.0
    f_low = min(fs_in, fs_out) / 2
    edge, stop = bw * f_low, 2 * f_low - bw * f_low
    freqs = response_grid(stop, fs_in / 2)
    settle, n_out = 64, 256
    step = int(fs_in // fs_out)
    gains = [float(np.sqrt(np.mean(np.abs(
        Resampler(fs_in, fs_out, bandwidth=bw, stopband_db=a).process(cis(f, fs_in, (settle + n_out) * step))[settle:]
        .astype(np.complex128)) ** 2))) for f in freqs]
    # A wanted carrier at +10 kHz and one at +30 kHz, which 48 kHz would fold onto -18 kHz.
    n = 1 << 17
    x = np.asarray(cis(10_000.0, fs_in, n) + cis(30_000.0, fs_in, n), np.complex64)
    y = Resampler(fs_in, fs_out, bandwidth=bw, stopband_db=a).process(x)
    return {"fs_in": fs_in, "fs_out": fs_out, "bandwidth": bw, "stopband_db": a, "edge": edge, "stop": stop,
            "f": freqs, "db": db(gains), "x": x, "y": y[256:]}


def radio_resampler() -> Figure:
    d = resampler_data()
    fig, ax = plt.subplots(3, 1, figsize=(9, 9), constrained_layout=True)
    ax[0].plot(d["f"] / 1e3, d["db"], label="measured: input frequency → output level")
    mask_lines(ax[0], d["edge"], d["stop"], d["fs_in"] / 2, d["stopband_db"])
    ax[0].set(xlabel="input frequency (kHz)", ylabel="gain (dB)", ylim=(-130, 5),
              title="Resampler(240e3, 48e3): flat to 0.9 × 24 kHz, ≥ 70 dB from 26.4 kHz\n"
                    "(48 − 21.6: the first frequency whose alias reaches the passband) to 120 kHz")
    ax[0].legend(loc="upper right")
    f, p = spectrum_db(d["x"], d["fs_in"], 8192)
    ax[1].plot(f / 1e3, p, lw=0.7)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-140, 10),
              title="input at 240 kHz: carriers at +10 kHz and +30 kHz (equal levels)")
    f, p = spectrum_db(d["y"], d["fs_out"], 4096)
    ax[2].plot(f / 1e3, p, lw=0.7)
    ax[2].axvline(-18, color="C3", ls=":", lw=0.8)
    ax[2].annotate("where +30 kHz would fold", (-17.5, -40))
    ax[2].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-140, 10),
              title="output at 48 kHz: the +10 kHz carrier; the +30 kHz one ≥ 70 dB down at −18 kHz")
    return fig


def upconverter_data() -> dict[str, Any]:
    """Upconverter(48 kHz, 5, 0 Hz, 16 kHz): for input tones across +-24 kHz,
    the level at every place they come out at 240 kHz (the wanted one and
    the images k * 48 kHz away): the response over the whole output band."""
    from halvo_radio import Upconverter
    fs, interp, bw, a = 48_000.0, 5, 16_000.0, 70.0
    settle, n_in = 64, 512
    f_out, g = [], []
    for f in np.linspace(-fs / 2, fs / 2, 241)[:-1]:
        y = Upconverter(fs, interp, 0.0, bw, stopband_db=a).process(cis(f, fs, settle + n_in))[settle * interp:]
        for k in range(-interp // 2, interp // 2 + 1):
            fo = f + k * fs
            if abs(fo) <= fs * interp / 2:
                f_out.append(fo)
                g.append(level_of(y, fo, fs * interp, settle * interp))
    order = np.argsort(f_out)
    return {"fs": fs, "interpolation": interp, "bandwidth_hz": bw, "stopband_db": a, "edge": 0.9 * bw / 2,
            "stop": fs - bw / 2, "f": np.asarray(f_out)[order], "db": db(np.asarray(g)[order])}


def radio_upconverter() -> Figure:
    d = upconverter_data()
    fig, ax = plt.subplots(figsize=(9, 4), constrained_layout=True)
    ax.plot(np.abs(d["f"]) / 1e3, d["db"], ".", ms=2, label="measured: output level at each tone's place")
    mask_lines(ax, d["edge"], d["stop"], d["fs"] * d["interpolation"] / 2, d["stopband_db"])
    ax.set(xlabel="|output frequency − offset_hz| (kHz)", ylabel="gain (dB)", ylim=(-130, 5),
           title="Upconverter(48e3, 5, offset_hz, 16e3): images ≥ 70 dB down from 40 kHz (48 − 8) to 120 kHz")
    ax.legend(loc="upper right")
    return fig


def emphasis_data() -> dict[str, Any]:
    """Impulse responses of Deemphasis and Preemphasis (48 kHz, 75 us) as gains."""
    from halvo_radio import Deemphasis, Preemphasis
    fs, tau, n = 48_000.0, 75.0, 1 << 16
    impulse = np.zeros(n, np.float32)
    impulse[0] = 1
    de = np.fft.rfft(Deemphasis(fs, tau).process(impulse).astype(np.float64))
    pre = np.fft.rfft(Preemphasis(fs, tau).process(impulse).astype(np.float64))
    both = np.fft.rfft(Deemphasis(fs, tau).process(Preemphasis(fs, tau).process(impulse)).astype(np.float64))
    f = np.fft.rfftfreq(n, 1 / fs)
    analog = db(1 / np.abs(1 + 2j * np.pi * f * tau * 1e-6))
    return {"fs": fs, "tau_us": tau, "f": f, "de": db(de), "pre": db(pre), "both": db(both), "analog": analog}


def radio_emphasis() -> Figure:
    d = emphasis_data()
    fig, ax = plt.subplots(figsize=(9, 4), constrained_layout=True)
    f = d["f"][1:]
    ax.semilogx(f, d["analog"][1:], color="0.6", lw=3, label="analogue RC, 1 / |1 + j2πfτ|")
    ax.semilogx(f, d["de"][1:], label="Deemphasis(48e3, 75)")
    ax.semilogx(f, d["pre"][1:], label="Preemphasis(48e3, 75)")
    ax.semilogx(f, d["both"][1:], label="one after the other")
    corner = 1e6 / (2 * np.pi * d["tau_us"])
    ax.axvline(corner, color="C3", ls=":", lw=0.8)
    ax.annotate(f"1/(2πτ) = {corner:.0f} Hz: −3 dB", (corner * 1.1, -12))
    ax.set(xlabel="frequency (Hz)", ylabel="gain (dB)", xlim=(20, 24_000), ylim=(-25, 25),
           title="De- and pre-emphasis, τ = 75 µs at 48 kHz")
    ax.legend(loc="upper left")
    return fig


def power_squelch_data() -> dict[str, Any]:
    """PowerSquelch(48 kHz, -30 dB): noise at -50 dB with a carrier at -20 dB
    from 0.1 s to 0.3 s and at -31 dB (between the close and open levels) from
    0.3 s to 0.4 s."""
    from halvo_radio import PowerSquelch
    fs, n = 48_000.0, 24_000
    t = np.arange(n) / fs
    rng = np.random.default_rng(2)
    noise = 10 ** (-50 / 20) / np.sqrt(2) * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    amp = np.where((t >= 0.1) & (t < 0.3), 10 ** (-20 / 20), np.where((t >= 0.3) & (t < 0.4), 10 ** (-31 / 20), 0))
    x = np.asarray(noise + amp * np.exp(2j * np.pi * 1_000 * t), np.complex64)
    sq = PowerSquelch(fs, -30.0)
    out, is_open = [], []
    for i in range(0, n, 48):                               # 1 ms blocks, to follow is_open
        out.append(sq.process(x[i:i + 48]))
        is_open.append(sq.is_open)
    return {"fs": fs, "t": t, "x": x, "out": np.concatenate(out), "open_t": t[47::48], "is_open": np.array(is_open),
            "threshold_db": sq.threshold_db, "hysteresis_db": sq.hysteresis_db}


def radio_power_squelch() -> Figure:
    d = power_squelch_data()
    fig, ax = plt.subplots(2, 1, figsize=(9, 6), constrained_layout=True, sharex=True)
    fig.suptitle("PowerSquelch(48e3, threshold_db=−30): opens at −30 dB, closes 3 dB below, ramps of 1 and 10 ms")
    power = np.convolve(np.abs(d["x"]) ** 2, np.ones(96) / 96, mode="same")
    ax[0].plot(d["t"], 10 * np.log10(power), label="input power (2 ms mean)")
    ax[0].axhline(d["threshold_db"], color="C3", label="threshold")
    ax[0].axhline(d["threshold_db"] - d["hysteresis_db"], color="C3", ls="--", label="threshold − hysteresis")
    ax[0].set(ylabel="dB of full scale", ylim=(-60, -10))
    ax[0].legend(loc="upper right")
    ax[1].plot(d["t"], np.abs(d["out"]), lw=0.6, label="|output|")
    ax[1].step(d["open_t"], 0.12 * d["is_open"], where="post", color="C2", label="is_open (× 0.12)")
    ax[1].set(xlabel="time (s)", ylabel="amplitude")
    ax[1].legend(loc="upper right")
    return fig


def agc_data() -> dict[str, Any]:
    """Agc(48 kHz, target 0.5) on a 1 kHz tone whose level steps 0.01 -> 0.3 -> 0.003."""
    from halvo_radio import Agc
    fs = 48_000.0
    t = np.arange(int(7 * fs)) / fs
    amp = np.where(t < 1, 0.01, np.where(t < 2, 0.3, 0.003))
    x = np.asarray(amp * np.sin(2 * np.pi * 1_000 * t), np.float32)
    agc = Agc(fs)
    return {"fs": fs, "t": t, "x": x, "out": agc.process(x), "target": agc.target}


def radio_agc() -> Figure:
    d = agc_data()
    fig, ax = plt.subplots(figsize=(9, 4), constrained_layout=True)
    def rms(v: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
        return np.asarray(np.sqrt(np.convolve(np.asarray(v, np.float64) ** 2, np.ones(480) / 480, mode="same")))
    ax.semilogy(d["t"], rms(d["x"]), label="input RMS (10 ms)")
    ax.semilogy(d["t"], rms(d["out"]), label="output RMS (10 ms)")
    ax.axhline(d["target"], color="C3", ls=":", label="target 0.5")
    ax.set(xlabel="time (s)", ylabel="RMS", ylim=(1e-3, 3),
           title="Agc(48e3): a tone stepping 0.01 → 0.3 → 0.003 (×30, then ÷100) comes out at RMS 0.5:\n"
                 "a step up is held at the ceiling (1.0) for about attack_ms (10 ms); after a step down the gain climbs "
                 "by e per decay_ms (300 ms)")
    ax.legend(loc="lower left")
    return fig


def receiver_data() -> dict[str, Any]:
    """Three Transmitters in a 240 kHz band (nbfm 1 kHz at +20 kHz, am 400 Hz at
    -30 kHz, nbfm 2.5 kHz at +60 kHz), and Receiver("nbfm", 240e3, 20e3)."""
    from halvo_radio import Receiver, Transmitter
    fs, afs = 240_000.0, 48_000.0
    n = int(afs)
    band = (Transmitter("nbfm", afs, fs, 20_000.0).process(tone(1_000, afs, n, 0.8))
            + Transmitter("am", afs, fs, -30_000.0).process(tone(400, afs, n, 0.8))
            + Transmitter("nbfm", afs, fs, 60_000.0).process(tone(2_500, afs, n, 0.8)))
    audio = Receiver("nbfm", fs, 20_000.0).process(band)
    return {"fs": fs, "audio_fs": afs, "band": band, "audio": audio}


def radio_receiver() -> Figure:
    d = receiver_data()
    fig, ax = plt.subplots(2, 1, figsize=(9, 7), constrained_layout=True)
    fig.suptitle('Receiver("nbfm", 240e3, 20e3): the channel at +20 kHz to 48 kHz audio')
    f, p = spectrum_db(d["band"], d["fs"], 8192)
    ax[0].plot(f / 1e3, p, lw=0.6)
    ax[0].axvspan(12, 28, color="C1", alpha=0.3, label="the channel, 16 kHz")
    for x, label in ((-30, "am, 400 Hz"), (20, "nbfm, 1 kHz"), (60, "nbfm, 2.5 kHz")):
        ax[0].annotate(label, (x, 5), ha="center")
    ax[0].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-120, 15),
              title="input: three transmitters, 240 kHz")
    ax[0].legend(loc="lower left")
    f, p = spectrum_db(d["audio"][4_800:], d["audio_fs"], 8192)
    ax[1].plot(f / 1e3, p, lw=0.8)
    ax[1].set(xlabel="frequency (kHz)", ylabel="power (dB re amplitude 1)", ylim=(-140, 5),
              title="output audio: the 1 kHz tone at its sent 0.8, the neighbours' 400 Hz and 2.5 kHz ≥ 60 dB below")
    return fig


FIGURES.update({f.__name__: f for f in (
    radio_lowpass_taps, radio_channel_selector, radio_resampler, radio_upconverter, radio_emphasis,
    radio_power_squelch, radio_agc, radio_receiver)})


# Pictures that the examples draw themselves: (script, arguments, the PNG it writes).
EXAMPLE_FIGURES: dict[str, tuple[str, list[str], str]] = {
    "example_round_trip_nbfm": ("round_trip.py", ["--mode", "nbfm"], "round_trip_nbfm.png"),
    "example_receiver_usb": ("receiver.py", ["--channel", "usb"], "receiver_usb.png"),
    "example_band": ("band.py", ["--seconds", "2"], "band.png"),
}


def run_example(script: str, argv: list[str], produced: str, path: Path) -> None:
    with tempfile.TemporaryDirectory() as tmp:
        main = runpy.run_path(str(ROOT / "examples" / script))["main"]
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            main([*argv, "--out", tmp])
        shutil.copyfile(Path(tmp) / produced, path)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description="Draw the figures of the class pages.")
    ap.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "figures",
                    help="folder for the PNG files (default docs/figures)")
    ap.add_argument("--only", nargs="+", choices=sorted([*FIGURES, *EXAMPLE_FIGURES]),
                    help="draw only these")
    args = ap.parse_args(argv)
    args.out.mkdir(parents=True, exist_ok=True)
    for name in args.only or [*FIGURES, *EXAMPLE_FIGURES]:
        path = args.out / f"{name}.png"
        if name in EXAMPLE_FIGURES:
            run_example(*EXAMPLE_FIGURES[name], path)
        else:
            fig = FIGURES[name]()
            # No software version in the file, so regenerating does not churn it.
            fig.savefig(path, metadata={"Software": None})
            plt.close(fig)
        print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
