"""The C library's single-precision functions, called through ctypes.

NumPy's own float32 sin/cos/exp use different algorithms than the C library
and can differ in the last bit, so models call these instead.
"""
import ctypes
import ctypes.util

import numpy as np

_libm = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
for _name, _nargs in (("fmaf", 3), ("sinf", 1), ("cosf", 1), ("expf", 1), ("sqrtf", 1)):
    _fn = getattr(_libm, _name)
    _fn.restype = ctypes.c_float
    _fn.argtypes = [ctypes.c_float] * _nargs

f32 = np.float32


def fmaf(a, b, c):
    """a*b + c rounded once to float32."""
    return f32(_libm.fmaf(float(a), float(b), float(c)))


def sinf(x):
    return f32(_libm.sinf(float(x)))


def cosf(x):
    return f32(_libm.cosf(float(x)))


def expf(x):
    return f32(_libm.expf(float(x)))
