#!/usr/bin/env bash
# Valgrind memcheck of a representative part of the Python suite against a
# plain (uninstrumented) build of the module with debug information.
#
#   bash robustness/memcheck.sh                     # the default selection below
#   bash robustness/memcheck.sh tests/test_surface.py -k parse
#
# The default selection covers every class (surface, exchange, robustness
# tests including the fuzz corpus replay, one test file per mode) but leaves
# out the model comparisons over long signals, which take hours under
# memcheck and exercise no wrapper path the others miss. The interpreter runs
# with PYTHONMALLOC=malloc, so that every Python object is a heap block of its
# own and valgrind sees its bounds. Child interpreters started by tests run
# without valgrind.
#
# Passes when valgrind reports no invalid read, write or free anywhere, no
# other error with a frame in the module, and no definitely lost block with a
# frame in the module. The summary lists what was found; the full log stays
# in build/memcheck/memcheck.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_MEMCHECK_DIR:-$root/build/memcheck}
python=${PYTHON:-python3}
mkdir -p "$work"
command -v valgrind >/dev/null || apt-get install -y -qq valgrind >/dev/null

env="$work/venv"
[ -x "$env/bin/python" ] || "$python" -m venv "$env"
"$env/bin/pip" install -q --disable-pip-version-check "scikit-build-core>=0.10" "numpy>=2" "scipy>=1.13" pytest hypothesis
"$env/bin/pip" install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
    -C cmake.build-type=RelWithDebInfo -C install.strip=false -C build-dir="$work/module" .

if [ $# -eq 0 ]; then
    set -- tests/test_surface.py tests/test_numpy_exchange.py tests/test_robustness.py \
        tests/demodulate/test_cw.py tests/demodulate/test_fm.py tests/modulate/test_am.py \
        -k "not output_allocation_failure"  # RLIMIT_AS and valgrind's own address space do not mix
fi
args=()
for a in "$@"; do [[ "$a" == tests/* ]] && args+=("$root/$a") || args+=("$a"); done

log="$work/memcheck.log"
cd "$work"
set +e
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --log-file="$log" \
    "$env/bin/python" -m pytest -p no:cacheprovider -c "$root/pyproject.toml" --rootdir "$root" -q "${args[@]}"
status=$?
set -e
"$env/bin/python" "$root/robustness/memcheck_summary.py" "$log" || status=1
exit $status
