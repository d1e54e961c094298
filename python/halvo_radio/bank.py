"""Bank: many independent channels of one halvo_sdr class, processed together."""
import inspect

import numpy as np

import halvo_sdr

from . import _native

_MISSING = inspect.Parameter.empty


def _signature(kind):
    return [(p.name, p.default) for p in inspect.signature(kind).parameters.values()]


def _setters(kind):
    return [name for name in dir(kind) if name.startswith("set_")]


class Bank:
    """Bank(kind, n_channels, **params)

    n_channels independent objects of the halvo_sdr class ``kind``, one per
    channel. Each keyword is a parameter of ``kind``'s constructor (same names
    and defaults): a scalar for every channel, or a sequence of n_channels
    values, one per channel.

    ``process(x)`` takes a 2-D C-contiguous array, one row per channel
    (complex64 or float32, as ``kind`` takes), and returns a new 2-D array:
    row k is bit for bit what a single ``kind`` object built with channel k's
    parameters returns for row k, for any split of the stream into blocks.
    The setters of ``kind`` are here under the same names; each takes a scalar
    for every channel or a sequence of n_channels values.

    Channels run 8 (AVX2) or 16 (AVX-512) at once, one per vector lane.
    """

    __slots__ = ("_native", "_kind", "_n", "__weakref__")

    def __init__(self, kind, n_channels, **params):
        if not (isinstance(kind, type) and getattr(halvo_sdr, kind.__name__, None) is kind):
            raise TypeError(f"Bank() kind must be one of the halvo_sdr classes, not {kind!r}")
        n = int(n_channels)
        if n != n_channels or n < 1:
            raise ValueError(f"Bank() n_channels must be a positive integer, not {n_channels!r}")
        signature = _signature(kind)
        names = {name for name, _ in signature}
        unknown = sorted(set(params) - names)
        if unknown:
            raise TypeError(f"{kind.__name__}() got an unexpected keyword argument '{unknown[0]}'")
        columns = []  # per parameter, its n values
        varying = False
        for name, default in signature:
            if name not in params:
                if default is _MISSING:
                    raise TypeError(f"{kind.__name__}() missing required argument '{name}'")
                columns.append([default] * n)
                continue
            value = params[name]
            if np.ndim(value) == 0:
                columns.append([value.item() if isinstance(value, (np.generic, np.ndarray)) else value] * n)
                continue
            values = np.asarray(value).tolist() if isinstance(value, np.ndarray) else list(value)
            if np.ndim(value) != 1 or len(values) != n:
                raise ValueError(f"Bank() parameter '{name}' needs a scalar or {n} values (one per channel), "
                                 f"got shape {np.shape(value)}")
            columns.append(values)
            varying = True
        native = getattr(_native, kind.__name__ + "Bank")(n, *(c[0] for c in columns))
        if varying:
            for k in range(1, n):
                native.set_channel(k, *(c[k] for c in columns))
        self._native = native
        self._kind = kind
        self._n = n

    def process(self, x):
        # The common case first, in one test; ravel() of a C-contiguous
        # array is a view and costs less than reshape(-1).
        if type(x) is np.ndarray and x.ndim == 2 and x.shape[0] == self._n and x.flags.c_contiguous:
            return self._native.process(x.ravel())
        if type(x) is not np.ndarray or x.ndim != 2 or x.shape[0] != self._n:
            if isinstance(x, np.ndarray):
                raise ValueError(f"{self._kind.__name__} bank of {self._n} channels: process() needs a 2-D array "
                                 f"with {self._n} rows (channels x samples), got shape {x.shape}")
            raise TypeError(f"process() takes a 2-D numpy.ndarray, not {type(x).__name__}")
        raise TypeError("The given array is not contiguous or is misaligned.")

    @property
    def kind(self):
        """The halvo_sdr class of every channel."""
        return self._kind

    @property
    def n_channels(self):
        return self._n

    def __repr__(self):
        return f"halvo_radio.Bank(halvo_sdr.{self._kind.__name__}, n_channels={self._n})"

    def __getattr__(self, name):
        if name.startswith("set_") and name in _setters(self._kind):
            return _BankSetter(self, name)
        raise AttributeError(f"'Bank' of {self._kind.__name__} has no attribute '{name}'")

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(_setters(self._kind)))


class _BankSetter:
    """A setter of the bank's class: a scalar for every channel, or one value per channel."""

    __slots__ = ("_bank", "_name")

    def __init__(self, bank, name):
        self._bank = bank
        self._name = name

    def __call__(self, value):
        bank = self._bank
        native = getattr(bank._native, self._name)
        if np.ndim(value) == 0:
            native(-1, value.item() if isinstance(value, (np.generic, np.ndarray)) else value)
            return
        values = np.asarray(value).tolist() if isinstance(value, np.ndarray) else list(value)
        if np.ndim(value) != 1 or len(values) != bank._n:
            raise ValueError(f"{self._name}() needs a scalar or {bank._n} values (one per channel), "
                             f"got shape {np.shape(value)}")
        for k, v in enumerate(values):
            native(k, v)

    def __repr__(self):
        return f"<bank setter {self._name} of {self._bank!r}>"
