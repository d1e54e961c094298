"""The module's Python surface: registration, types, argument parsing and
conversion messages, the exclusive borrow of an object during a call."""
import subprocess
import sys
import weakref

import numpy as np
import pytest

import halvo_sdr

# Constructor parameters and methods of each class, in table order.
CLASSES = {
    "AmEnvelopeDemod": (["fs", "audio_bw_hz", "abs_approx"], {"process": ["iq"]}),
    "CwEnvelopeDemod": (["sample_rate", "tone_hz", "env_bw_hz"], {"set_gain": ["g"], "process": ["iq"]}),
    "SsbProductDemod": (["fs", "bfo_hz", "audio_bw_hz"], {"process": ["iq"]}),
    "FmQuadratureDemod": (["fs", "dev_hz", "audio_bw_hz"], {"process": ["iq"]}),
    "PmQuadratureDemod": (["fs", "k", "audio_bw_hz"], {"process": ["iq"]}),
    "AmDsbMod": (["fs", "rf_hz", "carrier_level", "modulation_index"],
                 {"set_gain": ["g"], "set_clamp": ["on"], "process": ["audio"]}),
    "CwKeyedMod": (["sample_rate", "tone_hz", "rise_ms", "fall_ms"], {"set_gain": ["g"], "process": ["audio"]}),
    "SsbPhasingMod": (["fs", "audio_bw_hz", "audio_if_hz", "rf_hz", "usb"], {"process": ["audio"]}),
    "FmPhaseAccumMod": (["sample_rate", "deviation_hz", "rf_hz"],
                        {"set_deviation": ["hz"], "set_gain": ["g"], "process": ["audio"]}),
    "PmDirectPhaseMod": (["sample_rate", "kp_rad_per_unit", "rf_hz"],
                         {"set_gain": ["g"], "set_sensitivity": ["kp"], "process": ["audio"]}),
}
REGISTRATION_ORDER = [
    "CwEnvelopeDemod", "AmEnvelopeDemod", "SsbProductDemod", "FmQuadratureDemod", "PmQuadratureDemod",
    "AmDsbMod", "CwKeyedMod", "FmPhaseAccumMod", "PmDirectPhaseMod", "SsbPhasingMod",
]
BOOL_PARAMS = {"abs_approx", "usb", "on"}


def good_args(cls_name):
    params = CLASSES[cls_name][0]
    return [True if p in BOOL_PARAMS else 1000.0 for p in params]


def make(cls_name):
    return getattr(halvo_sdr, cls_name)(*good_args(cls_name))


def names_list(names):
    q = [f"'{n}'" for n in names]
    if len(q) == 1:
        return q[0]
    if len(q) == 2:
        return f"{q[0]} and {q[1]}"
    return ", ".join(q[:-1]) + ", and " + q[-1]


# ---- module ---------------------------------------------------------------

def test_module_registration():
    assert halvo_sdr.__all__ == REGISTRATION_ORDER
    assert halvo_sdr.__doc__ == ""
    own = {k for k in vars(halvo_sdr) if not k.startswith("__")}
    assert own == set(REGISTRATION_ORDER)
    assert "PySliceContainer" not in vars(halvo_sdr) and "PanicException" not in vars(halvo_sdr)


def test_import_does_not_import_numpy_and_second_instance_shares_types():
    code = (
        "import sys, importlib.util\n"
        "import halvo_sdr\n"
        "assert 'numpy' not in sys.modules, 'numpy imported at module import'\n"
        "found = importlib.util.find_spec('halvo_sdr')\n"
        "m2 = importlib.util.module_from_spec(found); found.loader.exec_module(m2)\n"
        "assert m2 is not halvo_sdr and m2.AmDsbMod is halvo_sdr.AmDsbMod\n"
        "assert m2.__all__ == halvo_sdr.__all__\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, timeout=60)


@pytest.mark.parametrize("name", REGISTRATION_ORDER)
def test_type_shape(name):
    cls = getattr(halvo_sdr, name)
    params, methods = CLASSES[name]
    assert cls.__module__ == "builtins" and cls.__name__ == name and cls.__qualname__ == name
    sig = ", ".join(p + ("=False" if p == "abs_approx" else "") for p in params)
    assert cls.__text_signature__ == f"({sig})"
    assert [k for k in vars(cls) if not k.startswith("__")] == list(methods)
    for meth, margs in methods.items():
        assert getattr(cls, meth).__text_signature__ == f"($self, {margs[0]})"
    expected_doc = "Input: keying envelope 0..1 as float32 array." if name == "CwKeyedMod" else None
    assert cls.process.__doc__ == expected_doc
    obj = make(name)
    assert repr(obj).startswith(f"<builtins.{name} object at 0x")
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


# ---- parsing ----------------------------------------------------------------

def callables():
    for name, (params, methods) in CLASSES.items():
        cls = getattr(halvo_sdr, name)
        required = len(params) - (1 if name == "AmEnvelopeDemod" else 0)
        yield pytest.param(cls, f"{name}.__new__()", params, required, id=f"{name}.__new__")
        for meth, margs in methods.items():
            yield pytest.param(
                lambda *a, _n=name, _m=meth, **k: getattr(make(_n), _m)(*a, **k),
                f"{name}.{meth}()", margs, len(margs), id=f"{name}.{meth}",
            )


@pytest.mark.parametrize("call, full, params, required", list(callables()))
def test_parse_messages(call, full, params, required):
    n = len(params)
    takes = f"from {required} to {n}" if required < n else f"{n}"
    with pytest.raises(TypeError) as e:
        call(*range(n + 2), bogus=1)
    assert str(e.value) == f"{full} takes {takes} positional arguments but {n + 2} were given"
    with pytest.raises(TypeError) as e:
        call()
    missing = params[:required]
    if len(missing) == 1:
        assert str(e.value) == f"{full} missing 1 required positional argument: {names_list(missing)}"
    else:
        assert str(e.value) == (
            f"{full} missing {len(missing)} required positional arguments: {names_list(missing)}")
    with pytest.raises(TypeError) as e:
        call(**{params[0]: 1}, zzz=2)
    assert str(e.value) == f"{full} got an unexpected keyword argument 'zzz'"
    with pytest.raises(TypeError) as e:
        call(1, **{params[0]: 1})
    assert str(e.value) == f"{full} got multiple values for argument '{params[0]}'"
    with pytest.raises(TypeError) as e:
        call(**{"\udcff": 1})
    assert str(e.value) == f"{full} got an unexpected keyword argument '\udcff'"


def test_missing_lists_only_missing_names_in_order():
    with pytest.raises(TypeError) as e:
        halvo_sdr.AmDsbMod(rf_hz=1, modulation_index=2)
    assert str(e.value) == "AmDsbMod.__new__() missing 2 required positional arguments: 'fs' and 'carrier_level'"


def test_keywords_are_matched_in_any_order():
    a = halvo_sdr.CwEnvelopeDemod(sample_rate=48000, tone_hz=700, env_bw_hz=50)
    b = halvo_sdr.CwEnvelopeDemod(env_bw_hz=50, sample_rate=48000, tone_hz=700)
    x = (np.arange(64) * (0.1 + 0.2j)).astype(np.complex64)
    assert a.process(x).tobytes() == b.process(x).tobytes()


# ---- conversion -------------------------------------------------------------

class Idx:
    def __index__(self):
        return 48000


class Flt:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


class FloatRaises:
    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc


class FloatSub(float):
    pass


@pytest.mark.parametrize("value", [48000, 48000.0, FloatSub(48000.0), np.float32(48000), np.int64(48000),
                                   Idx(), Flt(48000.0), True])
def test_number_rule_accepts(value):
    x = (np.arange(32) * (0.3 - 0.1j)).astype(np.complex64)
    ref = halvo_sdr.CwEnvelopeDemod(float(value), 700, 50).process(x)
    assert halvo_sdr.CwEnvelopeDemod(value, 700, 50).process(x).tobytes() == ref.tobytes()


def typeerror_with_cause():
    try:
        try:
            raise KeyError("inner")
        except KeyError as k:
            raise TypeError("outer") from k
    except TypeError as t:
        return t


@pytest.mark.parametrize("value, exc_type, message", [
    ("x", TypeError, "argument 'tone_hz': must be real number, not str"),
    (None, TypeError, "argument 'tone_hz': must be real number, not NoneType"),
    (10 ** 400, OverflowError, "int too large to convert to float"),
    (FloatRaises(ValueError("bad value")), ValueError, "bad value"),
    (FloatRaises(TypeError("bad type")), TypeError, "argument 'tone_hz': bad type"),
    (FloatRaises(MemoryError()), MemoryError, ""),
])
def test_number_rule_errors(value, exc_type, message):
    with pytest.raises(exc_type) as e:
        halvo_sdr.CwEnvelopeDemod(8000, value, 50)
    assert type(e.value) is exc_type and str(e.value) == message


def test_renamed_error_carries_cause():
    original = typeerror_with_cause()
    with pytest.raises(TypeError) as e:
        halvo_sdr.CwEnvelopeDemod(8000, FloatRaises(original), 50)
    assert str(e.value) == "argument 'tone_hz': outer"
    assert e.value is not original and e.value.__cause__ is original.__cause__


def test_type_error_subclass_is_not_renamed():
    class MyTypeError(TypeError):
        pass

    with pytest.raises(MyTypeError, match="^mine$"):
        halvo_sdr.CwEnvelopeDemod(8000, FloatRaises(MyTypeError("mine")), 50)


def test_conversion_runs_in_order_and_stops_at_first_failure():
    seen = []

    class Spy:
        def __init__(self, name):
            self.name = name

        def __float__(self):
            seen.append(self.name)
            raise TypeError(self.name)

    with pytest.raises(TypeError, match="^argument 'sample_rate': a$"):
        halvo_sdr.CwEnvelopeDemod(Spy("a"), Spy("b"), Spy("c"))
    assert seen == ["a"]
    with pytest.raises(TypeError, match="^argument 'sample_rate': "):
        halvo_sdr.CwEnvelopeDemod("a", "b", "c")


class FakeNumpyBool:
    """Poses as NumPy's bool scalar: same __module__ and type name."""


def fake_numpy_bool(name, **attrs):
    return type(name, (), {"__module__": "numpy", **attrs})()


@pytest.mark.parametrize("value, message", [
    (None, "argument 'usb': 'None' is not an instance of 'bool'"),
    (1, "argument 'usb': 'int' object is not an instance of 'bool'"),
    (0.0, "argument 'usb': 'float' object is not an instance of 'bool'"),
    (np.array(True), "argument 'usb': 'ndarray' object is not an instance of 'bool'"),
    (type("HasBool", (), {"__bool__": lambda s: True})(),
     "argument 'usb': 'HasBool' object is not an instance of 'bool'"),
    (fake_numpy_bool("bool_"),
     "argument 'usb': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
    (fake_numpy_bool("bool", __bool__=lambda s: 1), "argument 'usb': 'int' object is not an instance of 'bool'"),
    (fake_numpy_bool("bool_", __bool__=lambda s: (_ for _ in ()).throw(TypeError("no truth"))),
     "argument 'usb': no truth"),
    (fake_numpy_bool("other", __bool__=lambda s: True),
     "argument 'usb': 'other' object is not an instance of 'bool'"),
])
def test_bool_rule_errors(value, message):
    with pytest.raises(TypeError) as e:
        halvo_sdr.SsbPhasingMod(48000, 2700, 1500, 10000, value)
    assert str(e.value) == message


@pytest.mark.parametrize("value, expected", [
    (True, True), (False, False), (np.bool_(True), True), (np.bool_(False), False),
    (fake_numpy_bool("bool_", __bool__=lambda s: True), True),
    (fake_numpy_bool("bool", __bool__=lambda s: False), False),
])
def test_bool_rule_accepts(value, expected):
    audio = np.sin(np.arange(256, dtype=np.float32) * np.float32(0.3)).astype(np.float32)
    ref = halvo_sdr.SsbPhasingMod(48000, 2700, 1500, 10000, expected).process(audio)
    out = halvo_sdr.SsbPhasingMod(48000, 2700, 1500, 10000, value).process(audio)
    assert out.tobytes() == ref.tobytes()


def test_abs_approx_default_and_explicit_none():
    iq = (np.exp(1j * np.arange(200) * 0.3) * (1 + 0.5 * np.sin(np.arange(200) * 0.01))).astype(np.complex64)
    assert (halvo_sdr.AmEnvelopeDemod(8000, 3000).process(iq).tobytes()
            == halvo_sdr.AmEnvelopeDemod(8000, 3000, False).process(iq).tobytes())
    with pytest.raises(TypeError, match=r"^argument 'abs_approx': 'None' is not an instance of 'bool'$"):
        halvo_sdr.AmEnvelopeDemod(8000, 3000, abs_approx=None)


# ---- exclusive borrow ---------------------------------------------------------

class Reenter:
    """A number whose conversion calls back into the object being called."""

    def __init__(self, obj, swallow):
        self.obj, self.swallow, self.inner = obj, swallow, None

    def __float__(self):
        try:
            self.obj.process(np.zeros(4, np.complex64))
        except RuntimeError as e:
            self.inner = e
            if not self.swallow:
                raise
        return 2.0


def test_reentrant_call_through_float_is_already_borrowed():
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    hook = Reenter(d, swallow=True)
    assert d.set_gain(hook) is None
    assert str(hook.inner) == "Already borrowed" and type(hook.inner) is RuntimeError
    hook = Reenter(d, swallow=False)
    with pytest.raises(RuntimeError, match="^Already borrowed$") as e:
        d.set_gain(hook)
    assert e.value is hook.inner
    # The object is released again and the swallowed call's gain took effect.
    twin = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    twin.set_gain(2.0)
    x = np.full(16, 1 + 1j, np.complex64)
    assert d.process(x).tobytes() == twin.process(x).tobytes()


def test_reentrant_bool_conversion_is_already_borrowed():
    m = halvo_sdr.AmDsbMod(8000, 1000, 0.5, 0.5)
    inner = []

    def hook(self):
        try:
            m.set_gain(3.0)
        except RuntimeError as e:
            inner.append(str(e))
        return True

    m.set_clamp(fake_numpy_bool("bool_", __bool__=hook))
    assert inner == ["Already borrowed"]


def test_failed_calls_leave_object_usable():
    d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    twin = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)
    x = (np.arange(50) * (0.01 + 0.02j)).astype(np.complex64)
    d.process(x)
    twin.process(x)
    for bad in (lambda: d.set_gain("x"), lambda: d.set_gain(), lambda: d.process([1, 2]),
                lambda: d.process(np.zeros(8, np.complex128)), lambda: d.process(x[::2]),
                lambda: d.process(np.zeros((2, 2), np.complex64))):
        with pytest.raises(TypeError):
            bad()
    assert d.process(x).tobytes() == twin.process(x).tobytes()


def test_panic_exception_shape():
    code = (
        "import sys\n"
        "sys.modules['numpy'] = None\n"
        "import halvo_sdr\n"
        "d = halvo_sdr.CwEnvelopeDemod(8000, 700, 50)\n"
        "try:\n"
        "    try:\n"
        "        d.process([1])\n"
        "    except Exception:\n"
        "        print('caught by except Exception'); sys.exit(3)\n"
        "except BaseException as e:\n"
        "    t = type(e)\n"
        "    assert t.__name__ == 'PanicException' and t.__module__ == 'native_runtime', t\n"
        "    assert t.__mro__[1] is BaseException and t.__doc__\n"
        "    assert len(e.args) == 1\n"
        "    print(e.args[0])\n"
    )
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    assert r.stdout.startswith("Failed to access NumPy array API capsule: ")
    assert "halvo_sdr: internal failure" in r.stderr and len(r.stderr.strip().splitlines()) == 1
