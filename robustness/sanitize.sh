#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer run of every test:
#   1. the C++ unit tests (CTest), built with -DHALVO_SANITIZE=ON, leak
#      checking on;
#   2. the whole Python suite against the module built with
#      -DHALVO_SANITIZE=ON, in a fresh virtual environment.
#
#   bash robustness/sanitize.sh                 # everything
#   bash robustness/sanitize.sh -k robustness   # extra arguments go to pytest
#
# The interpreter itself is not instrumented, so the sanitizer runtime is
# preloaded (LD_PRELOAD, with libstdc++ so that its __cxa_throw interceptor
# finds the real one) and exported to every child interpreter the tests
# start. Leak checking is off for Python: the interpreter keeps most of its
# allocations until exit by design. Leaks of the module are the business of
# robustness/memcheck.sh and robustness/soak.py. A smaller quarantine keeps
# freed output buffers from looking like growth in the tests that watch the
# resident size. Any report aborts the process and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_SANITIZE_DIR:-$root/build/sanitize}
python=${PYTHON:-python3}
mkdir -p "$work"

libasan=$(g++ -print-file-name=libasan.so)
libstdcxx=$(g++ -print-file-name=libstdc++.so)
[ -f "$libasan" ] || { echo "libasan.so not found (g++ -print-file-name=libasan.so)"; exit 1; }
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== C++ unit tests, sanitized"
cmake -S . -B "$work/cpp" -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON -DHALVO_SANITIZE=ON >/dev/null
cmake --build "$work/cpp" -j 2 >/dev/null
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --test-dir "$work/cpp" --output-on-failure

echo "== Python suite, sanitized module"
env="$work/venv"
[ -x "$env/bin/python" ] || "$python" -m venv "$env"
# matplotlib (at the version the tool checks pin) so that the examples run
# against the sanitized module too; the static checks (mypy, abi3audit) and
# the wheel's packaging tests have nothing to sanitize and skip.
"$env/bin/pip" install -q --disable-pip-version-check "scikit-build-core>=0.10" "numpy>=2" "scipy>=1.13" pytest hypothesis sigmf==1.14.0 \
    "$(grep -E '^matplotlib' tools/check-requirements.txt || echo matplotlib)"
"$env/bin/pip" install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
    -C cmake.define.HALVO_SANITIZE=ON -C install.strip=false -C build-dir="$work/module" .
(
    cd "$work"
    export LD_PRELOAD="$libasan $libstdcxx"
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:quarantine_size_mb=16
    "$env/bin/python" -c "import halvo_sdr, sys; print('sanitized module:', halvo_sdr.__file__)"
    "$env/bin/python" -m pytest -p no:cacheprovider -c "$root/pyproject.toml" --rootdir "$root" "$root/tests" -q "$@"
)
