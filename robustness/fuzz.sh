#!/usr/bin/env bash
# Coverage-guided fuzzing of the module with atheris (libFuzzer).
#
#   bash robustness/fuzz.sh replay            # run every input of robustness/corpus once
#   bash robustness/fuzz.sh fuzz 600          # fuzz for 600 s; new inputs go to build/fuzz/new
#   bash robustness/fuzz.sh merge             # fold build/fuzz/new into robustness/corpus (minimised)
#
# The module is built with clang and -DHALVO_FUZZ=ON: AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer's coverage counters, so that the
# fuzzer sees which native branches an input reaches. The interpreter is not
# instrumented; atheris's sanitizer runtime is preloaded instead. A finding
# (a crash, a sanitizer report, or an outcome the harness rejects) leaves the
# input as build/fuzz/crash-* and fails the run; replay it with
#   build/fuzz/venv/bin/python robustness/fuzz_module.py replay build/fuzz/crash-...
# (a plain build of the module suffices when the finding is a wrong outcome).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${HALVO_FUZZ_DIR:-$root/build/fuzz}
python=${PYTHON:-python3}
mode=${1:-replay}
seconds=${2:-60}
mkdir -p "$work/new"

# clang 19: libstdc++'s <source_location> needs a builtin that clang 14 lacks,
# and the kernel dispatch asks __builtin_cpu_supports("x86-64-v3"), which
# clang 16 does not know.
find_clang() {
    for v in 19; do
        if command -v "clang++-$v" >/dev/null && [ -f "$(clang++-$v -print-file-name=libclang_rt.asan_static-x86_64.a)" ]; then
            echo "clang++-$v"; return
        fi
    done
}
cxx=$(find_clang)
if [ -z "$cxx" ]; then
    echo "== installing clang 19 (Debian packages)"
    pkgs=(clang-19 libclang-rt-19-dev)
    apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null; }
    cxx=clang++-19
fi

env="$work/venv"
[ -x "$env/bin/python" ] || "$python" -m venv "$env"
"$env/bin/pip" install -q --disable-pip-version-check "scikit-build-core>=0.10" "numpy>=2" atheris
if [ ! -f "$work/built" ] || [ -n "$(find src CMakeLists.txt -newer "$work/built" -print -quit)" ]; then
    echo "== building the instrumented module with $cxx"
    CXX=$cxx "$env/bin/pip" install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
        -C cmake.define.HALVO_FUZZ=ON -C install.strip=false -C build-dir="$work/module" .
    touch "$work/built"
fi

atheris_dir=$("$env/bin/python" -c "import atheris; print(atheris.path())")
export LD_PRELOAD="$atheris_dir/asan_with_fuzzer.so $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:quarantine_size_mb=16
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
harness="$root/robustness/fuzz_module.py"
# libFuzzer starts argv[0] again for -merge: give it something executable.
printf '#!/bin/sh\nexec "%s" "%s" fuzz "$@"\n' "$env/bin/python" "$harness" >"$work/run-harness"
chmod +x "$work/run-harness"
export HALVO_FUZZ_ARGV0="$work/run-harness"
corpus="$root/robustness/corpus"
cd "$work"
case "$mode" in
    replay)
        "$env/bin/python" "$harness" replay "$corpus"
        ;;
    fuzz)
        "$env/bin/python" "$harness" fuzz "$work/new" "$corpus" -max_total_time="$seconds" -max_len=1024 \
            -timeout=20 -rss_limit_mb=4096 -artifact_prefix="$work/" -print_final_stats=1
        ;;
    merge)
        mkdir -p "$corpus"
        "$env/bin/python" "$harness" fuzz -merge=1 "$corpus" "$work/new" -max_len=1024 -timeout=20 \
            -rss_limit_mb=4096 -artifact_prefix="$work/"
        echo "corpus: $(ls "$corpus" | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KiB"
        ;;
    *)
        echo "usage: $0 replay | fuzz SECONDS | merge"; exit 2
        ;;
esac
