#!/usr/bin/env bash
# The C++ core and its C++ tests cross-built for 64-bit Windows with
# mingw-w64 and run under Wine, bit for bit against the same references as on
# Linux (the kernels at every instruction-set level the CPU has, and the
# module's own fused multiply-add against exact arithmetic):
#
#   bash tools/test_windows.sh
#
# Installs g++-mingw-w64-x86-64 and wine64 when they are missing (root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/mingw
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++-mingw-w64-x86-64 wine64 >/dev/null
fi
export WINEDEBUG=-all WINEPREFIX=$root/build/wine-prefix
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-toolchain.cmake" \
    -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null
ctest --test-dir "$build" --output-on-failure
