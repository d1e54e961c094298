#!/usr/bin/env bash
# Valgrind memcheck of the whole Python suite against a plain
# (uninstrumented) build of the module with debug information.
#
#   bash robustness/memcheck.sh                         # the whole suite (8-16 min here)
#   bash robustness/memcheck.sh tests/test_surface.py -k parse
#
# The module is built with HALVO_BASELINE_ISA=ON: valgrind 3.19 stops at some
# AVX encodings of the x86-64-v3 kernel level (SIGILL on VMOVQ xmm, xmm).
# That level runs the same loops, and AddressSanitizer checks its memory
# accesses on this CPU (robustness/sanitize.sh).
#
# The interpreter runs with PYTHONMALLOC=malloc, so that every Python object
# is a heap block of its own and valgrind sees its bounds. Child interpreters
# started by tests run without valgrind (tests/test_robustness.py has its own
# memcheck test of every class).
#
# Passes when valgrind reports no invalid read, write or free anywhere, no
# other error with a frame in the module, and no definitely lost block with a
# frame in the module. robustness/valgrind.supp silences two reports of
# glibc's own optimised string routines. The summary lists what was found;
# the full log stays in build/memcheck/memcheck.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_MEMCHECK_DIR:-$root/build/memcheck}
python=${PYTHON:-python3}
mkdir -p "$work"
command -v valgrind >/dev/null || apt-get install -y -qq valgrind >/dev/null

env="$work/venv"
[ -x "$env/bin/python" ] || "$python" -m venv "$env"
"$env/bin/pip" install -q --disable-pip-version-check "scikit-build-core>=0.10" "numpy>=2" "scipy>=1.13" pytest hypothesis sigmf==1.14.0
"$env/bin/pip" install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
    -C cmake.build-type=RelWithDebInfo -C cmake.define.HALVO_BASELINE_ISA=ON -C install.strip=false \
    -C build-dir="$work/module" .

[ $# -eq 0 ] && set -- tests
args=()
for a in "$@"; do [[ "$a" == tests || "$a" == tests/* ]] && args+=("$root/$a") || args+=("$a"); done

log="$work/memcheck.log"
cd "$work"
set +e
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --log-file="$log" \
    --suppressions="$root/robustness/valgrind.supp" \
    "$env/bin/python" -m pytest -p no:cacheprovider -c "$root/pyproject.toml" --rootdir "$root" -q "${args[@]}"
status=$?
set -e
"$env/bin/python" "$root/robustness/memcheck_summary.py" "$log" || status=1
exit $status
