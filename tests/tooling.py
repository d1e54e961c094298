"""Shared by the packaging, docs and example tests: paths, optional tools, and
running a Python script the way a user would.

The checks that need mypy, abi3audit or matplotlib skip where those are not
installed; tools/run_tests.sh sets HALVO_REQUIRE_TOOLS=1 in the environment
that has them, so that there a missing tool fails instead of skipping."""
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
DOCS = ROOT / "docs"


def require(module):
    """Skip the test unless `module` can be imported (fail under HALVO_REQUIRE_TOOLS)."""
    if importlib.util.find_spec(module) is None:
        if os.environ.get("HALVO_REQUIRE_TOOLS"):
            pytest.fail(f"{module} is required here (HALVO_REQUIRE_TOOLS is set)")
        pytest.skip(f"{module} is not installed")


def have(module):
    return importlib.util.find_spec(module) is not None


def run_python(args, cwd, check=True, timeout=300, env=None):
    """Run `python args...` in `cwd`; unless check is false, fail with its
    output if it does not exit 0."""
    full_env = {**os.environ, "MPLBACKEND": "Agg", **(env or {})}
    proc = subprocess.run([sys.executable, *map(str, args)], cwd=cwd, env=full_env,
                          capture_output=True, text=True, timeout=timeout)
    if check and proc.returncode != 0:
        pytest.fail(f"python {' '.join(map(str, args))} exited {proc.returncode}\n"
                    f"--- stdout\n{proc.stdout}\n--- stderr\n{proc.stderr}")
    return proc
