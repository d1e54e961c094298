"""One large call of a halvo_radio class adds its output and a small,
fixed work space to the process's peak memory, never a temporary as long
as the input: each case runs in a fresh process that makes the input,
warms the object up on a short block, then reads the peak resident set
around one large call (Linux and macOS; skipped elsewhere)."""
from __future__ import annotations

import subprocess
import sys

import pytest

resource = pytest.importorskip("resource")

# Input samples per call: a whole-length float32 temporary would be 8 MiB,
# a complex64 one 16 MiB, well above the allowance.
N = 1 << 21
ALLOWANCE_MIB = 6.0

PROBE = r"""
import resource, sys
import numpy as np
import halvo_sdr
import halvo_radio as hr
n = int(sys.argv[1])
c = np.full(n, 0.1 + 0.05j, np.complex64)
a = np.full(n, 0.1, np.float32)
obj, x = {CASE}
if isinstance(x, np.ndarray) and x.ndim == 2:
    obj.process(np.ascontiguousarray(x[:, :4096]))
else:
    obj.process(x[:4096])
scale = 1024.0 if sys.platform != "darwin" else 1024.0 * 1024.0
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / scale
y = obj.process(x)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / scale
print(after - before, y.nbytes / 2**20)
"""

CASES = {
    "selector": "hr.ChannelSelector(1.024e6, 125e3, 16, 8e3), c",
    "resampler": "hr.Resampler(2.4e6, 48e3), c",
    "resampler-up-float": "hr.Resampler(44.1e3, 48e3, dtype=np.float32), a",
    "upconverter": "hr.Upconverter(48e3, 5, 30e3, 16e3), c[: n // 4]",
    "deemphasis": "hr.Deemphasis(48e3), a",
    "squelch": "hr.PowerSquelch(48e3, -40.0), c",
    "agc": "hr.Agc(48e3), a",
    "rx-nbfm": "hr.Receiver('nbfm', 240e3, 30e3, squelch_db=-40.0), c",
    "rx-wbfm": "hr.Receiver('wbfm', 2.4e6, 300e3), c",
    "rx-usb": "hr.Receiver('usb', 240e3, 30e3), c",
    "tx-nbfm": "hr.Transmitter('nbfm', 48e3, 240e3, 30e3), a[: n // 4]",
    "tx-wbfm": "hr.Transmitter('wbfm', 48e3, 960e3, 200e3), a[: n // 20]",
    "tx-usb": "hr.Transmitter('usb', 48e3, 240e3, 30e3), a[: n // 4]",
    "channelizer": "hr.Channelizer(1.024e6, 8, 2, 70.0), c",
    "bank": "hr.Bank(halvo_sdr.FmQuadratureDemod, 4, fs=48e3, dev_hz=5e3, audio_bw_hz=3e3), np.tile(c[: n // 4], (4, 1))",
    "receiver-bank": "hr.ReceiverBank('nbfm', 240e3, [-60e3, 0.0, 60e3]), c",
}


@pytest.mark.skipif(sys.platform not in ("linux", "darwin"), reason="peak resident set from getrusage")
@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_peak_memory_is_output_plus_a_constant(case):
    r = subprocess.run([sys.executable, "-c", PROBE.replace("{CASE}", case), str(N)],
                       capture_output=True, text=True, check=True)
    grown, output = (float(v) for v in r.stdout.split())
    assert grown <= output + ALLOWANCE_MIB, f"peak grew by {grown:.1f} MiB for a {output:.1f} MiB output"
