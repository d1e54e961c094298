"""The wheel and the type stubs: one stable-ABI wheel carrying the module and
the stub-only package, abi3audit on it, stubtest against the installed
module, and the stubs' types as mypy sees them at a call site."""
import json
import os
import re
import shutil
import subprocess
import tomllib
import zipfile
from pathlib import Path

import pytest

from tooling import DOCS, EXAMPLES, ROOT, require, run_python


@pytest.fixture(scope="module")
def wheel():
    """The wheel that tools/run_tests.sh built (HALVO_WHEEL)."""
    path = os.environ.get("HALVO_WHEEL")
    if not path:
        if os.environ.get("HALVO_REQUIRE_TOOLS"):
            pytest.fail("HALVO_WHEEL must name the built wheel here")
        pytest.skip("HALVO_WHEEL is not set (tools/run_tests.sh sets it)")
    return Path(path).resolve()


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    return tmp_path_factory.mktemp("mypy-cache")


def test_one_abi3_wheel_with_module_and_stubs(wheel):
    # cp311-abi3: one wheel for CPython 3.11 and every later version.
    assert re.fullmatch(r"halvo_sdr-[^-]+-cp311-abi3-[A-Za-z0-9_.]+\.whl", wheel.name), wheel.name
    with zipfile.ZipFile(wheel) as z:
        names = set(z.namelist())
        dist_info = {n for n in names if n.split("/")[0].endswith(".dist-info")}
        wheel_meta = z.read(next(n for n in dist_info if n.endswith("/WHEEL"))).decode()
        metadata = z.read(next(n for n in dist_info if n.endswith("/METADATA"))).decode()
    payload = names - dist_info
    modules = {n for n in payload if re.fullmatch(r"halvo_sdr\.(abi3\.so|pyd)", n)}
    assert len(modules) == 1, payload
    # Beside it the halvo_radio package, whose native classes come from the
    # same extension file.
    assert payload - modules == {"halvo_sdr-stubs/__init__.pyi", "halvo_sdr-stubs/py.typed",
                                 "halvo_radio/__init__.py", "halvo_radio/frontend.py", "halvo_radio/audio.py",
                                 "halvo_radio/bank.py", "halvo_radio/receiver_bank.py", "halvo_radio/py.typed"}
    assert re.search(r"^Tag: cp311-abi3-", wheel_meta, re.M), wheel_meta
    assert re.search(r"^Root-Is-Purelib: false", wheel_meta, re.M), wheel_meta
    assert re.search(r"^Requires-Dist: numpy", metadata, re.M), metadata
    # The stubs in the wheel are the ones in the repository.
    with zipfile.ZipFile(wheel) as z:
        assert z.read("halvo_sdr-stubs/__init__.pyi") == \
            (ROOT / "stubs/halvo_sdr-stubs/__init__.pyi").read_bytes()
    # NumPy is needed at run time only: the build must not pull it in.
    build = tomllib.loads((ROOT / "pyproject.toml").read_text())["build-system"]["requires"]
    assert not [r for r in build if r.lower().startswith("numpy")], build


def test_the_extension_exports_exactly_its_two_init_functions(wheel, tmp_path):
    if shutil.which("readelf") is None:
        pytest.skip("readelf is not installed")
    with zipfile.ZipFile(wheel) as z:
        so = next(n for n in z.namelist() if n.startswith("halvo_sdr.") and n.endswith(".so"))
        z.extract(so, tmp_path)
    table = subprocess.run(["readelf", "--dyn-syms", "-W", str(tmp_path / so)], check=True,
                           capture_output=True, text=True).stdout
    defined = {f[7].split("@")[0] for f in (line.split() for line in table.splitlines())
               if len(f) >= 8 and f[6] != "UND" and f[4] in ("GLOBAL", "WEAK") and f[3] == "FUNC"}
    assert defined == {"PyInit_halvo_sdr", "PyInit__native"}, defined


def test_abi3audit_strict(wheel, tmp_path):
    require("abi3audit")
    report = tmp_path / "abi3audit.json"
    run_python(["-m", "abi3audit", "--strict", "--report", "--output", report, wheel], tmp_path)
    results = json.loads(report.read_text())["specs"][str(wheel)]["wheel"]
    assert [r["name"] for r in results] and all(r["result"]["is_abi3"] for r in results), results
    for r in results:
        assert r["result"]["non_abi3_symbols"] == [], r
        assert r["result"]["is_abi3_baseline_compatible"], r


def test_stubtest_against_the_installed_module(tmp_path):
    require("mypy")
    # No allowlist: every class, constructor, method and parameter name and
    # default in the stubs matches the module, and the classes are @final.
    proc = run_python(["-m", "mypy.stubtest", "--mypy-config-file", os.devnull, "halvo_sdr"], tmp_path)
    assert "Success" in proc.stdout, proc.stdout


CALLS = '''\
import numpy as np
import numpy.typing as npt
import halvo_sdr

iq = np.zeros(8, np.complex64)
audio = np.zeros(8, np.float32)
wide = np.zeros(8, np.float64)
demod = halvo_sdr.FmQuadratureDemod(48_000, np.float32(5e3), audio_bw_hz=3_000)
reveal_type(demod.process(iq))
mod = halvo_sdr.SsbPhasingMod(48_000, 2_700, 1_500, 0, usb=np.bool_(True))
reveal_type(mod.process(audio))
am = halvo_sdr.AmDsbMod(fs=48_000, rf_hz=0, carrier_level=1, modulation_index=0.5)
reveal_type(am.set_clamp(True))
halvo_sdr.AmEnvelopeDemod(48_000, 3_000)
demod.process(wide)  # E: float64 block
mod.process(iq)  # E: complex block into a modulator
halvo_sdr.SsbPhasingMod(48_000, 2_700, 1_500, 0, usb=1)  # E: int flag
halvo_sdr.FmQuadratureDemod(48_000, 5_000)  # E: missing audio_bw_hz
halvo_sdr.CwEnvelopeDemod(48_000, 700, 50).set_clamp(True)  # E: no such setter
am.set_gain("2")  # E: str number
halvo_sdr.CwKeyedMod(48_000, 700, 5, fall=5)  # E: wrong keyword
'''


def test_stub_types_at_a_call_site(tmp_path, mypy_cache):
    require("mypy")
    (tmp_path / "calls.py").write_text(CALLS)
    proc = run_python(["-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", mypy_cache,
                       "--config-file", os.devnull, "calls.py"], tmp_path, check=False)
    out = proc.stdout
    revealed = re.findall(r'Revealed type is "(.*)"', out)
    assert len(revealed) == 3, out
    assert re.fullmatch(r"numpy\.ndarray\[.*numpy\.dtype\[numpy\.floating\[.*_32Bit\]\]\]", revealed[0]), out
    assert re.fullmatch(r"numpy\.ndarray\[.*numpy\.dtype\[numpy\.complexfloating\[.*_32Bit.*_32Bit\]\]\]",
                        revealed[1]), out
    assert revealed[2] == "None", out
    expected = {i for i, line in enumerate(CALLS.splitlines(), 1) if "# E:" in line}
    flagged = {int(m) for m in re.findall(r"^calls\.py:(\d+): error", out, re.M)}
    assert flagged == expected, out


def test_examples_and_figure_script_type_check(tmp_path, mypy_cache):
    require("mypy")
    require("matplotlib")
    run_python(["-m", "mypy", "--strict", "--cache-dir", mypy_cache, "--config-file", os.devnull,
                EXAMPLES, DOCS / "make_figures.py"], tmp_path)


RADIO_CALLS = '''\
import numpy as np
from halvo_radio import Agc, ChannelSelector, Receiver, Transmitter, Upconverter, lowpass_taps
iq = np.zeros(8, np.complex64)
audio = np.zeros(8, np.float32)
reveal_type(Receiver("nbfm", 240_000, 25_000, squelch_db=-40).process(iq))
reveal_type(Transmitter("usb", 48_000, 240_000, 0).process(audio))
reveal_type(ChannelSelector(240_000, 0, 5, 16_000, transition_hz=None).process(iq))
reveal_type(lowpass_taps(48_000, 3_000, 5_000))
Receiver("nbfm", 240_000)  # E: missing offset_hz
Receiver("nbfm", 240_000, 0, 48_000)  # E: audio_fs is keyword-only
ChannelSelector(240_000, 0, 5, 16_000, transition=8_000)  # E: wrong keyword
Upconverter(48_000, 5, 0, 16_000).process(np.zeros(8))  # E: float64 block
Agc(48_000).process(iq)  # E: complex block into an audio class
Receiver("am", 48_000, 0).set_offset(1.0)  # E: no such method
'''


def test_radio_types_at_a_call_site(tmp_path, mypy_cache):
    """halvo_radio's public classes and functions are typed for mypy and
    editors: process() returns the dtype it promises, and wrong calls (a
    missing or misspelt argument, the wrong array type) are flagged where
    they are written. stubtest then checks the annotations of the Python
    layer against the objects at run time."""
    require("mypy")
    (tmp_path / "calls.py").write_text(RADIO_CALLS)
    proc = run_python(["-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", mypy_cache,
                       "--config-file", os.devnull, "calls.py"], tmp_path, check=False)
    out = proc.stdout
    revealed = re.findall(r'Revealed type is "(.*)"', out)
    assert len(revealed) == 4, out
    f32 = r"numpy\.ndarray\[.*numpy\.dtype\[numpy\.floating\[.*_32Bit\]\]\]"
    c64 = r"numpy\.ndarray\[.*numpy\.dtype\[numpy\.complexfloating\[.*_32Bit.*_32Bit\]\]\]"
    for got, want in zip(revealed, (f32, c64, c64, f32)):
        assert re.fullmatch(want, got), out
    expected = {i for i, line in enumerate(RADIO_CALLS.splitlines(), 1) if "# E:" in line}
    flagged = {int(m) for m in re.findall(r"^calls\.py:(\d+): error", out, re.M)}
    assert flagged == expected, out
    for module in ("halvo_radio.frontend", "halvo_radio.audio"):
        proc = run_python(["-m", "mypy.stubtest", "--mypy-config-file", os.devnull, module], tmp_path)
        assert "Success" in proc.stdout, proc.stdout
