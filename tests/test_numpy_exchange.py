"""Sample blocks in and out: accepted arrays, the contiguity rule, output
arrays and their holder, the shared borrow registry, NumPy's availability."""
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import halvo_sdr
from borrow_table import published_table
from platforms import needs_enforced_rlimit_as

IQ = (np.exp(1j * 0.37 * np.arange(64)) * np.linspace(0.2, 1.5, 64)).astype(np.complex64)


def demod():
    return halvo_sdr.CwEnvelopeDemod(8000, 700, 50)


def run_py(code, timeout=60):
    r = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                       timeout=timeout)
    assert r.returncode == 0, f"stdout:\n{r.stdout}\nstderr:\n{r.stderr}"
    return r


@pytest.mark.parametrize("value, qualname", [
    ([1 + 0j], "list"),
    (None, None),
    (np.complex64(1), "complex64"),
    (np.zeros(4, np.complex128), "ndarray"),
    (np.zeros(4, np.float32), "ndarray"),
    (np.zeros(4, ">c8"), "ndarray"),
    (np.zeros((2, 2), np.complex64), "ndarray"),
    (np.array(1 + 0j, np.complex64), "ndarray"),
    (memoryview(np.zeros(4, np.complex64)), "memoryview"),
])
def test_rejected_inputs(value, qualname):
    d = demod()
    with pytest.raises(TypeError) as e:
        d.process(value)
    if qualname is None:
        assert str(e.value) == "argument 'iq': 'None' is not an instance of 'ndarray'"
    else:
        assert str(e.value) == f"argument 'iq': '{qualname}' object is not an instance of 'ndarray'"


def test_modulator_input_type():
    m = halvo_sdr.AmDsbMod(8000, 1000, 0.5, 0.5)
    # (pytest's match= also searches the exception notes: compare the message itself.)
    for wrong in (np.zeros(4, np.float64), np.zeros(4, np.complex64)):
        with pytest.raises(TypeError) as e:
            m.process(wrong)
        assert str(e.value) == "argument 'audio': 'ndarray' object is not an instance of 'ndarray'"
    out = m.process(np.zeros(4, np.float32))
    assert out.dtype == np.complex64 and out.shape == (4,)


def misaligned(n):
    buf = np.zeros(n * 8 + 8, np.uint8)
    arr = np.frombuffer(buf.data, dtype=np.complex64, count=n, offset=1)
    assert not arr.flags.aligned
    return arr


@pytest.mark.parametrize("make", [
    lambda: IQ[::2],
    lambda: IQ[::-1],
    lambda: np.zeros((8, 2), np.complex64)[:, 0],
    lambda: misaligned(8),
], ids=["step2", "reversed", "column", "misaligned"])
def test_non_contiguous_is_refused_and_state_untouched(make):
    d, twin = demod(), demod()
    d.process(IQ)
    twin.process(IQ)
    with pytest.raises(TypeError) as e:
        d.process(make())
    assert str(e.value) == "The given array is not contiguous or is misaligned."
    assert d.process(IQ).tobytes() == twin.process(IQ).tobytes()


@pytest.mark.parametrize("make", [
    lambda: IQ[::2].copy(),
    lambda: IQ[5:6:7],                      # one element, any stride
    lambda: np.asfortranarray(IQ),
    lambda: IQ.copy().view(type("Sub", (np.ndarray,), {})),
    lambda: np.lib.stride_tricks.as_strided(IQ, shape=(1,), strides=(1000,)),
], ids=["copy", "one-element", "fortran", "subclass", "one-element-odd-stride"])
def test_accepted_inputs_match_plain_copy(make):
    x = make()
    assert demod().process(x).tobytes() == demod().process(np.array(x)).tobytes()


def test_read_only_input_is_accepted_and_never_written():
    x = IQ.copy()
    x.setflags(write=False)
    before = x.tobytes()
    out = demod().process(x)
    assert x.tobytes() == before and out.tobytes() == demod().process(IQ).tobytes()


@pytest.mark.parametrize("x", [np.zeros(0, np.complex64), np.zeros(10, np.complex64)[::3][4:],
                               np.zeros((0, 3), np.complex64)[:, 0]], ids=["empty", "empty-strided", "empty-col"])
def test_empty_input(x):
    d, twin = demod(), demod()
    d.process(IQ)
    twin.process(IQ)
    out = d.process(x)
    assert out.dtype == np.float32 and out.shape == (0,) and type(out.base).__name__ == "PySliceContainer"
    assert d.process(IQ).tobytes() == twin.process(IQ).tobytes()


def test_output_array_and_holder():
    x = IQ.copy()
    out = demod().process(x)
    assert type(out) is np.ndarray and out.dtype == np.float32 and out.shape == x.shape
    assert out.flags.writeable and out.flags.c_contiguous and out.flags.aligned
    assert not np.shares_memory(out, x)
    holder = type(out.base)
    assert holder.__name__ == "PySliceContainer" and holder.__module__ == "builtins"
    assert holder.__doc__
    with pytest.raises(TypeError):
        holder()
    out[:] = 7  # the caller owns it
    assert np.all(out == 7)


@pytest.mark.skipif(sys.platform == "win32", reason="needs the resource module (POSIX)")
def test_output_buffers_are_freed():
    import tracemalloc  # noqa: F401  (NumPy traces its own buffers; ours go through malloc)
    import resource

    per_kib = 1024 if sys.platform == "darwin" else 1  # ru_maxrss is in bytes on macOS, KiB elsewhere

    d = demod()
    x = np.zeros(1 << 20, np.complex64)
    for _ in range(3):
        d.process(x)
    start = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(200):
        out = d.process(x)
        del out
    grown_kib = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - start) // per_kib
    assert grown_kib < 64 * 1024, f"peak RSS grew by {grown_kib} KiB over 200 calls of 4 MiB outputs"


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="large outputs are mapped on Linux")
def test_stream_of_large_blocks_reuses_its_output_memory():
    # A stream of 32 MiB outputs, after one 16 MiB output was freed: once the
    # first block's memory is freed, every later block reuses it, with no
    # page faults (a fresh mapping costs at least 16 with huge pages, 8192
    # without).
    import resource

    def faults():
        return resource.getrusage(resource.RUSAGE_SELF).ru_minflt

    del_me = demod().process(np.zeros(1 << 22, np.complex64))  # 16 MiB of float32
    del del_me
    mod = halvo_sdr.AmDsbMod(48000, 1000, 0.5, 0.5)
    x = np.zeros(1 << 22, np.float32)
    mod.process(x)  # 32 MiB of complex64, freed at once
    counts = []
    for _ in range(3):
        before = faults()
        out = mod.process(x)
        counts.append(faults() - before)
        del out
    assert max(counts) < 8, f"minor page faults per call: {counts}"


# ---- borrow registry -------------------------------------------------------------

@pytest.fixture
def registry():
    demod().process(IQ)  # make sure the registry exists
    table = published_table()
    assert table.version == 1
    return table


def test_exclusive_borrow_elsewhere_blocks_process(registry):
    t = registry
    x = IQ.copy()
    d, twin = demod(), demod()
    d.process(IQ)
    twin.process(IQ)
    assert t.acquire_exclusive(t.state, x) == 0
    try:
        with pytest.raises(BaseException) as e:
            d.process(x)
        assert type(e.value).__name__ == "PanicException" and str(e.value).endswith("AlreadyBorrowed")
        with pytest.raises(BaseException, match="AlreadyBorrowed$"):
            d.process(x[10:20])  # overlapping view of the same memory
        d.process(x[::-1].copy())  # other memory is fine
        twin.process(x[::-1].copy())
    finally:
        t.release_exclusive(t.state, x)
    assert d.process(x).tobytes() == twin.process(x).tobytes()


def test_registry_rules(registry):
    t = registry
    base = np.zeros(100, np.complex64)
    a, b = base[:50], base[50:]
    assert t.acquire_shared(t.state, a) == 0
    assert t.acquire_shared(t.state, a) == 0             # shared borrows coexist
    assert t.acquire_exclusive(t.state, base) == -1      # overlaps a shared borrow
    assert t.acquire_exclusive(t.state, b) == 0          # disjoint region of the same base
    assert t.acquire_shared(t.state, base[40:60]) == -1  # overlaps the exclusive one
    t.release_exclusive(t.state, b)
    t.release_shared(t.state, a)
    t.release_shared(t.state, a)
    assert t.acquire_exclusive(t.state, base) == 0
    t.release_exclusive(t.state, base)
    ro = np.zeros(4, np.complex64)
    ro.setflags(write=False)
    assert t.acquire_exclusive(t.state, ro) == -2
    assert t.acquire_shared(t.state, ro) == 0
    t.release_shared(t.state, ro)


def test_process_holds_shared_borrow_only_during_the_call(registry):
    t = registry
    x = IQ.copy()
    demod().process(x)
    with pytest.raises(TypeError):
        demod().process(x[::2])
    assert t.acquire_exclusive(t.state, x) == 0  # nothing left behind
    t.release_exclusive(t.state, x)


def test_foreign_registry_is_used_unchanged():
    run_py("""
        import numpy as np, sys
        sys.path.insert(0, %r)
        from borrow_table import publish, table_of
        calls = []
        def acq(state, arr): calls.append(("acquire", len(arr))); return 0
        def rel(state, arr): calls.append(("release", len(arr)))
        table = table_of(1, acq, rel)
        publish(table)
        import halvo_sdr
        d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
        d.process(np.zeros(5, np.complex64))
        try:
            d.process(np.zeros(4, np.complex64)[::2])
        except TypeError:
            pass
        assert calls == [("acquire", 5), ("release", 5), ("acquire", 2), ("release", 2)], calls
    """ % str(__import__("pathlib").Path(__file__).parent))


def test_version_zero_table_is_refused():
    r = run_py("""
        import numpy as np, sys
        sys.path.insert(0, %r)
        from borrow_table import publish, table_of
        def acq(state, arr): return 0
        def rel(state, arr): pass
        table = table_of(0, acq, rel)
        publish(table)
        import halvo_sdr
        d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
        for _ in range(2):
            try:
                d.process(np.zeros(3, np.complex64))
            except BaseException as e:
                print(type(e).__name__, "|", e)
        try:
            d.process([1])
        except TypeError as e:
            print("TypeError |", e)
    """ % str(__import__("pathlib").Path(__file__).parent))
    lines = r.stdout.strip().splitlines()
    assert len(lines) == 3
    for line in lines[:2]:
        name, msg = line.split(" | ")
        assert name == "PanicException" and msg.startswith("Interal borrow checking API error")
        assert "not supported" in msg
    assert lines[2] == "TypeError | argument 'iq': 'list' object is not an instance of 'ndarray'"


def test_numpy_missing_then_available():
    r = run_py("""
        import sys
        sys.modules['numpy'] = None
        import halvo_sdr
        d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
        for _ in range(2):
            try:
                d.process([1, 2])
            except Exception:
                raise SystemExit("an ordinary Exception escaped")
            except BaseException as e:
                print(type(e).__name__, "|", e)
        del sys.modules['numpy']
        import numpy as np
        out = d.process(np.ones(3, np.complex64))
        print("ok", out.dtype, len(out))
    """)
    lines = r.stdout.strip().splitlines()
    assert lines[-1] == "ok float32 3"
    for line in lines[:2]:
        name, msg = line.split(" | ")
        assert name == "PanicException"
        assert msg.startswith("Failed to access NumPy array API capsule: ")
        assert "numpy" in msg
    assert r.stderr.count("halvo_sdr: internal failure") == 2


def test_first_calls_from_many_threads_at_once():
    r = run_py("""
        import threading, numpy as np, halvo_sdr
        n = 8
        barrier = threading.Barrier(n)
        results = [None] * n
        def work(i):
            d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
            m = halvo_sdr.AmDsbMod(8000, 1000, 0.5, 0.5)
            x = np.full(1000, 1 + 1j, np.complex64)
            barrier.wait()
            try:
                results[i] = (d.process(x).tobytes(), m.process(np.zeros(10, np.float32)).shape)
            except BaseException as e:
                results[i] = repr(e)
        ts = [threading.Thread(target=work, args=(i,)) for i in range(n)]
        for t in ts: t.start()
        for t in ts: t.join(30)
        assert not any(t.is_alive() for t in ts), "deadlock"
        assert all(isinstance(r, tuple) for r in results), results
        assert len({r[0] for r in results}) == 1
        print("ok")
    """, timeout=60)
    assert r.stdout.strip() == "ok"


@needs_enforced_rlimit_as
def test_output_allocation_failure_is_memory_error_and_state_untouched():
    r = run_py("""
        import resource, numpy as np, halvo_sdr
        x = np.ones(50_000_000, np.complex64)          # 400 MB in
        d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
        twin = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
        small = np.full(64, 0.5 + 0.25j, np.complex64)
        d.process(small); twin.process(small)
        with open('/proc/self/statm') as f:
            vm = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (vm + 64 * 2**20, resource.RLIM_INFINITY))
        try:
            d.process(x)                                 # needs 200 MB out
            print("no error")
        except MemoryError:
            print("MemoryError")
        print(d.process(small).tobytes() == twin.process(small).tobytes())
    """)
    assert r.stdout.split() == ["MemoryError", "True"]


# The commonest mistakes: the message stays as it is (callers match it); an
# exception note says what was expected, what was passed and the fix.
@pytest.mark.parametrize("cls, args, make, message, passed, fix", [
    ("FmQuadratureDemod", (48e3, 5e3, 3e3), lambda: np.exp(1j * np.arange(64.0)),
     "argument 'iq': 'ndarray' object is not an instance of 'ndarray'",
     "passed: ndarray, dtype complex128, shape (64,), C-contiguous, aligned, native byte order",
     "fix: iq = np.ascontiguousarray(iq, dtype=np.complex64)"),
    ("AmEnvelopeDemod", (48e3, 3e3), lambda: np.arange(8, dtype=np.int32),
     "argument 'iq': 'ndarray' object is not an instance of 'ndarray'",
     "passed: ndarray, dtype int32, shape (8,), C-contiguous, aligned, native byte order",
     "fix: iq = np.ascontiguousarray(iq, dtype=np.complex64)"),
    ("FmPhaseAccumMod", (48e3, 5e3, 0.0), lambda: np.zeros(8),
     "argument 'audio': 'ndarray' object is not an instance of 'ndarray'",
     "passed: ndarray, dtype float64, shape (8,), C-contiguous, aligned, native byte order",
     "fix: audio = np.ascontiguousarray(audio, dtype=np.float32)"),
    ("FmQuadratureDemod", (48e3, 5e3, 3e3), lambda: np.zeros((2, 4), np.complex64),
     "argument 'iq': 'ndarray' object is not an instance of 'ndarray'",
     "passed: ndarray, dtype complex64, shape (2, 4), C-contiguous, aligned, native byte order",
     "fix: iq = np.ascontiguousarray(iq, dtype=np.complex64).reshape(-1)"),
    ("FmQuadratureDemod", (48e3, 5e3, 3e3), lambda: IQ.astype(IQ.dtype.newbyteorder()),
     "argument 'iq': 'ndarray' object is not an instance of 'ndarray'",
     "passed: ndarray, dtype complex64, shape (64,), C-contiguous, aligned, byte-swapped",
     "fix: iq = np.ascontiguousarray(iq, dtype=np.complex64)"),
    ("FmQuadratureDemod", (48e3, 5e3, 3e3), lambda: IQ[::2],
     "The given array is not contiguous or is misaligned.",
     "passed: ndarray, dtype complex64, shape (32,), not C-contiguous, aligned, native byte order",
     "fix: iq = np.ascontiguousarray(iq, dtype=np.complex64)"),
    ("FmQuadratureDemod", (48e3, 5e3, 3e3), lambda: misaligned(8),
     "The given array is not contiguous or is misaligned.",
     "passed: ndarray, dtype complex64, shape (8,), C-contiguous, misaligned, native byte order",
     "fix: iq = np.array(iq, dtype=np.complex64)"),  # ascontiguousarray would return it unchanged
    ("PmDirectPhaseMod", (48e3, 1.0, 0.0), lambda: [0.0, 1.0],
     "argument 'audio': 'list' object is not an instance of 'ndarray'",
     "passed: list (not a NumPy array)",
     "fix: audio = np.ascontiguousarray(audio, dtype=np.float32)"),
], ids=["complex128", "int32", "float64-to-mod", "2-D", "byte-swapped", "step2", "misaligned", "list"])
def test_rejected_array_keeps_its_message_and_gets_a_note(cls, args, make, message, passed, fix):
    obj = getattr(halvo_sdr, cls)(*args)
    x = make()
    with pytest.raises(TypeError) as e:
        obj.process(x)
    assert str(e.value) == message
    assert len(e.value.__notes__) == 1
    expected, got, hint = e.value.__notes__[0].split("\n")
    want = "complex64" if cls.endswith("Demod") else "float32"
    assert expected.startswith(f"{cls}.process() takes ") and f"1-D, C-contiguous, aligned numpy.ndarray of {want}" in expected
    assert got.startswith(passed) and hint == fix
    # The fix works.
    exec(hint.removeprefix("fix: "), {"np": np}, ns := {hint.split()[1]: x})
    assert obj.process(ns[hint.split()[1]]).shape == (np.asarray(x).size,)


def test_accepted_array_and_other_errors_get_no_note():
    d = demod()
    d.process(IQ)
    with pytest.raises(TypeError) as e:
        d.process(IQ, IQ)
    assert not hasattr(e.value, "__notes__")
