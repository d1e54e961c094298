#!/usr/bin/env bash
# Installs halvo_sdr and runs every test: the C++ unit tests (CTest), then the
# Python suite against the installed wheel, once under NumPy 2.x and once
# under NumPy 1.x, each in a fresh virtual environment.
#
# Under NumPy 2.x the environment also gets the tools of
# tools/check-requirements.txt, and the suite then checks the wheel
# (abi3audit --strict), the stubs (stubtest, mypy), the examples (each run
# once, type-checked) and the documentation's figures. Under NumPy 1.x,
# without matplotlib, the examples run once more and skip their plots.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_TEST_DIR:-$root/build/test}
python=${PYTHON:-python3}
rm -rf "$work"
mkdir -p "$work"

echo "== building the wheel"
"$python" -m pip wheel --no-deps -qq -w "$work/wheel" .
wheel=$(ls "$work"/wheel/halvo_sdr-*.whl)
echo "$(basename "$wheel")"

echo "== C++ unit tests"
cmake -S . -B "$work/cpp" -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON >/dev/null
cmake --build "$work/cpp" -j 2 >/dev/null
ctest --test-dir "$work/cpp" --output-on-failure

run_suite() {  # name, numpy requirement, scipy requirement, then extra pip arguments
    local env="$work/venv-$1" numpy=$2 scipy=$3 require_tools=
    shift 3
    if [ $# -gt 0 ]; then require_tools=1; fi   # tools asked for: their tests must not skip
    echo "== Python tests with $numpy"
    "$python" -m venv "$env"
    "$env/bin/pip" install -qq "$wheel" "$numpy" "$scipy" pytest hypothesis "$@"
    "$env/bin/python" -c "import numpy, halvo_sdr; print('numpy', numpy.__version__, '-', halvo_sdr.__file__)"
    (cd "$work" && HALVO_WHEEL="$wheel" HALVO_REQUIRE_TOOLS=$require_tools \
        "$env/bin/python" -m pytest -p no:cacheprovider -c "$root/pyproject.toml" --rootdir "$root" "$root/tests" -q)
}
run_suite np2 "numpy>=2" "scipy>=1.13" -r "$root/tools/check-requirements.txt"
run_suite np1 "numpy<2" "scipy<1.14"

# Robustness share of CI: fuzz corpus replay and a short fuzzing run, a reduced leak soak, then every test under AddressSanitizer/UBSan (robustness/README.md).
HALVO_SOAK_PYTHON="$work/venv-np2/bin/python" bash robustness/ci.sh

# Platforms: the oldest supported compilers (GCC 11, clang 14), the aarch64 manylinux wheel under qemu-user, the C++ tests for Windows under Wine.
echo "== GCC 11 and clang 14 builds and C++ tests"; bash tools/test_compilers.sh
echo "== aarch64 wheel under qemu-user"; bash tools/test_aarch64.sh
echo "== Windows (mingw-w64) C++ tests under Wine"; bash tools/test_windows.sh
echo "== macOS arm64 and x86-64: compile and link check"; bash tools/check_macos_build.sh
