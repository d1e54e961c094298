"""Coverage-guided fuzzing of every constructor and method of halvo_sdr and
of halvo_radio's native classes (halvo_radio._native: the front end, the
audio stage, Receiver and Transmitter).

Each input is a byte string that this harness decodes into a short program:
construct an object of some class from an argument list and keywords drawn
from a pool of odd objects (None, strings, bytes, huge integers, NaN and the
infinities, NumPy scalars, arrays of every dtype, shape, stride and byte
order, objects whose __float__, __index__ or __bool__ raise, return the wrong
thing or call back into the object being called, non-string and non-UTF-8
keyword names), then call its methods a few times with such arguments.

Every call must end in a result or an ordinary exception. Never allowed:
a crash, SystemError, any other BaseException that is not an Exception, or
native_runtime.PanicException, except "AlreadyBorrowed" for an array that
this harness holds exclusively in the shared borrow registry. After each
input the harness also checks that
  - no input array was written,
  - the object is free again and its state equals that of a twin object
    that saw only the calls that succeeded (a failed call changes nothing),
  - successful process() calls return a fresh array of the right dtype and
    length.

The decoder is plain Python, so the corpus replays without atheris:

    python robustness/fuzz_module.py replay robustness/corpus
    python robustness/fuzz_module.py fuzz robustness/corpus -max_total_time=60

`fuzz` needs atheris; robustness/fuzz.sh builds the instrumented module and
runs it with the right runtime preloaded.
"""
import ctypes
import gc
import os
import struct
import sys
import warnings

import numpy as np

import halvo_sdr
import halvo_radio

RADIO = halvo_radio._native

# ---- the classes --------------------------------------------------------------

BOOL_PARAMS = {"abs_approx", "usb", "on"}
CLASSES = {
    "AmEnvelopeDemod": (["fs", "audio_bw_hz", "abs_approx"], ["process"]),
    "CwEnvelopeDemod": (["sample_rate", "tone_hz", "env_bw_hz"], ["set_gain", "process"]),
    "SsbProductDemod": (["fs", "bfo_hz", "audio_bw_hz"], ["process"]),
    "FmQuadratureDemod": (["fs", "dev_hz", "audio_bw_hz"], ["process"]),
    "PmQuadratureDemod": (["fs", "k", "audio_bw_hz"], ["process"]),
    "AmDsbMod": (["fs", "rf_hz", "carrier_level", "modulation_index"], ["set_gain", "set_clamp", "process"]),
    "CwKeyedMod": (["sample_rate", "tone_hz", "rise_ms", "fall_ms"], ["set_gain", "process"]),
    "SsbPhasingMod": (["fs", "audio_bw_hz", "audio_if_hz", "rf_hz", "usb"], ["process"]),
    "FmPhaseAccumMod": (["sample_rate", "deviation_hz", "rf_hz"], ["set_deviation", "set_gain", "process"]),
    "PmDirectPhaseMod": (["sample_rate", "kp_rad_per_unit", "rf_hz"], ["set_gain", "set_sensitivity", "process"]),
}
# halvo_radio's native classes: parameters, methods, the process types (in, out),
# whether process gives one output per input, and a valid argument list (NaN
# marks an option left at its default, as the Python layer passes it).
NAN = float("nan")
C64, F32 = np.complex64, np.float32
RADIO_CLASSES = {
    "ChannelSelector": (["fs", "offset_hz", "decimation", "bandwidth_hz", "transition_hz", "stopband_db"],
                        ["set_offset", "delay", "transition", "process"], (C64, C64), False,
                        [48000.0, 1000.0, 4, 4000.0, NAN, 60.0]),
    "Resampler": (["fs_in", "fs_out", "bandwidth", "stopband_db"],
                  ["interpolation", "decimation", "delay", "process"], (C64, C64), False, [48000.0, 16000.0, 0.9, 60.0]),
    "RealResampler": (["fs_in", "fs_out", "bandwidth", "stopband_db"],
                      ["interpolation", "decimation", "delay", "process"], (F32, F32), False,
                      [44100.0, 48000.0, 0.9, 60.0]),
    "Upconverter": (["fs", "interpolation", "offset_hz", "bandwidth_hz", "stopband_db"],
                    ["set_offset", "delay", "process"], (C64, C64), False, [8000.0, 3, 1000.0, 2000.0, 60.0]),
    "Deemphasis": (["fs", "tau_us"], ["process"], (F32, F32), True, [48000.0, 75.0]),
    "Preemphasis": (["fs", "tau_us"], ["process"], (F32, F32), True, [48000.0, 75.0]),
    "PowerSquelch": (["fs", "threshold_db", "hysteresis_db", "attack_ms", "release_ms", "average_ms"],
                     ["set_threshold", "is_open", "process"], (C64, C64), True, [48000.0, -30.0, 3.0, 1.0, 10.0, 2.0]),
    "Agc": (["fs", "target", "attack_ms", "decay_ms", "max_gain_db"], ["process"], (F32, F32), True,
            [48000.0, 0.5, 10.0, 300.0, 60.0]),
    "Receiver": (["mode", "fs", "offset_hz", "audio_fs", "squelch_db", "bandwidth_hz", "deviation_hz", "tau_us",
                  "tau_given", "cw_pitch_hz"], ["is_open", "channel_fs", "process"], (C64, F32), False,
                 [4, 48000.0, 0.0, 48000.0, NAN, NAN, NAN, NAN, False, 700.0]),
    "Transmitter": (["mode", "audio_fs", "fs", "offset_hz", "bandwidth_hz", "deviation_hz", "tau_us", "tau_given"],
                    ["process"], (F32, C64), False, [4, 8000.0, 48000.0, 0.0, NAN, NAN, NAN, False]),
}
CLASSES.update({name: entry[:2] for name, entry in RADIO_CLASSES.items()})
BOOL_PARAMS.add("tau_given")
# HALVO_FUZZ_CLASSES="AmDsbMod,CwKeyedMod" narrows a run to some classes.
CLASS_NAMES = sorted(c for c in os.environ.get("HALVO_FUZZ_CLASSES", ",".join(CLASSES)).split(",") if c)
METHOD_PARAMS = {"process": None, "set_gain": "g", "set_clamp": "on", "set_deviation": "hz",
                 "set_sensitivity": "kp", "set_offset": "hz", "set_threshold": "db"}
GETTERS = {"delay", "transition", "interpolation", "decimation", "is_open", "channel_fs"}
DEMODULATORS = {n for n in CLASS_NAMES if n.endswith("Demod")}


def class_of(cls_name):
    return getattr(RADIO, cls_name) if cls_name in RADIO_CLASSES else getattr(halvo_sdr, cls_name)


def input_dtype(cls_name):
    if cls_name in RADIO_CLASSES:
        return RADIO_CLASSES[cls_name][2][0]
    return np.complex64 if cls_name in DEMODULATORS else np.float32


def output_dtype(cls_name):
    if cls_name in RADIO_CLASSES:
        return RADIO_CLASSES[cls_name][2][1]
    return np.float32 if cls_name in DEMODULATORS else np.complex64


def param_names(cls_name, method):
    if method == "__new__":
        return CLASSES[cls_name][0]
    if method in GETTERS:
        return []
    p = METHOD_PARAMS[method]
    return [p if p else ("iq" if input_dtype(cls_name) == np.complex64 else "audio")]


# ---- decoding the input -------------------------------------------------------

class Draw:
    """Reads decisions from the fuzzer's bytes; past the end every read is 0."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        b = self.data[self.pos]
        self.pos += 1
        return b

    def below(self, n):
        if n <= 256:
            return self.byte() % n
        return (self.byte() << 8 | self.byte()) % n

    def pick(self, seq):
        return seq[self.below(len(seq))]

    def flag(self):
        return self.byte() & 1 == 1

    def raw(self, n):
        out = self.data[self.pos:self.pos + n]
        self.pos += len(out)
        return out + bytes(n - len(out))

    def float64(self):
        return struct.unpack("<d", self.raw(8))[0]


# ---- odd objects ---------------------------------------------------------------

class HookError(Exception):
    pass


class Unprintable:
    def __str__(self):
        raise HookError("str() of an exception argument")


class Ctx:
    """What hooks may reach: the object being called right now."""

    def __init__(self):
        self.current = None       # object whose method or constructor is running
        self.cls_name = None


CTX = Ctx()


def small_input(cls_name):
    return np.full(4, 0.5, input_dtype(cls_name))


def hook_action(kind, value):
    """What a conversion hook does; the same kind always behaves the same."""
    obj = CTX.current
    if kind == 0:
        return value
    if kind == 1:
        raise HookError("hook refuses")
    if kind == 2:
        raise TypeError("hook type error") from HookError("the cause")
    if kind == 3:
        raise TypeError(Unprintable())
    if kind in (4, 5):  # call back into the same object; swallow or let it propagate
        if obj is not None:
            try:
                obj.process(small_input(CTX.cls_name))
            except RuntimeError:
                if kind == 5:
                    raise
        return value
    if kind == 6 and obj is not None:
        for name in CLASSES[CTX.cls_name][1]:
            if name != "process" and name not in GETTERS:
                try:
                    getattr(obj, name)(1.0 if METHOD_PARAMS[name] != "on" else True)
                except RuntimeError:
                    pass
        return value
    if kind == 7:  # work on a new object of another class from inside a conversion
        other = halvo_sdr.CwKeyedMod(8000, 700, 5, 5)
        other.process(np.ones(8, np.float32))
        return value
    if kind == 8:
        gc.collect()
        return value
    if kind == 9:
        raise MemoryError("hook pretends to be out of memory")
    return value


class FloatHook:
    def __init__(self, kind, value, result=None):
        self.kind, self.value, self.result = kind, value, result

    def __float__(self):
        v = hook_action(self.kind, self.value)
        return self.result if self.result is not None else v

    def __repr__(self):
        return f"FloatHook({self.kind}, {self.value!r}, {self.result!r})"


class IndexHook:
    def __init__(self, kind, value):
        self.kind, self.value = kind, value

    def __index__(self):
        return hook_action(self.kind, self.value)

    def __repr__(self):
        return f"IndexHook({self.kind}, {self.value!r})"


class FloatSub(float):
    pass


class StrSub(str):
    """A keyword name whose comparison and str() misbehave."""

    def __eq__(self, other):
        raise HookError("keyword compared")

    __hash__ = str.__hash__

    def __str__(self):
        raise HookError("keyword printed")


def fake_numpy_bool(name, kind, value):
    def __bool__(self):
        return hook_action(kind, value)
    return type(name, (), {"__module__": "numpy", "__bool__": __bool__})()


class ArraySub(np.ndarray):
    pass


ODD_FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, 8000.0, 48000.0, 1e-300, 5e-324, 1e300, 1.7976931348623157e308,
              3.4028235e38, 3.5e38, float("nan"), float("inf"), float("-inf"), 2.0**31, -2.0**63, 2.0**64]
DTYPES = ["?", "i1", "u1", "<i2", ">i2", "<i4", "<i8", ">u8", "<f2", "<f4", ">f4", "=f4", "<f8", ">f8",
          "g", "<c8", ">c8", "=c8", "<c16", "G", "O", "U3", "S3", "M8[s]", "m8[ms]", "V8",
          [("re", "<f4"), ("im", "<f4")], [("x", "<f4")]]
LENGTHS = [0, 1, 2, 3, 4, 5, 7, 8, 63, 1023, 1024, 1025, 3000]


def array_values(d, n):
    base = np.frombuffer(d.raw(16), np.float32)
    with np.errstate(all="ignore"):  # signalling NaNs among the bytes
        vals = np.resize(base, n).astype(np.float64) if n else np.zeros(0)
    if n and d.flag():
        vals[d.below(n)] = d.pick([np.nan, np.inf, -np.inf, 0.0, -0.0, 1e38])
    return vals


def make_array(d):
    dtype = np.dtype(d.pick(DTYPES) if d.below(3) == 0 else d.pick(["<c8", "<f4", "=c8", "=f4"]))
    n = d.pick(LENGTHS)
    vals = array_values(d, n)
    try:
        with np.errstate(all="ignore"):
            if dtype.kind == "c":
                arr = (vals + 1j * vals[::-1]).astype(dtype)
            elif dtype.kind in "iub":
                arr = np.nan_to_num(vals).astype(dtype)
            elif dtype.kind == "f":
                arr = vals.astype(dtype)
            else:
                arr = np.zeros(n, dtype)
    except (ValueError, TypeError, OverflowError):
        arr = np.zeros(n, dtype)
    layout = d.below(15)
    if layout == 1:
        arr = arr[::2]
    elif layout == 2:
        arr = arr[::-1]
    elif layout == 3 and n % 2 == 0:
        arr = arr.reshape(2, -1)
    elif layout == 4:
        arr = np.asarray(arr[0] if n else np.zeros((), dtype))  # 0-d
    elif layout == 5 and n:
        arr = np.lib.stride_tricks.as_strided(arr, shape=(n,), strides=(0,), writeable=False)
    elif layout == 6:  # misaligned
        buf = np.zeros(n * dtype.itemsize + 1, np.uint8)
        arr = np.frombuffer(buf.data, dtype=dtype, count=n, offset=1) if dtype.kind != "O" else arr
    elif layout == 7:
        arr = np.asfortranarray(np.stack([arr, arr], axis=1))[:, 0]
    elif layout == 8:
        arr = arr.copy()
        arr.setflags(write=False)
    elif layout == 9:
        arr = arr.view(ArraySub)
    elif layout == 10:
        arr = np.ma.masked_array(arr, mask=np.zeros(arr.shape, bool))
    elif layout == 11 and n:
        arr = np.lib.stride_tricks.as_strided(arr, shape=(1,), strides=(d.below(64) * 8 - 256,), writeable=False)
    elif layout == 12:
        arr = arr[1:n - 1]
    elif layout == 13 and arr.ndim == 1 and n:
        arr = np.broadcast_to(arr[:1], (n,))
    elif layout == 14 and arr.ndim == 1 and n and dtype.kind != "O":
        # Strides far outside the buffer: its bytes must never be read, only
        # its extent computed (by the borrow registry) and its layout refused.
        step = d.pick([2**62, -(2**62), 2**40, -(2**40), 2**31 + 8])
        arr = np.lib.stride_tricks.as_strided(arr, shape=(d.pick([1, 2, 3]),), strides=(step,), writeable=False)
        WILD.add(id(arr))
        KEEP.append(arr)
    return arr


WILD = set()   # ids of arrays whose elements lie outside any buffer
KEEP = []      # keeps them alive (and their ids unique) until the input ends


def odd_object(d, cls_name):
    k = d.below(40)
    if k == 0:
        return None
    if k == 1:
        return d.flag()
    if k == 2:
        return d.pick(ODD_FLOATS)
    if k == 3:
        return d.float64()
    if k == 4:
        return d.pick([0, 1, -1, 2**53 + 1, 10**400, -(10**400), 2**1023 * 2])
    if k == 5:
        return d.pick(["", "1.5", "nan", "x", "\udcff", "1e999", " 7 "])
    if k == 6:
        return d.pick([b"", b"1.5", bytearray(b"2"), memoryview(b"3")])
    if k == 7:
        return d.pick([np.float32, np.float64, np.float16, np.longdouble, np.int8, np.uint64, np.int64])(
            d.pick([0, 1, 100, 3]))
    if k == 8:
        return d.pick([np.bool_(True), np.bool_(False), np.complex64(1 + 2j), np.float32("nan"),
                       np.float64("-inf"), np.datetime64(1, "s"), np.str_("1")])
    if k == 9:
        return complex(d.float64(), 1.0)
    if k in (10, 11):
        return FloatHook(d.below(10), d.pick(ODD_FLOATS))
    if k == 12:
        return FloatHook(0, 1.0, result=d.pick(["str", 1, FloatSub(2.0), None, np.float32(1)]))
    if k == 13:
        return IndexHook(d.below(10), d.pick([0, 7, -3, 10**400, True]))
    if k == 14:
        return IndexHook(0, d.pick(["x", 1.5, None]))
    if k in (15, 16):
        return fake_numpy_bool(d.pick(["bool_", "bool", "int_"]), d.below(10), d.pick([True, False, 1, None, "x"]))
    if k == 17:
        return d.pick([[], (), {}, object(), [1.0], (1 + 0j,), set(), range(3), type, halvo_sdr])
    if k == 18:
        return class_of(d.pick(CLASS_NAMES))
    if k == 19:
        return np.array(d.pick([1.0, True, 3]), dtype=d.pick(["f4", "?", "i8", "O"]))
    if k < 30:
        return make_array(d)
    # a correct value for one of the parameters
    return d.pick([48000.0, 700.0, 2700.0, True, False, np.zeros(16, input_dtype(cls_name))])


def keyword_name(d, names):
    names = names or ["x"]   # a getter takes no arguments: any keyword is a wrong one
    k = d.below(10)
    if k < 6:
        return d.pick(names)
    if k == 6:
        return d.pick(["x", "", "gain", "self", "fs\0", "iq ", "FS"])
    if k == 7:
        return d.pick(["\udcff", "f\udcffs", "\ud800"])
    if k == 8:
        return StrSub(d.pick(names))
    return d.pick([1, None, b"fs", 2.5, ("fs",)])  # non-string: only the dictionary form can carry it


# ---- the shared borrow registry --------------------------------------------------

class BorrowTable(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("state", ctypes.c_void_p),
        ("acquire_shared", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)),
        ("acquire_exclusive", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)),
        ("release_shared", ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)),
        ("release_exclusive", ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)),
    ]


_registry = []


def registry():
    """The registry table the module uses (created by its first array call)."""
    if not _registry:
        halvo_sdr.CwEnvelopeDemod(8000, 700, 50).process(np.zeros(1, np.complex64))
        import importlib
        major = int(np.__version__.split(".")[0])
        ma = importlib.import_module("numpy._core.multiarray" if major >= 2 else "numpy.core.multiarray")
        capsule = getattr(ma, "_VELK_NUMPY_BORROW_CHECKING_API")
        get = ctypes.pythonapi.PyCapsule_GetPointer
        get.restype = ctypes.c_void_p
        get.argtypes = [ctypes.py_object, ctypes.c_char_p]
        _registry.append(BorrowTable.from_address(get(capsule, b"_VELK_NUMPY_BORROW_CHECKING_API")))
    return _registry[0]


_call_with_dict = ctypes.pythonapi.PyObject_Call
_call_with_dict.restype = ctypes.py_object
_call_with_dict.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]


# ---- running one input ----------------------------------------------------------

class Finding(AssertionError):
    pass


PanicException = None


def outcome(fn):
    """("ok", result) or ("err", exception); rejects what must never happen."""
    try:
        return "ok", fn()
    except Exception as e:  # noqa: BLE001 - every ordinary exception is a valid outcome
        if isinstance(e, SystemError):
            raise Finding(f"SystemError: {e!r}") from e
        return "err", e
    except BaseException as e:
        if type(e).__name__ == "PanicException" and type(e).__module__ == "native_runtime":
            return "panic", e
        raise Finding(f"{type(e).__name__} escaped: {e!r}") from e


def check_panic(res, held, args):
    kind, val = res
    if kind != "panic":
        return
    arrays = [a for a in args if isinstance(a, np.ndarray)]
    if str(val).endswith("AlreadyBorrowed") and any(np.shares_memory(a, h) for a in arrays for h in held):
        return
    raise Finding(f"PanicException: {val}")


def call(fn, args, kwargs, dict_form):
    if dict_form:
        return lambda: _call_with_dict(fn, tuple(args), dict(kwargs))
    return lambda: fn(*args, **kwargs)


def draw_call(d, cls_name, method, valid):
    names = param_names(cls_name, method)
    if valid:
        return [good_value(cls_name, n) for n in names], [], False
    if d.below(3):
        # The right parameters, some of them odd, by position or by name:
        # the call gets past the parser and into conversion.
        args, kwargs = [], []
        for i, name in enumerate(names):
            value = odd_object(d, cls_name) if d.flag() else good_value(cls_name, name)
            if name == "abs_approx" and d.below(4) == 0:
                continue  # the one optional parameter
            if kwargs or d.below(3) == 0:
                kwargs.append((name, value))
            else:
                args.append(value)
        return args, kwargs, d.below(4) == 0
    npos = d.below(len(names) + 2)
    args = [odd_object(d, cls_name) for _ in range(npos)]
    kwargs = []
    for _ in range(d.below(3)):
        kwargs.append((keyword_name(d, names), odd_object(d, cls_name)))
    dict_form = any(not isinstance(k, str) for k, _ in kwargs) or d.below(4) == 0
    return args, kwargs, dict_form


def good_value(cls_name, name):
    if cls_name in RADIO_CLASSES and name in RADIO_CLASSES[cls_name][0]:
        return RADIO_CLASSES[cls_name][4][RADIO_CLASSES[cls_name][0].index(name)]
    if name in BOOL_PARAMS:
        return True
    if name in ("iq", "audio"):
        return np.linspace(-1, 1, 32).astype(input_dtype(cls_name))
    return 1000.0


def kwargs_of(pairs):
    out = {}
    for k, v in pairs:
        try:
            out[k] = v
        except HookError:
            pass
    return out


def run_input(data):
    d = Draw(data)
    cls_name = d.pick(CLASS_NAMES)
    cls = class_of(cls_name)
    table = registry()
    held = []
    arrays = []   # every array handed to the module, with its bytes before
    try:
        # Construction from odd arguments; a valid twin pair to go on with.
        CTX.current, CTX.cls_name = None, cls_name
        args, kw, dict_form = draw_call(d, cls_name, "__new__", valid=d.below(4) == 0)
        note_arrays(arrays, args, kw)
        res = outcome(call(cls, args, kwargs_of(kw), dict_form))
        check_panic(res, held, args)
        good = [good_value(cls_name, n) for n in CLASSES[cls_name][0]]
        obj, twin = cls(*good), cls(*good)
        for _ in range(1 + d.below(5)):
            if d.below(5) == 0 and not held:  # hold one array exclusively, as another module might
                a = make_array(d)
                if isinstance(a, np.ndarray) and a.flags.writeable and table.acquire_exclusive(table.state, a) == 0:
                    held.append(a)
            method = d.pick(CLASSES[cls_name][1])
            args, kw, dict_form = draw_call(d, cls_name, method, valid=d.below(5) == 0)
            if held and method == "process" and d.flag():
                args = [held[0]]
            note_arrays(arrays, args, kw)
            kwargs = kwargs_of(kw)
            CTX.current = obj
            res = outcome(call(getattr(obj, method), args, kwargs, dict_form))
            check_panic(res, held, args + list(kwargs.values()))
            if res[0] == "ok":
                check_result(cls_name, method, res[1], args, kwargs)
                CTX.current = twin
                mirrored = outcome(call(getattr(twin, method), args, kwargs, dict_form))
                CTX.current = None
                if mirrored[0] != "ok":
                    raise Finding(f"{method} succeeded once and failed on the twin: {mirrored[1]!r}")
                if method == "process" and mirrored[1].tobytes() != res[1].tobytes():
                    raise Finding(f"{cls_name}.process gave the twin other bits for the same call")
        CTX.current = None
        for a, before in arrays:
            if a.tobytes() != before:
                raise Finding("an input array was written")
        probe = np.linspace(-0.7, 0.9, 37).astype(input_dtype(cls_name))
        a, b = obj.process(probe), twin.process(probe)
        if a.tobytes() != b.tobytes():
            raise Finding(f"{cls_name}: state differs from the twin that saw only the successful calls")
    finally:
        CTX.current = None
        for h in held:
            table.release_exclusive(table.state, h)
        WILD.clear()
        KEEP.clear()


def note_arrays(arrays, args, kw):
    for a in list(args) + [v for _, v in kw]:
        if isinstance(a, np.ndarray) and a.dtype.kind != "O" and id(a) not in WILD:
            arrays.append((a, a.tobytes()))


def check_result(cls_name, method, result, args, kwargs):
    if method in GETTERS:
        if type(result) not in (bool, int, float):
            raise Finding(f"{method} returned {result!r}")
        return
    if method != "process":
        if result is not None:
            raise Finding(f"{method} returned {result!r}")
        return
    x = (list(args) + list(kwargs.values()))[0]
    same_length = cls_name not in RADIO_CLASSES or RADIO_CLASSES[cls_name][3]
    if (type(result) is not np.ndarray or result.dtype != output_dtype(cls_name) or result.ndim != 1
            or (same_length and result.shape != (len(x),))):
        raise Finding(f"process returned {type(result)} {getattr(result, 'dtype', None)} "
                      f"{getattr(result, 'shape', None)} for {len(x)} samples")
    if result.size and np.shares_memory(result, x):
        raise Finding("process output shares memory with its input")


def TestOneInput(data):
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a warning is an ordinary exception here
        run_input(data)


# ---- entry points -----------------------------------------------------------------

def corpus_files(paths):
    for p in paths:
        if os.path.isdir(p):
            for name in sorted(os.listdir(p)):
                yield os.path.join(p, name)
        else:
            yield p


def replay(paths):
    n = 0
    for path in corpus_files(paths):
        with open(path, "rb") as f:
            data = f.read()
        try:
            TestOneInput(data)
        except Finding:
            print(f"finding in {path}", file=sys.stderr)
            raise
        n += 1
    print(f"replayed {n} inputs: no finding")
    return n


def fuzz(argv):
    import atheris

    # Coverage of the harness's own decisions guides the fuzzer as well as the
    # module's native coverage (the module is built with HALVO_FUZZ=ON).
    mod = sys.modules[__name__]
    for name, f in list(vars(mod).items()):
        if getattr(f, "__module__", None) != __name__:
            continue
        if isinstance(f, type):
            for attr, m in list(vars(f).items()):
                if callable(m) and hasattr(m, "__code__"):
                    setattr(f, attr, atheris.instrument_func(m))
        elif hasattr(f, "__code__"):
            setattr(mod, name, atheris.instrument_func(f))
    # libFuzzer runs argv[0] again for -merge; fuzz.sh names a launcher for that.
    argv0 = os.environ.get("HALVO_FUZZ_ARGV0", sys.argv[0])
    atheris.Setup([argv0, *argv], mod.TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "replay":
        replay(sys.argv[2:])
    elif len(sys.argv) >= 2 and sys.argv[1] == "fuzz":
        fuzz(sys.argv[2:])
    else:
        sys.exit(__doc__)
