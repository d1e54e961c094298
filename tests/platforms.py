"""Skips for tests that mean something on some platforms only.

HALVO_EMULATOR names the user-mode emulator the suite runs under, when it
does (tools/test_aarch64.sh sets it to qemu-aarch64).
"""
import os
import sys

import pytest

EMULATOR = os.environ.get("HALVO_EMULATOR", "")

# The allocation-failure test caps the address space with RLIMIT_AS and reads
# /proc/self/statm: Linux only, and qemu-user does not enforce the limit on
# the guest's allocations, so the test would allocate 400 MB and prove nothing.
needs_enforced_rlimit_as = pytest.mark.skipif(
    not sys.platform.startswith("linux") or bool(EMULATOR),
    reason="needs Linux with RLIMIT_AS enforced (not under qemu-user)" if EMULATOR else "needs Linux /proc and RLIMIT_AS",
)

# Under qemu-user, valgrind would trace the emulator, not the module.
native_only = pytest.mark.skipif(bool(EMULATOR), reason=f"meaningless under the emulator {EMULATOR}")
