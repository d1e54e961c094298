#!/usr/bin/env bash
# The module and the C++ tests built with the oldest supported compilers,
# GCC 11 and clang 14 (or the ones named), without a warning, the C++ tests
# run:
#
#   bash tools/test_compilers.sh                  # g++-11 and clang++-14
#   bash tools/test_compilers.sh clang++-19       # any others
#
# Installs Debian's g++-11 and clang-14 when they are asked for and missing (root).
set -euo pipefail
cd "$(dirname "$0")/.."
compilers=("$@")
[ ${#compilers[@]} -gt 0 ] || compilers=(g++-11 clang++-14)
for cxx in "${compilers[@]}"; do
    if ! command -v "$cxx" >/dev/null; then
        case $cxx in
            g++-*) pkg=$cxx;;
            clang++-*) pkg=clang-${cxx#clang++-};;
            *) echo "$cxx not found" >&2; exit 1;;
        esac
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$pkg" >/dev/null
    fi
    echo "-- $("$cxx" --version | head -1)"
    build=build/compiler-$cxx
    CXX=$cxx cmake -S . -B "$build" -DHALVO_BUILD_MODULE=ON -DHALVO_BUILD_TESTS=ON >/dev/null
    cmake --build "$build" -j 2 2>&1 | { ! grep -E "warning:|error:"; }   # no diagnostics
    ctest --test-dir "$build" --output-on-failure
done
