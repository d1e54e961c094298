"""The examples, run once each as a user runs them (a fresh folder, default
arguments, their own input), and their shared helpers on known signals."""
import re
import sys
import wave

import numpy as np
import pytest

import halvo_sdr
from halvo_radio import Receiver, Transmitter
from tooling import EXAMPLES, ROOT, have, require, run_python

sys.path.insert(0, str(EXAMPLES))
import sdrio  # noqa: E402

PLOTS = have("matplotlib")


def wav_info(path):
    with wave.open(str(path)) as w:
        return w.getnchannels(), w.getframerate(), w.getnframes()


def assert_plot(path):
    """With matplotlib the example drew its PNG; without it, it drew none."""
    if PLOTS:
        assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    else:
        assert not path.exists()


def test_quickstart(tmp_path):
    out = run_python([EXAMPLES / "quickstart.py"], tmp_path).stdout
    assert "identical to one call: True" in out, out
    corr = float(re.search(r"correlation with the message: ([\d.]+)", out).group(1))
    assert corr > 0.99, out
    assert_plot(tmp_path / "out/quickstart.png")


def speech_band_match(sent, got, fs, max_lag=200):
    """Delay, level and correlation of `got` against `sent` in 200 Hz .. 3 kHz."""
    ref = sdrio.band_limit(sent, fs, 200, 3000)
    rec = sdrio.band_limit(got, fs, 200, 3000)
    lag, gain, corr = sdrio.best_match(ref, rec, max_lag)
    return lag, 1 / gain, corr


def spectrum_shape_match(sent, got, fs):
    """Correlation of the two audio spectra in dB over 300 Hz .. 2.4 kHz: alike
    when the sound is alike, even if each frequency's phase was turned.

    The band is the one a 2.8 kHz SSB channel carries (transmitter and
    receiver together within 4.5 dB there). Beyond it the channel's edge
    takes the received spectrum down by design, and a correlation in dB
    over that edge scores a clean, linear receiver lowest (0.81 over
    300 Hz .. 3 kHz) while distortion that fills the edge back in (clipping)
    scores higher."""
    f, a = sdrio.spectrum_db(sent, fs, 1024)
    _, b = sdrio.spectrum_db(got, fs, 1024)
    band = (f >= 300) & (f <= 2400)
    return float(np.corrcoef(a[band], b[band])[0, 1])


SIDEBAND_MATCH = 0.93   # a right receiver 0.97; the wrong sideband 0.89, a BFO 150 Hz off 0.78


@pytest.mark.parametrize("mode, corr", [("nbfm", 0.95), ("wbfm", 0.95), ("am", 0.75), ("pm", 0.85),
                                         ("usb", None), ("lsb", None)])
def test_round_trip(tmp_path, mode, corr):
    require("sigmf")  # the example writes SigMF
    # Transmitter -> 20 dB of noise in the channel -> Receiver brings the
    # bundled speech back: FM and PM at its own level (full deviation -> +-1),
    # AM and SSB levelled by the AGC; the wideband signal is left as SigMF.
    run_python([EXAMPLES / "round_trip.py", "--mode", mode], tmp_path)
    sent, fs = sdrio.read_wav(sdrio.SPEECH)
    got, got_fs = sdrio.read_wav(tmp_path / f"out/round_trip_{mode}.wav")
    assert got_fs == fs and len(got) == len(sent)
    if corr is None:
        # The right sideband the right way round: a reversed band (the
        # sideband or the carrier placement wrong) does not match the spectrum.
        assert spectrum_shape_match(sent, got, fs) > SIDEBAND_MATCH
    else:
        lag, level, c = speech_band_match(sent, got, fs)
        assert lag < 100 and c > corr, (lag, c)
        if mode != "am":
            assert 0.7 < level < 1.4
    assert_plot(tmp_path / f"out/round_trip_{mode}.png")
    with sdrio.IqRecording(tmp_path / f"out/round_trip_{mode}.sigmf-meta") as rec:
        assert rec.sample_rate == (480_000 if mode == "wbfm" else 96_000) and rec.center_hz == 145e6
        assert rec.num_samples == len(sent) * rec.sample_rate // fs


def test_round_trip_without_matplotlib(tmp_path):
    require("sigmf")  # the example writes SigMF
    # A None entry in sys.modules makes `import matplotlib` raise ImportError.
    run_python(["-c", "import sys, runpy; sys.modules['matplotlib'] = None; "
                f"sys.path.insert(0, {str(EXAMPLES)!r}); sys.argv = ['round_trip.py']; "
                f"runpy.run_path({str(EXAMPLES / 'round_trip.py')!r}, run_name='__main__')"], tmp_path)
    assert wav_info(tmp_path / "out/round_trip_nbfm.wav")[2] > 0
    assert not (tmp_path / "out/round_trip_nbfm.png").exists()


def test_stream_file_is_independent_of_the_block_size(tmp_path):
    require("sigmf")  # the example writes SigMF
    first = run_python([EXAMPLES / "stream_file.py", "--out", "a"], tmp_path)
    assert "receiving [" in first.stderr and "100%" in first.stderr   # the progress bar
    with sdrio.IqRecording(tmp_path / "a/demo_nbfm.sigmf-meta") as rec:
        assert (rec.sample_rate, rec.num_samples, rec.center_hz) == (240_000, 10 * 240_000, 0)
    assert wav_info(tmp_path / "a/stream_nbfm.wav") == (1, 48_000, 10 * 48_000)
    run_python([EXAMPLES / "stream_file.py", tmp_path / "a/demo_nbfm.sigmf-data", "--block", "1000",
                "--out", "b"], tmp_path)
    assert (tmp_path / "a/stream_nbfm.wav").read_bytes() == (tmp_path / "b/stream_nbfm.wav").read_bytes()
    audio, _ = sdrio.read_wav(tmp_path / "a/stream_nbfm.wav")
    assert 0.05 < np.sqrt(np.mean(audio ** 2)) and np.max(np.abs(audio)) < 1


@pytest.fixture(scope="module")
def band():
    """The band example's namespace (its channels and generator)."""
    import runpy
    return runpy.run_path(str(EXAMPLES / "band.py"))


@pytest.mark.parametrize("channel", ["nbfm", "am", "usb", "lsb", "pm", "cw"])
def test_receiver(tmp_path, channel, band):
    run_python([EXAMPLES / "receiver.py", "--channel", channel, "--seconds", "2.5"], tmp_path)
    got, fs = sdrio.read_wav(tmp_path / f"out/receiver_{channel}.wav")
    # 2.5 s of audio at 48 kHz: output j belongs to input time j * fs / 48 kHz
    assert fs == 48_000 and len(got) == 120_000
    assert_plot(tmp_path / f"out/receiver_{channel}.png")
    _, sent, sent_fs = band["make_band"](2.5)
    sent = sdrio.interpolate(sent[channel], int(fs // sent_fs))
    if channel == "cw":
        # A 700 Hz tone, keyed where the Morse call is keyed.
        f, p = sdrio.spectrum_db(got, fs, 4096)
        assert abs(f[np.argmax(p)] - 700) < 20
        level = np.convolve(np.abs(got), np.ones(96) / 96, mode="same")
        _, _, corr = sdrio.best_match(sent, level, max_lag=2_000)
        assert corr > 0.9
    elif channel in ("usb", "lsb"):
        assert spectrum_shape_match(sent, got, fs) > SIDEBAND_MATCH
    else:
        # The receiver's filters delay the audio, and the interpolator the reference: either may lag.
        lag, level, corr = max(speech_band_match(sent, got, fs), speech_band_match(got, sent, fs),
                               key=lambda m: m[2])
        assert lag < 250 and corr > 0.9, (lag, corr)  # a few ms of filter delay
        if channel != "am":
            assert 0.7 < level < 1.4 or 0.7 < 1 / level < 1.4


@pytest.mark.parametrize("mode, dial_from_carrier", [
    ("lsb", 2_800.0),   # the BFO on the wrong side: the voice band comes out reversed
    ("lsb", 0.0),       # the wrong sideband: only the transmitter's leak, 16 to 23 dB down, in the noise
    ("usb", 150.0),     # the BFO 150 Hz off: every frequency moved
])
def test_sideband_match_fails_a_wrong_receiver(band, mode, dial_from_carrier):
    """The spectrum-shape measure of the usb channel fails receivers that are
    wrong in the ways a sideband receiver goes wrong."""
    capture, sent, sent_fs = band["make_band"](2.5)
    carrier = dict(band["CHANNELS"])["usb"]
    got = Receiver(mode, band["FS"], carrier + dial_from_carrier).process(capture)
    assert spectrum_shape_match(sdrio.interpolate(sent["usb"], 3), got, 48_000) < SIDEBAND_MATCH


def test_band_is_received_channel_by_channel(tmp_path):
    require("sigmf")  # the example writes SigMF
    out = run_python([EXAMPLES / "band.py", "--seconds", "2"], tmp_path).stdout
    for mode in ("am", "usb", "lsb", "nbfm", "pm", "cw"):
        channels, rate, frames = wav_info(tmp_path / f"out/band_{mode}.wav")
        assert (channels, rate) == (1, 48_000) and frames == 96_000, mode
    corr = {m: float(c) for m, c in re.findall(r"^ *(\w+) at .*?correlation ([\d.]+)", out, re.M)}
    assert len(corr) == 6 and all(c > (0.75 if m in ("usb", "lsb") else 0.9) for m, c in corr.items()), out
    assert_plot(tmp_path / "out/band.png")


def test_sigmf_from_the_transmit_example_is_read_by_the_receiver(tmp_path):
    """band.py's SigMF recording, read by receiver.py with the channel named
    by its radio frequency (centre from the metadata + offset), gives bit for
    bit the audio of receiving the same band without a file in between."""
    require("sigmf")
    run_python([EXAMPLES / "band.py", "--seconds", "1.5", "--center-hz", "433e6", "--out", "tx"], tmp_path)
    run_python([EXAMPLES / "receiver.py", "--input", tmp_path / "tx/band.sigmf-meta", "--mode", "pm",
                "--freq-hz", "433.09e6", "--out", "file"], tmp_path)
    run_python([EXAMPLES / "receiver.py", "--channel", "pm", "--seconds", "1.5", "--out", "direct"], tmp_path)
    assert wav_info(tmp_path / "file/receiver_pm.wav") == (1, 48_000, 72_000)
    assert (tmp_path / "file/receiver_pm.wav").read_bytes() == (tmp_path / "direct/receiver_pm.wav").read_bytes()


class TestHelpers:
    def test_iq_formats_read_back_the_same_samples(self, tmp_path):
        rng = np.random.default_rng(5)
        x = (0.7 * (rng.uniform(-1, 1, 3001) + 1j * rng.uniform(-1, 1, 3001))).astype(np.complex64)
        pairs = x.view(np.float32)
        (tmp_path / "x.cf32").write_bytes(pairs.astype("<f4").tobytes())
        (tmp_path / "x.cs16").write_bytes(np.round(pairs * 32768).astype("<i2").tobytes())
        (tmp_path / "x.cs8").write_bytes(np.round(pairs * 128).astype(np.int8).tobytes())
        (tmp_path / "x.cu8").write_bytes(np.round(pairs * 127.5 + 127.5).astype(np.uint8).tobytes())
        with sdrio.WavWriter(tmp_path / "x.wav", 8_000, channels=2) as w:
            w.write(x[:1000])
            w.write(x[1000:])
        # Largest error of a sample's magnitude: half a step per component
        # (written with 32767 per unit and read with 32768 for the WAV file).
        for name, tol in [("x.cf32", 0), ("x.cs16", 0.75 / 32768), ("x.wav", 2 / 32768),
                          ("x.cs8", 0.75 / 128), ("x.cu8", 0.75 / 127.5)]:
            with sdrio.IqRecording(tmp_path / name, sample_rate=None if name.endswith("wav") else 8_000) as r:
                assert r.num_samples == len(x) and r.sample_rate == 8_000
                blocks = list(r.blocks(1024))
            assert [len(b) for b in blocks] == [1024, 1024, 953], name
            got = np.concatenate(blocks)
            assert got.dtype == np.complex64 and got.flags.c_contiguous
            assert np.max(np.abs(got - x)) <= tol, name
            halvo_sdr.AmEnvelopeDemod(8_000, 3_000).process(blocks[-1])  # usable as it is

    @pytest.mark.parametrize("datatype, numpy_type, scale, tol", [
        ("cf32_le", "<f4", 1.0, 0),
        ("cf32_be", ">f4", 1.0, 0),
        ("ci16_le", "<i2", 32768.0, 0.75 / 32768),
        ("cu8", "u1", 128.0, 0.75 / 128),      # sigmf's offset binary: (v - 128) / 128
        ("ci8", "i1", 128.0, 0.75 / 128),
    ])
    def test_sigmf_written_with_the_sigmf_package_reads_back(self, tmp_path, datatype, numpy_type, scale, tol):
        """A recording written with the sigmf package's own API: the sample
        rate, the centre frequency of the first capture and the samples of
        each data type come back, block by block."""
        require("sigmf")
        import sigmf
        rng = np.random.default_rng(6)
        x = (0.7 * (rng.uniform(-1, 1, 2500) + 1j * rng.uniform(-1, 1, 2500))).astype(np.complex64)
        pairs = x.view(np.float32).astype(np.float64) * scale + (128 if datatype == "cu8" else 0)
        (pairs if datatype.startswith("cf") else np.round(pairs)).astype(numpy_type).tofile(tmp_path / "r.sigmf-data")
        meta = sigmf.SigMFFile(data_file=str(tmp_path / "r.sigmf-data"), global_info={
            sigmf.DATATYPE_KEY: datatype, sigmf.SAMPLE_RATE_KEY: 2.048e6, sigmf.VERSION_KEY: sigmf.__specification__})
        meta.add_capture(0, metadata={sigmf.FREQUENCY_KEY: 433.92e6})
        meta.tofile(str(tmp_path / "r"))
        sigmf.fromfile(str(tmp_path / "r.sigmf-meta")).tofile(str(tmp_path / "r.sigmf"))   # and as an archive
        for name in ("r.sigmf-meta", "r.sigmf-data", "r.sigmf"):
            with sdrio.IqRecording(tmp_path / name) as rec:
                assert (rec.format, rec.sample_rate, rec.center_hz, rec.num_samples) == ("sigmf", 2.048e6, 433.92e6, 2500)
                blocks = list(rec.blocks(1024))
            assert [len(b) for b in blocks] == [1024, 1024, 452]
            got = np.concatenate(blocks)
            assert got.dtype == np.complex64 and np.max(np.abs(got - x)) <= tol, datatype

    def test_sigmf_from_the_sigmf_package_is_received_at_its_frequency(self, tmp_path):
        """receiver.py on a ci16_le recording made with the sigmf package: the
        channel named by its radio frequency is found from the metadata's
        centre frequency and sample rate (a 1 kHz tone on NBFM at +37.5 kHz)."""
        require("sigmf")
        import sigmf
        fs = 240_000.0
        t = np.arange(int(fs)) / fs
        iq = Transmitter("nbfm", fs, fs, 37_500.0).process((0.8 * np.sin(2 * np.pi * 1_000 * t)).astype(np.float32))
        np.round(iq.view(np.float32) * 0.5 * 32767).astype("<i2").tofile(tmp_path / "c.sigmf-data")
        meta = sigmf.SigMFFile(data_file=str(tmp_path / "c.sigmf-data"), global_info={
            sigmf.DATATYPE_KEY: "ci16_le", sigmf.SAMPLE_RATE_KEY: fs, sigmf.VERSION_KEY: sigmf.__specification__})
        meta.add_capture(0, metadata={sigmf.FREQUENCY_KEY: 145.5e6})
        meta.tofile(str(tmp_path / "c"))
        run_python([EXAMPLES / "receiver.py", "--input", tmp_path / "c.sigmf-meta", "--freq-hz", "145.5375e6",
                    "--mode", "nbfm", "--out", "o"], tmp_path)
        audio, rate = sdrio.read_wav(tmp_path / "o/receiver_nbfm.wav")
        assert rate == 48_000 and len(audio) == 48_000
        f, p = sdrio.spectrum_db(audio[4_800:], rate, 4096)
        assert abs(f[np.argmax(p)] - 1_000) < 15
        # full deviation comes out as +-1 (pre- and de-emphasis cancel): the tone's 0.8
        assert np.sqrt(2 * np.mean(audio[4_800:] ** 2)) == pytest.approx(0.8, rel=0.05)

    def test_wav_audio_round_trip_and_clipping(self, tmp_path):
        x = np.array([0.0, 0.5, -0.5, 0.999, -1.0, 1.7, -3.0], np.float32)
        sdrio.write_wav(tmp_path / "a.wav", x, 16_000)
        got, fs = sdrio.read_wav(tmp_path / "a.wav")
        assert fs == 16_000 and got.dtype == np.float32
        np.testing.assert_allclose(got, np.clip(x, -1, 1), atol=2 / 32768)

    def test_interpolate_keeps_a_tone_and_adds_no_images(self):
        fs, factor = 16_000, 3
        x = np.sin(2 * np.pi * 1_000 * np.arange(16_000) / fs).astype(np.float32)
        y = sdrio.interpolate(x, factor)
        assert len(y) == factor * len(x)
        f, p = sdrio.spectrum_db(y[2000:], fs * factor, 4096)
        assert abs(f[np.argmax(p)] - 1_000) < 15
        assert p.max() - p[np.abs(f - (fs - 1_000)) < 50].max() > 60   # the first image

    def test_progress_bar_draws_each_percentage_once(self):
        import io
        s = io.StringIO()
        bar = sdrio.Progress(10.0, "x", stream=s)
        for i in range(1001):
            bar.update(i / 100)
        bar.close()
        lines = s.getvalue().split("\r")[1:]
        assert len(lines) == 101 and lines[-1].startswith("x [" + "#" * 30 + "] 100%")


def test_batch_on_a_local_cluster_of_two_workers(tmp_path):
    """Three generated recordings through a LocalCluster of two worker
    processes: one audio file per recording at 48 kHz, bit for bit what the
    same task gives run here in one process, and a summary row per file."""
    require("distributed")
    import csv
    import batch
    recordings = batch.make_demo_recordings(tmp_path / "rec", 3, 0.5)
    out = run_python([EXAMPLES / "batch.py", tmp_path / "rec", "--workers", "2", "--out", tmp_path / "out"],
                     tmp_path, timeout=600).stdout
    assert "3 recordings on 2 workers" in out, out
    with open(tmp_path / "out/summary.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [r["file"] for r in rows] == [p.name for p in recordings]
    for path, row in zip(recordings, rows):
        assert int(row["samples"]) == 120_000 and float(row["output_rate"]) == 48_000
        assert 0.3 < float(row["peak"]) <= 1.0
        wav = tmp_path / "out/audio" / path.name
        assert wav_info(wav) == (1, 48_000, 24_000)
        local = batch.demodulate_file(str(path), str(tmp_path), "nbfm", 2_500.0, 0.0, None, 65_536)
        assert local.samples == 120_000
        assert wav.read_bytes() == (tmp_path / path.name).read_bytes()
    # Different noise per recording: the tasks did not hand each other one file's result.
    assert len({(tmp_path / p.name).read_bytes() for p in recordings}) == 3


@pytest.mark.parametrize("script", ["quickstart.py", "round_trip.py", "stream_file.py", "receiver.py", "band.py", "batch.py"])
def test_help_describes_the_script_and_runs_nothing(tmp_path, script):
    """--help prints usage and the whole first paragraph of the docstring (not
    cut mid-sentence), then exits without making anything."""
    proc = run_python([EXAMPLES / script, "--help"], tmp_path)
    assert proc.stdout.startswith("usage: "), proc.stdout
    doc = (EXAMPLES / script).read_text().split('"""')[1]
    first_paragraph = " ".join(doc.split("\n\n")[0].split())
    assert first_paragraph in " ".join(proc.stdout.split())
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("script, args", [
    ("stream_file.py", ["--dev-hz", "1000"]),
    ("receiver.py", ["--seconds", "1", "--dev-hz", "1000"]),
])
def test_clipping_is_warned_about(tmp_path, script, args):
    """A deviation given too small drives the audio past full scale: the
    script says so, and how to mend it."""
    if script == "stream_file.py":
        require("sigmf")  # its demo recording is SigMF
    proc = run_python([EXAMPLES / script, *args], tmp_path)
    assert "warning: the audio clipped at full scale" in proc.stderr and "--dev-hz" in proc.stderr, proc.stderr


def test_stream_file_writes_an_audio_rate(tmp_path):
    """A 240 kHz recording comes out at 48 kHz: what Receiver gives for the
    whole recording in one call, whatever the blocks."""
    fs = 240_000.0
    iq = Transmitter("nbfm", fs, fs, 0.0).process(
        (0.5 * np.sin(2 * np.pi * 440 * np.arange(24_000) / fs)).astype(np.float32))
    iq.tofile(tmp_path / "rec.cf32")
    run_python([EXAMPLES / "stream_file.py", tmp_path / "rec.cf32", "--rate", "240000", "--block", "777"], tmp_path)
    audio, rate = sdrio.read_wav(tmp_path / "out/stream_nbfm.wav")
    assert rate == 48_000 and len(audio) == 4_800
    want = Receiver("nbfm", fs, 0.0).process(iq)
    np.testing.assert_allclose(audio, np.clip(want, -1, 1), atol=2 / 32767)


def test_scanner_finds_the_channels_it_keyed_when_it_keyed_them(tmp_path):
    import json
    run_python([EXAMPLES / "scanner.py", "--channels", "20", "--active", "3", "--seconds", "2.5", "--seed", "5"],
               tmp_path)
    report = json.loads((tmp_path / "out/scanner.json").read_text())
    sent, found = report["generated"], report["found"]
    assert len(sent) >= 3
    # Every transmission found on its own channel, starting within a frame
    # and ending within the squelch release and the filters' delay; nothing
    # else found anywhere.
    for s in sent:
        match = [f for f in found if f["channel"] == s["channel"] and f["start_s"] < s["stop_s"] and f["stop_s"] > s["start_s"]]
        assert len(match) == 1, (s, found)
        assert abs(match[0]["start_s"] - s["start_s"]) <= 0.04 and 0.0 <= match[0]["stop_s"] - s["stop_s"] <= 0.08, (s, match)
    assert len(found) == len(sent), (sent, found)
    for f in {f["channel"] for f in found}:
        assert wav_info(tmp_path / f"out/scanner_ch{f}.wav") == (1, 16000, 40000)
    assert_plot(tmp_path / "out/scanner.png")
