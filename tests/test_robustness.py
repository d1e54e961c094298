"""Robustness: failed calls change nothing, inputs are never written, shared
reference counts stay put, threads neither deadlock nor corrupt state, and the
fuzz corpus replays clean. Findings of the sanitizer, memcheck and fuzzing
runs (robustness/) keep their regression tests here."""
import gc
import importlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import halvo_sdr
from platforms import native_only

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "robustness"))
import memcheck_summary  # noqa: E402  (robustness/memcheck_summary.py: which valgrind records are the module's)

# name: (constructor arguments, setters with a valid value)
CLASSES = {
    "CwEnvelopeDemod": ((8000, 700, 50), {"set_gain": 2.0}),
    "AmEnvelopeDemod": ((8000, 3000, False), {}),
    "SsbProductDemod": ((8000, 1500, 2700), {}),
    "FmQuadratureDemod": ((8000, 2500, 3000), {}),
    "PmQuadratureDemod": ((8000, 1.5, 3000), {}),
    "AmDsbMod": ((8000, 1000, 0.5, 0.8), {"set_gain": 0.5, "set_clamp": True}),
    "CwKeyedMod": ((8000, 700, 5, 5), {"set_gain": 0.5}),
    "FmPhaseAccumMod": ((8000, 2500, 1000), {"set_deviation": 1200.0, "set_gain": 0.5}),
    "PmDirectPhaseMod": ((8000, 1.2, 1000), {"set_gain": 0.5, "set_sensitivity": 0.7}),
    "SsbPhasingMod": ((8000, 2700, 1500, 1000, True), {}),
}


def in_dtype(name):
    return np.complex64 if name.endswith("Demod") else np.float32


def block(name, n=300, phase=0.0):
    t = np.arange(n) * 0.071 + phase
    if name.endswith("Demod"):
        return (np.exp(1j * t) * (0.6 + 0.3 * np.sin(t * 0.05))).astype(np.complex64)
    return (0.5 + 0.5 * np.sin(t)).astype(np.float32)


def make(name):
    return getattr(halvo_sdr, name)(*CLASSES[name][0])


def run_py(code, timeout=120):
    """Runs code in a fresh interpreter; a hang fails the test instead of the run."""
    r = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                       timeout=timeout, cwd=str(ROOT / "tests"))
    assert r.returncode == 0, f"exit {r.returncode}\nstdout:\n{r.stdout}\nstderr:\n{r.stderr}"
    return r.stdout


class Boom(Exception):
    pass


class FloatRaises:
    def __float__(self):
        raise Boom("no float")


class IndexHuge:
    def __index__(self):
        return 10**400


class Reenters:
    """A number whose conversion calls process on the object being called."""

    def __init__(self, obj, x, swallow):
        self.obj, self.x, self.swallow = obj, x, swallow

    def __float__(self):
        try:
            self.obj.process(self.x)
        except RuntimeError:
            if not self.swallow:
                raise
        return 3.0


def misaligned(dtype, n):
    dt = np.dtype(dtype)
    return np.frombuffer(np.zeros(n * dt.itemsize + 1, np.uint8).data, dtype=dt, count=n, offset=1)


def failing_calls(name, obj, x):
    """(description, call, expected exception type) of calls that must fail
    before any sample is processed."""
    dt = in_dtype(name)
    other = np.float32 if dt is np.complex64 else np.complex64
    calls = [
        ("too many", lambda: obj.process(x, x), TypeError),
        ("unknown keyword", lambda: obj.process(samples=x), TypeError),
        ("missing", lambda: obj.process(), TypeError),
        ("list", lambda: obj.process(list(x)), TypeError),
        ("None", lambda: obj.process(None), TypeError),
        ("other dtype", lambda: obj.process(np.zeros(len(x), other)), TypeError),
        ("float64", lambda: obj.process(np.zeros(len(x), np.float64)), TypeError),
        ("byte-swapped", lambda: obj.process(x.astype(np.dtype(dt).newbyteorder())), TypeError),
        ("2-d", lambda: obj.process(x[:32].reshape(2, 16)), TypeError),
        ("0-d", lambda: obj.process(x[0:1].reshape(())), TypeError),
        ("strided", lambda: obj.process(x[::2]), TypeError),
        ("reversed", lambda: obj.process(x[::-1]), TypeError),
        ("misaligned", lambda: obj.process(misaligned(dt, 16)), TypeError),
    ]
    for setter, value in CLASSES[name][1].items():
        s = getattr(obj, setter)
        if setter == "set_clamp":
            calls += [
                ("clamp int", lambda s=s: s(1), TypeError),
                ("clamp None", lambda s=s: s(None), TypeError),
                ("clamp keyword", lambda s=s: s(flag=True), TypeError),
            ]
            continue
        calls += [
            (f"{setter} str", lambda s=s: s("x"), TypeError),
            (f"{setter} None", lambda s=s: s(None), TypeError),
            (f"{setter} huge", lambda s=s: s(10**400), OverflowError),
            (f"{setter} __index__ huge", lambda s=s: s(IndexHuge()), OverflowError),
            (f"{setter} __float__ raises", lambda s=s: s(FloatRaises()), Boom),
            (f"{setter} re-entrant", lambda s=s: s(Reenters(obj, x, swallow=False)), RuntimeError),
            (f"{setter} two values", lambda s=s: s(1.0, g=2.0), TypeError),
        ]
    return calls


@pytest.mark.parametrize("name", CLASSES)
def test_failed_calls_change_nothing(name):
    """After any call that fails before processing, the object goes on exactly
    like a twin that never saw the failed call."""
    obj, twin = make(name), make(name)
    x = block(name)
    pristine = x.tobytes()
    assert obj.process(x).tobytes() == twin.process(x).tobytes()
    for what, call, exc in failing_calls(name, obj, x):
        with pytest.raises(exc):
            call()
        y = block(name, 97, phase=len(what))
        assert obj.process(y).tobytes() == twin.process(y).tobytes(), f"state changed by: {what}"
    assert x.tobytes() == pristine


NUMBER_SETTERS = {n: [s for s in CLASSES[n][1] if s != "set_clamp"] for n in CLASSES}


@pytest.mark.parametrize("name", [n for n in CLASSES if NUMBER_SETTERS[n]])
def test_reentrant_setter_that_swallows_completes(name):
    """The inner call fails; the setter itself completes with the hook's value."""
    obj, twin = make(name), make(name)
    x = block(name)
    for setter in NUMBER_SETTERS[name]:
        getattr(obj, setter)(Reenters(obj, x, swallow=True))
        getattr(twin, setter)(3.0)
    assert obj.process(x).tobytes() == twin.process(x).tobytes()


@pytest.mark.parametrize("name", CLASSES)
@pytest.mark.parametrize("layout", ["plain", "read-only", "subclass", "one-element-stride"])
def test_input_is_never_written(name, layout):
    x = block(name, 2051)
    if layout == "read-only":
        x.setflags(write=False)
    elif layout == "subclass":
        x = x.view(type("Sub", (np.ndarray,), {}))
    elif layout == "one-element-stride":
        x = np.lib.stride_tricks.as_strided(x[5:], shape=(1,), strides=(-24,))
    before = x.tobytes()
    out = make(name).process(x)
    assert x.tobytes() == before
    assert out.shape == (len(x),) and not np.shares_memory(out, x)
    out[...] = 0  # the caller owns the output; writing it leaves the input alone
    assert x.tobytes() == before


def test_shared_reference_counts_are_unchanged():
    """Successful and failing calls of every kind leave the reference counts
    of shared objects where they were (a leak or an over-release of one
    reference per call would move them by the number of calls)."""
    n = 500
    objs = {name: make(name) for name in CLASSES}
    xs = {name: block(name, 64) for name in CLASSES}
    for name in CLASSES:  # warm up: caches, holder type
        objs[name].process(xs[name])

    def shared():
        out = {"None": None, "True": True, "False": False}
        for name in CLASSES:
            out[name] = getattr(halvo_sdr, name)
            out[name + " input"] = xs[name]
        out["holder type"] = type(objs["CwEnvelopeDemod"].process(xs["CwEnvelopeDemod"]).base)
        return out

    def counts():
        gc.collect()
        return {k: sys.getrefcount(v) for k, v in shared().items()}

    def work():
        for name in CLASSES:
            obj, x = objs[name], xs[name]
            calls = failing_calls(name, obj, x)
            for _ in range(n):
                obj.process(x)
                for _, call, exc in calls:
                    try:
                        call()
                    except exc:
                        pass
                for setter, value in CLASSES[name][1].items():
                    getattr(obj, setter)(value)

    work()  # once, so that everything lazily cached exists
    before = counts()
    work()
    after = counts()
    moved = {k: (before[k], after[k]) for k in before if abs(after[k] - before[k]) >= n // 2}
    assert not moved, f"reference counts moved over {n} rounds: {moved}"


# ---- threads -------------------------------------------------------------------------

THREAD_PRELUDE = """
    import sys, threading, numpy as np, halvo_sdr
    sys.setswitchinterval(1e-6)
    from test_robustness import CLASSES, block, make
    def join_all(ts, timeout=60):
        for t in ts:
            t.join(timeout)
        assert not any(t.is_alive() for t in ts), "a thread is stuck: deadlock"
"""


def test_threads_with_distinct_objects_match_a_single_thread():
    out = run_py(THREAD_PRELUDE + """
    names = list(CLASSES)
    xs = {n: block(n, 5000) for n in names}
    def run(name, cuts):
        obj = make(name)
        bounds = [0, *cuts, 5000]
        return b"".join(obj.process(xs[name][a:b]).tobytes() for a, b in zip(bounds, bounds[1:]))
    ref = {n: run(n, []) for n in names}
    errors = []
    def work(i):
        try:
            for r in range(6):
                for n in names:
                    cuts = sorted({(i * 131 + r * 977) % 4999 + 1, 1024, 2048})
                    if run(n, cuts) != ref[n]:
                        errors.append((i, n, cuts))
        except BaseException as e:
            errors.append(repr(e))
    ts = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in ts: t.start()
    join_all(ts)
    assert not errors, errors[:5]
    print("ok")
    """)
    assert out.strip() == "ok"


def test_threads_hitting_one_object():
    """Eight threads call process and a re-entrant setter on one object. Every
    call either succeeds or fails with "Already borrowed"; the successful
    process calls are exactly the blocks of a twin fed the same number of
    blocks, and the object goes on like that twin."""
    out = run_py(THREAD_PRELUDE + """
    import time
    for name in [n for n in CLASSES if CLASSES[n][1]]:
        obj, twin = make(name), make(name)
        setter, value = next(iter(CLASSES[name][1].items()))
        x = block(name, 256)
        getattr(obj, setter)(value)
        getattr(twin, setter)(value)
        class Hook:
            def __float__(self):
                for _ in range(3):
                    try:
                        obj.process(x)
                    except RuntimeError as e:
                        assert str(e) == "Already borrowed", e
                    time.sleep(0)
                return float(value)
        class HookBool:
            __module__ = "numpy"
            def __bool__(self):
                time.sleep(0)
                try:
                    obj.process(x)
                except RuntimeError as e:
                    assert str(e) == "Already borrowed", e
                return value
        HookBool.__name__ = "bool_"
        hook = HookBool() if setter == "set_clamp" else Hook()
        outputs, problems = [], []
        lock = threading.Lock()
        def work():
            for _ in range(150):
                for call in (lambda: obj.process(x), lambda: getattr(obj, setter)(hook)):
                    try:
                        r = call()
                    except RuntimeError as e:
                        if str(e) != "Already borrowed":
                            problems.append(repr(e))
                        continue
                    except BaseException as e:
                        problems.append(repr(e))
                        continue
                    if r is not None:
                        with lock:
                            outputs.append(r.tobytes())
        ts = [threading.Thread(target=work) for _ in range(8)]
        for t in ts: t.start()
        join_all(ts)
        assert not problems, problems[:5]
        assert outputs, name
        expected = sorted(twin.process(x).tobytes() for _ in outputs)
        assert sorted(outputs) == expected, name + ": outputs are not the twin's blocks"
        assert obj.process(x).tobytes() == twin.process(x).tobytes(), name
    print("ok")
    """)
    assert out.strip() == "ok"


@pytest.mark.parametrize("run", range(3))
def test_first_array_calls_of_a_fresh_process_from_8_threads(run):
    out = run_py(THREAD_PRELUDE + """
    names = list(CLASSES)
    barrier = threading.Barrier(8)
    results = [None] * 8
    def work(i):
        objs = {n: make(n) for n in names}
        order = names[i:] + names[:i]  # each thread starts with another class
        barrier.wait()
        try:
            results[i] = {n: objs[n].process(block(n, 1500)).tobytes() for n in order}
        except BaseException as e:
            results[i] = repr(e)
    ts = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in ts: t.start()
    join_all(ts)
    ref = {n: make(n).process(block(n, 1500)).tobytes() for n in names}
    bad = [r if isinstance(r, str) else i for i, r in enumerate(results) if r != ref]
    assert not bad, bad
    print("ok")
    """)
    assert out.strip() == "ok"


# ---- the fuzz corpus -------------------------------------------------------------------

def test_fuzz_corpus_replays_clean():
    corpus = ROOT / "robustness" / "corpus"
    if not corpus.is_dir():
        pytest.skip("no fuzz corpus in this tree")
    sys.path.insert(0, str(ROOT / "robustness"))
    try:
        fuzz = importlib.import_module("fuzz_module")
    finally:
        sys.path.remove(str(ROOT / "robustness"))
    assert fuzz.replay([str(corpus)]) > 0


# ---- findings ---------------------------------------------------------------------------

FOREIGN_TABLE = """
    import numpy as np
    from borrow_table import BorrowTable, multiarray, publish
    ma = multiarray()
"""


def test_registry_table_without_functions_is_refused():
    """A published registry table whose shared-borrow functions are null is a
    broken registry: the call fails with the internal-failure exception
    instead of jumping to address 0."""
    out = run_py(FOREIGN_TABLE + """
    table = BorrowTable(1)  # every function null
    publish(table)
    import halvo_sdr
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    for _ in range(2):
        try:
            d.process(np.zeros(3, np.complex64))
        except BaseException as e:
            print(type(e).__name__, "|", e)
    """)
    lines = out.strip().splitlines()
    assert len(lines) == 2
    for line in lines:
        name, msg = line.split(" | ")
        assert name == "PanicException" and msg.startswith("Interal borrow checking API error")


@pytest.mark.parametrize("change", ["dtype", "shape"])
def test_array_changed_while_the_registry_is_first_reached(change):
    """Reaching the borrow registry the first time runs Python code (here a
    module __getattr__ on NumPy's multiarray module, since no registry is
    published yet) after the array's checks. An array whose dtype or shape
    changes meanwhile must be judged as it is when its samples are read:
    a complex64 array turned into twice as many float32 values is no longer
    acceptable, and reading it as complex64 would run past its buffer."""
    out = run_py(FOREIGN_TABLE + """
    x = np.zeros(100_000, np.complex64)
    def hook(name):
        if name == "_VELK_NUMPY_BORROW_CHECKING_API":
            if %r == "dtype":
                x.dtype = np.float32
            else:
                x.shape = (2, 50_000)
        raise AttributeError(name)
    ma.__getattr__ = hook
    import halvo_sdr
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    try:
        out = d.process(x)
        print("returned", out.shape)
    except TypeError as e:
        print(e)
    del ma.__getattr__
    print(len(d.process(np.zeros(5, np.complex64))))
    """ % change)
    assert out.splitlines() == ["argument 'iq': 'ndarray' object is not an instance of 'ndarray'", "5"]


MEMCHECK_SCRIPT = """
import numpy as np, halvo_sdr
from test_robustness import CLASSES, block, failing_calls, make
for name in CLASSES:
    obj = make(name)
    x = block(name, 64)
    for _ in range(3):
        obj.process(x[:0])  # no sample loop: see the test's docstring
    for what, call, exc in failing_calls(name, obj, x):
        try:
            call()
        except exc:
            pass
import halvo_radio
for cls, args, dtype in [("ChannelSelector", (48000, 5000, 4, 4000), np.complex64),
                         ("Resampler", (44100, 48000), np.complex64), ("Upconverter", (8000, 3, 1000, 2000), np.complex64),
                         ("Deemphasis", (48000,), np.float32), ("PowerSquelch", (48000, -30), np.complex64),
                         ("Agc", (48000,), np.float32), ("Receiver", ("wbfm", 480000, 0), np.complex64),
                         ("Transmitter", ("usb", 8000, 48000, 1000), np.float32)]:
    obj = getattr(halvo_radio, cls)(*args)
    obj.process(np.zeros(0, dtype))
    for bad in (np.zeros(4, np.complex128), np.zeros(8, dtype)[::2], [0.0]):
        try:
            obj.process(bad)
        except TypeError:
            pass
for call in (lambda: halvo_radio.ChannelSelector(48000, 0, 0, 1000), lambda: halvo_radio.Resampler(1, 3**40),
             lambda: halvo_radio.lowpass_taps(1e9, 1, 2), lambda: halvo_radio.Receiver("fm", 48000, 0)):
    try:
        call()
    except ValueError:
        pass
"""


@native_only
@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="valgrind and a sanitizer runtime do not mix")
def test_memcheck_finds_no_definite_leak_or_invalid_access(tmp_path):
    """Every class's calls, successful and failing, through valgrind memcheck:
    no invalid access and no definitely lost block with a frame in the
    module. (The borrow registry's capsule, kept for the life of the process,
    used to be lost track of and reported as a definite leak at exit.) The
    blocks are empty: valgrind 3.19 cannot decode the x86-64-v3 sample loops
    this build may choose; robustness/memcheck.sh runs them, built for the
    baseline instruction set, and AddressSanitizer checks them as they are."""
    script = tmp_path / "exercise.py"
    script.write_text(MEMCHECK_SCRIPT)
    log = tmp_path / "memcheck.log"
    r = subprocess.run(
        ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite", "--num-callers=30",
         f"--log-file={log}", sys.executable, str(script)],
        capture_output=True, text=True, timeout=600, cwd=str(ROOT / "tests"),
        env={**os.environ, "PYTHONMALLOC": "malloc", "PYTHONPATH": str(ROOT / "tests")})
    assert r.returncode == 0, r.stderr
    records = [[re.sub(r"^==\d+== ?", "", line) for line in rec.splitlines()]
               for rec in re.split(r"\n==\d+== ?\n", log.read_text(errors="replace"))]  # one report each
    ours = ["\n".join(rec) for rec in records if memcheck_summary.is_ours(rec) and
            any(k in rec[0] for k in ("definitely lost", "Invalid", "uninitialised"))]
    assert not ours, "\n\n".join(ours)


@pytest.mark.parametrize("frame, ours", [
    ("at 0x4C2A1B3: halvo::FmQuadratureDemod::process(float*) (fm_quadrature.cpp:88)", True),
    ("by 0x4C2A1B3: PyInit_halvo_sdr (module.cpp:40)", True),
    ("by 0x4C2A1B3: ??? (in /home/u/venv/lib/python3.11/site-packages/halvo_sdr.abi3.so)", True),
    # A clone in a folder named after the project: NumPy's frames are not ours.
    ("by 0x5D1E2F0: PyArray_NewFromDescr (in /home/u/halvo_sdr/build/test/venv-np2/lib/python3.11/"
     "site-packages/numpy/_core/_multiarray_umath.cpython-311-x86_64-linux-gnu.so)", False),
    ("by 0x5D1E2F0: _PyObject_Malloc (obmalloc.c:1566)", False),
])
def test_memcheck_records_are_attributed_by_file_or_symbol_not_path(frame, ours):
    record = ["8 bytes in 1 blocks are definitely lost in loss record 3 of 90",
              "   at 0x483877F: malloc (vg_replace_malloc.c:307)", "   " + frame]
    assert memcheck_summary.is_ours(record) is ours
