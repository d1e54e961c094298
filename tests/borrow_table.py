"""A ctypes mirror of the borrow registry's table, the capsule NumPy's
multiarray module holds under CAPSULE_NAME: for tests that call the
registry directly or publish a table of their own before the module looks
for one (in a fresh interpreter: sys.path needs this folder)."""
import ctypes
import importlib

import numpy as np

CAPSULE_NAME = b"_VELK_NUMPY_BORROW_CHECKING_API"

AcquireFn = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
ReleaseFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class BorrowTable(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("state", ctypes.c_void_p),
        ("acquire_shared", AcquireFn),
        ("acquire_exclusive", AcquireFn),
        ("release_shared", ReleaseFn),
        ("release_exclusive", ReleaseFn),
    ]


def multiarray():
    major = int(np.__version__.split(".")[0])
    return importlib.import_module("numpy._core.multiarray" if major >= 2 else "numpy.core.multiarray")


def published_table():
    """The table in use (something must have been processed already)."""
    capsule = getattr(multiarray(), CAPSULE_NAME.decode())
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    return BorrowTable.from_address(get(capsule, CAPSULE_NAME))


def table_of(version, acquire, release):
    """A table whose acquire functions call acquire(state, array) and whose
    release functions call release(state, array)."""
    return BorrowTable(version, None, AcquireFn(acquire), AcquireFn(acquire), ReleaseFn(release), ReleaseFn(release))


def publish(table):
    """Makes `table` the process's registry; the caller keeps it alive."""
    new = ctypes.pythonapi.PyCapsule_New
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    setattr(multiarray(), CAPSULE_NAME.decode(), new(ctypes.addressof(table), CAPSULE_NAME, None))
