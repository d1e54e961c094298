#!/usr/bin/env bash
# Compiles and links the C++ core and its C++ tests for macOS, arm64 and
# x86-64, with zig's clang (the tools venv of tools/build_wheels.sh): the
# Apple paths of the code and of CMakeLists.txt (no ELF link flags, the
# x86-64-v3 kernels in the x86-64 slice only) built without warnings. The
# programs are not run (no macOS here), and the extension module is not
# linked (zig's Mach-O linker does not link Python bundles).
#
#   bash tools/check_macos_build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/wheels
venv=$work/venv
if ! "$venv/bin/python" -c "import ziglang" 2>/dev/null; then
    python3 -m venv "$venv" && "$venv/bin/pip" install -qq ziglang
fi
for arch in aarch64 x86_64; do
    bin=$work/zig-$arch-macos
    mkdir -p "$bin"
    for tool in c++ ar ranlib; do
        printf '#!/bin/sh\nZIG_GLOBAL_CACHE_DIR=%s exec %s -I -m ziglang %s "$@"\n' \
            "$work/zig-cache" "$venv/bin/python" "$( [ $tool = c++ ] && echo "c++ -target $arch-macos" || echo $tool)" >"$bin/$tool"
        chmod +x "$bin/$tool"
    done
    build=$root/build/macos-$arch
    export HALVO_ZIG_TARGET=$arch-macos HALVO_ZIG_BIN=$bin
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tools/zig-toolchain.cmake" \
        -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON >/dev/null
    cmake --build "$build" -j 2 2>&1 | { ! grep -E "warning:|error:"; }
    echo "macOS $arch: C++ core and tests compiled and linked ($build)"
done
