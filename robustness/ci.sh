#!/usr/bin/env bash
# The robustness share of CI, a few minutes in all:
#   1. the fuzz corpus replayed on the instrumented build, then a short
#      fuzzing run (HALVO_CI_FUZZ_SECONDS, 45 s by default) from it;
#   2. a reduced leak soak (2% of the full counts) on a plain build:
#      HALVO_SOAK_PYTHON names an interpreter that has halvo_sdr installed,
#      otherwise one is built here;
#   3. the C++ tests and the whole Python suite under AddressSanitizer and
#      UndefinedBehaviorSanitizer.
# Valgrind memcheck and the full soak are too slow for CI; see
# robustness/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
python=${PYTHON:-python3}

echo "== robustness: fuzz corpus replay and ${HALVO_CI_FUZZ_SECONDS:-45} s of fuzzing"
bash robustness/fuzz.sh replay
mkdir -p build/fuzz
log=build/fuzz/ci-fuzz.log
if ! bash robustness/fuzz.sh fuzz "${HALVO_CI_FUZZ_SECONDS:-45}" >"$log" 2>&1; then
    tail -80 "$log"
    echo "fuzzing found something: the input is build/fuzz/crash-* (see robustness/README.md)"
    exit 1
fi
grep -E "^(Done|stat::(number_of_executed_units|peak_rss_mb|new_units_added))" "$log"

echo "== robustness: reduced leak soak"
soak_python=${HALVO_SOAK_PYTHON:-}
if [ -z "$soak_python" ]; then
    env="$root/build/soak/venv"
    [ -x "$env/bin/python" ] || "$python" -m venv "$env"
    "$env/bin/pip" install -q --disable-pip-version-check "scikit-build-core>=0.10" "numpy>=2"
    "$env/bin/pip" install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
        -C build-dir="$root/build/soak/module" .
    soak_python="$env/bin/python"
fi
(cd /tmp && "$soak_python" "$root/robustness/soak.py" --scale 0.02 | grep -vE "^  .*(Mod|Demod)")

echo "== robustness: sanitizers"
bash robustness/sanitize.sh
