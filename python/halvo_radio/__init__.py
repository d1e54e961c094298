"""halvo_radio: receiver and transmitter building blocks on halvo_sdr.

The native classes live in halvo_sdr's extension file, as the module
halvo_radio._native (its second init function).
"""
import importlib.machinery
import importlib.util
import sys

import halvo_sdr


def _load_native():
    name = "halvo_radio._native"
    loader = importlib.machinery.ExtensionFileLoader(name, halvo_sdr.__file__)
    where = importlib.util.spec_from_file_location(name, halvo_sdr.__file__, loader=loader)
    module = importlib.util.module_from_spec(where)
    sys.modules[name] = module
    loader.exec_module(module)
    return module


_native = _load_native()
# The native banks (one per halvo_sdr class) stay behind halvo_radio.Bank.
__all__ = [name for name in _native.__all__ if name.removesuffix("Bank") not in halvo_sdr.__all__]
globals().update({name: getattr(_native, name) for name in __all__})

# "X as X": the names are re-exported for type checkers too (__all__ above is built at run time).
from .frontend import ChannelSelector as ChannelSelector, Resampler as Resampler  # noqa: E402  (front end)
from .frontend import Upconverter as Upconverter, lowpass_taps as lowpass_taps  # noqa: E402
__all__ += ["lowpass_taps"]
from .audio import MODES as MODES, Agc as Agc, Deemphasis as Deemphasis  # noqa: E402
from .audio import PowerSquelch as PowerSquelch, Preemphasis as Preemphasis  # noqa: E402
from .audio import Receiver as Receiver, Transmitter as Transmitter  # noqa: E402
__all__ += ["MODES"]
from .bank import Bank as Bank  # noqa: E402
__all__ += ["Bank"]
from .receiver_bank import ReceiverBank as ReceiverBank  # noqa: E402
