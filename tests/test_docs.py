"""The documentation: a section for every class naming its actual parameters
and setters, links and pictures that exist, figures that the figure script
makes, and the README's first example running as printed."""
import inspect
import re
import runpy

import numpy as np
import pytest

import halvo_sdr
from tooling import DOCS, ROOT, require, run_python

PAGES = sorted(DOCS.glob("*.md")) + sorted(DOCS.glob("radio/*.md"))
CLASS_PAGES = {"demodulators.md", "modulators.md"}


def section(cls_name):
    """The text of the class's `## Name` section on its page."""
    for page in CLASS_PAGES:
        text = (DOCS / page).read_text()
        m = re.search(rf"^## {cls_name}\n(.*?)(?=^## |\Z)", text, re.M | re.S)
        if m:
            return m.group(1)
    raise AssertionError(f"no section '## {cls_name}' in {sorted(CLASS_PAGES)}")


@pytest.mark.parametrize("cls_name", halvo_sdr.__all__)
def test_class_section_matches_the_module(cls_name):
    cls = getattr(halvo_sdr, cls_name)
    text = section(cls_name)
    signature = f"{cls_name}{inspect.signature(cls)}"
    assert f"`{signature}`" in text, f"the section should show `{signature}`"
    for param in inspect.signature(cls).parameters:
        assert re.search(rf"^\| `{param}` \|", text, re.M), f"no table row for {param}"
    setters = [m for m in dir(cls) if m.startswith("set_")]
    for name in setters:
        (arg,) = [p for p in inspect.signature(getattr(cls, name)).parameters if p != "self"]
        assert f"`{name}({arg})`" in text, f"{name}({arg}) is not described"
    assert "**State:**" in text and "**Degenerate values:**" in text
    assert re.search(r"!\[[^\]]*\]\(figures/\w+\.png\)", text), "no figure"


def test_links_and_pictures_exist():
    for page in [*PAGES, ROOT / "README.md"]:
        for target in re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", page.read_text()):
            if "://" in target:
                continue
            assert (page.parent / target).exists(), f"{page.name}: {target}"


def test_every_figure_is_made_by_the_script_and_shown():
    require("matplotlib")
    import runpy
    script = runpy.run_path(str(DOCS / "make_figures.py"))
    made = set(script["FIGURES"]) | set(script["EXAMPLE_FIGURES"])
    shown = {m for page in PAGES for m in re.findall(r"\((?:\.\./)?figures/(\w+)\.png\)", page.read_text())}
    committed = {p.stem for p in (DOCS / "figures").glob("*.png")}
    assert shown == made == committed


def test_figure_script_draws_every_figure(tmp_path):
    require("matplotlib")
    require("sigmf")  # the example figures come from examples that write SigMF
    out = run_python([DOCS / "make_figures.py", "--out", tmp_path / "figs"], tmp_path).stdout
    drawn = sorted((tmp_path / "figs").glob("*.png"))
    assert {p.stem for p in drawn} == {p.stem for p in (DOCS / "figures").glob("*.png")}, out
    for p in drawn:
        data = p.read_bytes()
        assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 20_000, p.name


def test_readme_first_example_runs(tmp_path):
    require("matplotlib")
    readme = (ROOT / "README.md").read_text()
    code = re.search(r"## First example.*?```python\n(.*?)```", readme, re.S).group(1)
    (tmp_path / "first.py").write_text(code + "\nassert audio.dtype == np.float32 and len(audio) == len(message)\n")
    run_python(["first.py"], tmp_path)


def test_readme_radio_example_runs(tmp_path):
    """The README's halvo_radio example: one second of tone through the
    transmitter and back, received in seven blocks, comes out as one second
    of 48 kHz audio at the tone's level."""
    readme = (ROOT / "README.md").read_text()
    code = re.search(r"## From a capture to audio.*?```python\n(.*?)```", readme, re.S).group(1)
    check = "\nassert len(audio) == 48_000 and abs(np.sqrt(2 * np.mean(audio[4_800:] ** 2)) - 0.5) < 0.05\n"
    (tmp_path / "radio.py").write_text(code + check)
    run_python(["radio.py"], tmp_path)


def test_am_dsb_mod_figure_shows_the_levels_its_title_gives():
    """The spectrum drawn in am_dsb_mod.png: carrier 0.5 at 6 kHz, sidebands
    0.2 at 5 and 7 kHz (the title once said 0.1), nothing else within 40 dB."""
    require("matplotlib")
    script = runpy.run_path(str(DOCS / "make_figures.py"))
    f, p = script["am_dsb_mod_spectrum"]()
    def level(hz):
        near = np.abs(f - hz) < 50
        return 10 ** (p[near].max() / 20)
    for hz, amp in ((6_000, 0.5), (5_000, 0.2), (7_000, 0.2)):
        # within the Hann window's scalloping loss (at most 1.4 dB), far from half or double
        assert amp * 10 ** (-1.5 / 20) < level(hz) < amp * 10 ** (0.1 / 20), (hz, level(hz))
    far = np.all([np.abs(f - hz) > 300 for hz in (5_000, 6_000, 7_000)], axis=0)
    assert p[far].max() < 20 * np.log10(0.2) - 40


def test_fm_phase_accum_mod_figure_spectra_match_their_labels():
    """fm_phase_accum_mod.png's spectra: lines every 1 kHz, Bessel levels of
    the β in the legend, and at least 98 % of the power inside the Carson
    bandwidth marked on the plot."""
    require("matplotlib")
    from scipy.special import jv
    script = runpy.run_path(str(DOCS / "make_figures.py"))
    for dev, f, p in script["fm_phase_accum_spectra"]():
        beta = dev / 1_000
        power = 10 ** (p / 10)
        def line(k):
            return 10 ** (p[np.abs(f - 1_000 * k) < 50].max() / 20)
        for k in range(-2, 3):
            expected = abs(jv(k, beta))
            if expected > 0.05:  # lines the plot shows well above the floor
                assert expected * 10 ** (-1.5 / 20) < line(k) < expected * 10 ** (0.1 / 20), (beta, k)
        carson = dev + 1_000
        assert power[np.abs(f) <= carson + 50].sum() >= 0.98 * power.sum(), beta


def _line(f, p, hz):
    return 10 ** (p[np.abs(f - hz) < 50].max() / 20)


def test_ssb_figures_show_the_levels_they_claim():
    """ssb_phasing_mod.png: the wanted product of a 1 kHz tone at half
    amplitude (rf + if - 1 kHz for usb, rf - if + 1 kHz for lsb), the other
    about 22 dB down; ssb_product_demod.png: both input tones land on the
    audio at 600 Hz and 1100 Hz in their 2 : 1 ratio, and nothing else."""
    require("matplotlib")
    script = runpy.run_path(str(DOCS / "make_figures.py"))
    for usb, f, p in script["ssb_phasing_spectra"]():
        wanted, other = (10_500, 12_500) if usb else (9_500, 7_500)
        assert 0.5 * 10 ** (-1.5 / 20) < _line(f, p, wanted) < 0.5 * 10 ** (0.2 / 20)
        assert 18 < 20 * np.log10(_line(f, p, wanted) / _line(f, p, other)) < 26
    fs, iq, out = script["ssb_product_demod_data"]()
    f, p = script["spectrum_db"](out[2000:], fs, 4096)
    a600, a1100 = _line(f, p, 600), _line(f, p, 1_100)
    assert 5.0 < 20 * np.log10(a600 / a1100) < 7.0            # the inputs' 0.5 : 0.25
    far = (np.abs(f - 600) > 150) & (np.abs(f - 1_100) > 150)
    assert p[far].max() < 20 * np.log10(a1100) - 40           # nothing else on the audio


def test_more_figures_show_what_their_labels_claim():
    """From the data each figure is drawn from: am_envelope_demod's output is
    0.4 x the message (times the approximation's mean gain) on a decaying DC level and stays finite once the
    carrier is gone; pm_quadrature_demod's input angle is kp·m[n] and its
    output k·kp·(m[n] - m[n-1]); cw_keyed_mod's envelope is at 63 % 5 ms
    (rise_ms) after key down and 37 % 2 ms (fall_ms) after key up, and slow
    ramps cut the key clicks 1-3 kHz out by far."""
    require("matplotlib")
    script = runpy.run_path(str(DOCS / "make_figures.py"))

    d = script["am_envelope_demod_data"]()
    on = (d["t"] > 0.06) & (d["t"] < 0.11)
    # abs_approx's 0.9482|re| + 0.392|im| averages 2(0.9482 + 0.392)/pi over a carrier's phases
    for out, gain in ((d["exact"], 1.0), (d["approx"], 2 * (0.9482 + 0.392) / np.pi)):
        tt = d["t"][on] - 0.085
        # the 300 Hz message (any filter delay) on a slowly decaying level
        basis = np.stack([np.sin(2 * np.pi * 300 * d["t"][on]), np.cos(2 * np.pi * 300 * d["t"][on]),
                          np.ones_like(tt), tt, tt ** 2], 1)
        coef, *_ = np.linalg.lstsq(basis, out[on], rcond=None)
        assert np.hypot(coef[0], coef[1]) == pytest.approx(0.4 * gain, rel=0.03)
        assert np.std(out[on] - basis @ coef) < 0.02
        assert np.isfinite(out).all() and np.abs(out[-100:]).max() < 0.3

    d = script["pm_quadrature_demod_data"]()
    np.testing.assert_allclose(np.unwrap(np.angle(d["iq"])), d["kp"] * d["msg"], atol=1e-6)
    assert np.abs(d["out"] - d["diff"]).max() < 0.05 * np.abs(d["diff"]).max()

    d = script["cw_keyed_mod_data"]()
    env = np.abs(d["out"])
    at = lambda s: env[np.argmin(np.abs(d["t"] - s))]  # noqa: E731
    assert at(0.010) == pytest.approx(1 - np.exp(-1), abs=0.02)
    assert at(0.037) == pytest.approx(np.exp(-1), abs=0.02)
    clicks = {rise: 10 * np.log10(np.mean(10 ** (p[(np.abs(f) > 1_000) & (np.abs(f) < 3_000)] / 10)))
              for rise, f, p in d["spectra"]}
    assert clicks[0.1] - clicks[5.0] > 20


def test_cw_envelope_demod_figure_shows_what_its_caption_says():
    """cw_envelope_demod.png: noise alone reads about 0.3 (the noise's mean
    magnitude) and a key-down about 1 with either smoother; the 100 Hz one
    follows the keying several times faster than the 20 Hz one and lets
    more noise through."""
    require("matplotlib")
    d = runpy.run_path(str(DOCS / "make_figures.py"))["cw_envelope_demod_data"]()
    key, fs = d["key"], d["fs"]
    edges = np.flatnonzero(np.diff(key)) + 1
    settled = np.min(np.abs(np.arange(len(key))[:, None] - np.r_[0, edges]), axis=1) > 0.04 * fs
    up, down = settled & (key == 0), settled & (key == 1)
    rise_ms, spread = {}, {}
    for bw, y in d["out"].items():
        assert y[up].mean() == pytest.approx(np.abs(d["noise"]).mean(), rel=0.05)
        assert 0.95 < y[down].mean() < 1.1
        lo, hi = y[up].mean(), y[down].mean()
        rise_ms[bw] = np.argmax(y[edges[0]:] > lo + 0.9 * (hi - lo)) / fs * 1e3
        spread[bw] = y[down].std()
    assert rise_ms[100.0] < 0.5 * rise_ms[20.0]
    assert spread[100.0] > 2 * spread[20.0]


def test_fm_quadrature_demod_figure_shows_what_its_caption_says():
    """fm_quadrature_demod.png: a carrier-to-noise ratio of about 17 dB, and
    the output scaled by fs/(2π) is the message plus the tuning offset in
    units of deviation, 1.2 / 5 = 0.24."""
    require("matplotlib")
    d = runpy.run_path(str(DOCS / "make_figures.py"))["fm_quadrature_demod_data"]()
    cnr = 10 * np.log10(np.mean(np.abs(d["tx"]) ** 2) / np.mean(np.abs(d["noise"]) ** 2))
    assert cnr == pytest.approx(17, abs=0.5)
    units, speech = d["as_units"][2000:], d["speech"][2000:]
    lag = max(range(40), key=lambda k: np.corrcoef(units[k:], speech[:len(speech) - k])[0, 1])
    residue = units[lag:] - speech[:len(speech) - lag]
    assert residue.mean() == pytest.approx(d["offset"] / d["dev"], abs=0.005)
    assert np.corrcoef(units[lag:], speech[:len(speech) - lag])[0, 1] > 0.95


def test_pm_direct_phase_mod_figure_shows_what_its_caption_says():
    """pm_direct_phase_mod.png: the output's angle is kp·x with x between -1
    and +1, every sample on the unit circle."""
    require("matplotlib")
    d = runpy.run_path(str(DOCS / "make_figures.py"))["pm_direct_phase_mod_data"]()
    assert d["msg"].min() == pytest.approx(-1, abs=1e-6) and d["msg"].max() == pytest.approx(1, abs=1e-6)
    np.testing.assert_allclose(np.abs(d["out"]), 1, atol=1e-6)
    np.testing.assert_allclose(np.angle(d["out"]), d["kp"] * d["msg"], atol=1e-6)


def example_plot_data(script, argv, tmp_path, monkeypatch):
    """What the example hands to its plot function: the data its figure is
    drawn from (the figure itself is not drawn); and the examples' helpers."""
    import contextlib
    import importlib
    import io
    monkeypatch.syspath_prepend(str(ROOT / "examples"))
    main = runpy.run_path(str(ROOT / "examples" / script))["main"]
    drawn = []
    main.__globals__["plot"] = lambda *args: drawn.append(args)
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        main([*argv, "--out", str(tmp_path)])
    (args,) = drawn
    return args, importlib.import_module("sdrio"), main.__globals__


def test_example_round_trip_nbfm_figure_shows_what_its_text_says(tmp_path, monkeypatch):
    """example_round_trip_nbfm.png: FM comes back at the input's level and
    waveform, and the channel marked on the wideband spectrum holds the
    signal (the noise spreads over the whole band)."""
    (_, _, audio_fs, audio, fs, iq, recovered, rx), sdrio, _ = example_plot_data(
        "round_trip.py", ["--mode", "nbfm"], tmp_path, monkeypatch)
    ref, got = sdrio.band_limit(audio, audio_fs, 200, 3_000), sdrio.band_limit(recovered, audio_fs, 200, 3_000)
    _, gain, corr = sdrio.best_match(ref, got)
    assert corr > 0.95 and 0.9 < 1 / gain < 1.1
    f, p = sdrio.spectrum_db(iq, fs, 4096)
    power = 10 ** (p / 10)
    inside = np.abs(f - rx.offset_hz) <= rx.bandwidth_hz / 2
    assert power[inside].sum() > 0.9 * power.sum()


def test_example_receiver_usb_figure_shows_what_its_text_says(tmp_path, monkeypatch):
    """example_receiver_usb.png: the marked channel (dial frequency to
    dial + bandwidth) holds the upper sideband, the mirror side is empty;
    the audio stays inside the channel's width and follows the envelope of
    what was sent."""
    (_, rx, wide, audio, sent), sdrio, _ = example_plot_data(
        "receiver.py", ["--channel", "usb"], tmp_path, monkeypatch)
    f, p = sdrio.spectrum_db(wide, rx.fs, 8192)
    power = 10 ** (p / 10)
    o, b = rx.offset_hz, rx.bandwidth_hz
    upper, lower = (f > o + 300) & (f < o + b), (f < o - 300) & (f > o - b)
    assert 10 * np.log10(power[upper].sum() / power[lower].sum()) > 10
    fa, pa = sdrio.spectrum_db(audio, rx.audio_fs, 4096)
    assert pa[np.abs(fa) > 3_500].max() < pa.max() - 40
    n = min(len(audio), len(sent))
    band = sdrio.band_limit
    got, want = band(audio[:n], rx.audio_fs, 300, 3_000)[4_800:], band(sent[:n], rx.audio_fs, 300, 3_000)[4_800:]
    envelope = lambda x: np.convolve(np.abs(x), np.ones(480) / 480, "same")  # noqa: E731
    assert np.corrcoef(envelope(got), envelope(want))[0, 1] > 0.8


def test_capture_to_audio_guide_runs_as_written(tmp_path):
    """docs/radio/guide.md's code blocks, run in order in an empty folder: the
    hand-built chain and the one Receiver both squelch the silent start to
    exact zeros and bring the tone back at its sent level 0.6."""
    require("sigmf")
    text = (DOCS / "radio/guide.md").read_text()
    code = "\n".join(re.findall(r"```python\n(.*?)```", text, re.S))
    checks = """
import numpy as np
for got in (audio, same_job):
    assert len(got) == 132_300
    assert not np.any(got[:17_000]), "the squelch lets the silent start through"
    tone = got[-44_100:]
    assert abs(float(np.sqrt(2 * np.mean(tone ** 2))) - 0.6) < 0.03
    f = np.fft.rfftfreq(len(tone), 1 / 44_100)
    assert abs(f[np.argmax(np.abs(np.fft.rfft(tone)))] - 440) < 2
"""
    out = run_python(["-c", code + checks], tmp_path).stdout
    assert "a station centred on 145.500 MHz" in out, out
    assert (tmp_path / "audio.wav").stat().st_size == 44 + 2 * 132_300


@pytest.fixture(scope="module")
def figures():
    """make_figures.py's namespace: the data functions the figures are drawn from."""
    require("matplotlib")
    return runpy.run_path(str(DOCS / "make_figures.py"))


@pytest.mark.parametrize("data", ["lowpass_taps_data", "channel_selector_data", "resampler_data",
                                  "upconverter_data"])
def test_radio_filter_figures_meet_the_mask_they_draw(figures, data):
    """The responses drawn on the halvo_radio pages, measured through the
    objects (every band that aliases or images into the output included):
    within +-0.5 dB to the passband edge marked, at least stopband_db down
    from the stopband edge marked, on a grid dense enough to see every lobe."""
    d = figures[data]()
    f, g = np.abs(d["f"]), d["db"]
    passband, stopband = f <= d["edge"], f >= d["stop"]
    assert passband.sum() >= 20 and stopband.sum() >= 300, "too few test frequencies to check the mask"
    assert np.abs(g[passband]).max() <= 0.5, g[passband].min()
    assert g[stopband].max() <= -d["stopband_db"], (f[stopband][np.argmax(g[stopband])], g[stopband].max())
    # The transition really is one: the response falls from the passband to the stopband level.
    assert g[(f > d["edge"]) & (f < d["stop"])].min() < -3


def test_channel_selector_figure_keeps_the_channel_and_drops_its_neighbours(figures):
    d = figures["channel_selector_data"]()
    f, p = figures["spectrum_db"](d["out"], d["fs_out"], 2048)
    carrier = p[np.abs(f - 1_000) < 50].max()
    assert abs(carrier) < 1.5                                   # the 101 kHz carrier, at +1 kHz, level 1
    assert p[np.abs(f - 1_000) > 200].max() < carrier - 70      # its neighbours, aliased or not


def test_resampler_figure_keeps_the_carrier_and_stops_the_alias(figures):
    d = figures["resampler_data"]()
    f, p = figures["spectrum_db"](d["y"], d["fs_out"], 4096)
    wanted = p[np.abs(f - 10_000) < 50].max()
    assert abs(wanted) < 1.5
    assert p[np.abs(f + 18_000) < 100].max() < wanted - 70      # the +30 kHz carrier's alias
    assert p[np.abs(f - 10_000) > 200].max() < wanted - 70


def test_emphasis_figure_follows_the_analogue_network(figures):
    d = figures["emphasis_data"]()
    f = d["f"]
    low = (f > 20) & (f < 3_000)
    assert np.abs(d["de"][low] - d["analog"][low]).max() < 0.3
    assert d["de"][np.argmin(np.abs(f - 2_122))] == pytest.approx(-3.0, abs=0.15)
    np.testing.assert_allclose(d["pre"], -d["de"], atol=0.01)   # the inverse of each other
    assert np.abs(d["both"]).max() < 0.01


def test_power_squelch_figure_gates_as_labelled(figures):
    d = figures["power_squelch_data"]()
    t, x, out = d["t"], d["x"], d["out"]
    assert not np.any(out[t < 0.1]) and not np.any(out[t > 0.42])       # closed: exact zeros
    for lo, hi in ((0.105, 0.295), (0.305, 0.395)):                      # -20 dB, then -31 dB held by the hysteresis
        on = (t > lo) & (t < hi)
        np.testing.assert_array_equal(out[on], x[on])
    state = dict(zip(np.round(d["open_t"], 3), d["is_open"]))
    assert [state[0.05], state[0.2], state[0.35], state[0.45]] == [False, True, True, False]


def test_agc_figure_levels_to_the_target(figures):
    d = figures["agc_data"]()
    t, y = d["t"], d["out"].astype(np.float64)
    def rms(lo, hi):
        return np.sqrt(np.mean(y[(t >= lo) & (t < hi)] ** 2))
    for lo, hi in ((0.5, 1.0), (1.1, 2.0), (6.0, 7.0)):
        assert rms(lo, hi) == pytest.approx(0.5, rel=0.05), (lo, hi)
    assert 0.6 < rms(1.0, 1.02) and np.abs(y).max() <= 1.0      # the step up held at the ceiling
    assert rms(2.5, 2.6) < 0.1                                   # and the slow climb after the step down


def test_receiver_figure_gives_the_channel_and_nothing_else(figures):
    d = figures["receiver_data"]()
    audio = d["audio"][4_800:]
    f, p = figures["spectrum_db"](audio, d["audio_fs"], 8192)
    assert np.sqrt(2 * np.mean(audio.astype(np.float64) ** 2)) == pytest.approx(0.8, rel=0.03)  # the tone sent
    tone = p[np.abs(f - 1_000) < 20].max()
    assert p[np.abs(f - 1_000) > 100].max() < tone - 60


@pytest.mark.parametrize("page", sorted(p.name for p in (DOCS / "radio").glob("*.md")
                                         if p.name != "guide.md" and "```python" in p.read_text()))
def test_radio_page_examples_run(tmp_path, page):
    """Every ```python block of a halvo_radio class page runs as printed, in order."""
    code = "\n".join(re.findall(r"```python\n(.*?)```", (DOCS / "radio" / page).read_text(), re.S))
    run_python(["-c", code], tmp_path)
