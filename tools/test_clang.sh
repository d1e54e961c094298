#!/usr/bin/env bash
# The module and the C++ tests built with clang (default clang++-14, the
# oldest clang supported; CXX=clang++-19 for another), the C++ tests run:
#
#   bash tools/test_clang.sh
#
# Installs Debian's clang-14 when no clang is given and it is missing (root).
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${CXX:-clang++-14}
if ! command -v "$cxx" >/dev/null && [ "$cxx" = clang++-14 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 >/dev/null
fi
build=build/clang-$(basename "$cxx")
CXX=$cxx cmake -S . -B "$build" -DHALVO_BUILD_MODULE=ON -DHALVO_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j 2 2>&1 | { ! grep -E "warning:|error:"; }   # no diagnostics
ctest --test-dir "$build" --output-on-failure
