"""Quick start: FM-modulate a two-tone message and demodulate it again,
block by block, as a live stream would arrive.

Run:  python examples/quickstart.py
"""
import numpy as np

import halvo_sdr

fs = 48_000.0
n = fs * 2                                   # two seconds
t = np.arange(int(n)) / fs
message = (0.6 * np.sin(2 * np.pi * 440 * t) + 0.3 * np.sin(2 * np.pi * 1230 * t)).astype(np.float32)

mod = halvo_sdr.FmPhaseAccumMod(sample_rate=fs, deviation_hz=5_000, rf_hz=0)
demod = halvo_sdr.FmQuadratureDemod(fs=fs, dev_hz=5_000, audio_bw_hz=3_000)

block = 1024
audio = []
for start in range(0, len(message), block):
    iq = mod.process(message[start:start + block])       # complex64 baseband
    audio.append(demod.process(iq))                     # float32 audio, state kept between blocks
audio = np.concatenate(audio)

# The demodulator outputs radians per sample per hertz of deviation:
# scale back to the message's units, skip the filter's start-up.
recovered = audio * fs / (2 * np.pi)
settled = slice(2_000, None)
err = recovered[settled] - message[settled]
corr = np.corrcoef(recovered[settled], message[settled])[0, 1]
print(f"{len(message)} samples in blocks of {block}")
print(f"correlation with the message: {corr:.4f}")
print(f"rms error: {np.sqrt(np.mean(err ** 2)):.4f} (message rms {np.sqrt(np.mean(message ** 2)):.4f})")

# Block by block gives exactly what one call over the whole stream gives.
one_call = halvo_sdr.FmQuadratureDemod(fs, 5_000, 3_000).process(
    halvo_sdr.FmPhaseAccumMod(fs, 5_000, 0).process(message))
print("identical to one call:", one_call.tobytes() == audio.tobytes())
