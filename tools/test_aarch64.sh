#!/usr/bin/env bash
# The aarch64 wheel's Python tests under qemu-user, with Debian's arm64
# python3 and python3-numpy unpacked into a folder (never installed: an
# `apt-get install python3:arm64` would remove this machine's own python3).
#
#   bash tools/test_aarch64.sh [pytest arguments]
#
# Without arguments it runs the class tests (models, block splits, NaN and
# degenerate cases: tests/demodulate, tests/modulate, the strict NaN-bit
# split test tests/test_nan_outputs.py) and the surface,
# exchange and robustness tests. Builds the wheel with tools/build_wheels.sh
# unless HALVO_AARCH64_WHEEL names one. Needs root for apt (qemu-user-static,
# the arm64 package lists); the unpacked folder is kept in build/arm64-root.
# Tests that mean nothing under the emulator skip with the reason
# (HALVO_EMULATOR is set for them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/aarch64-test
sysroot=$root/build/arm64-root
mkdir -p "$work"

if ! command -v qemu-aarch64-static >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null
fi

# Debian's arm64 interpreter, NumPy and test tools, unpacked.
packages=(python3.11-minimal libpython3.11-minimal libpython3.11-stdlib python3-numpy
          libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libssl3 libbz2-1.0 liblzma5 libuuid1
          libcrypt1 libblas3 liblapack3 libgfortran5 libsqlite3-0 libncursesw6 libtinfo6 libreadline8
          libnsl2 libtirpc3 python3-scipy liblbfgsb0)
arch_all=(python3-pytest python3-pluggy python3-iniconfig python3-packaging python3-hypothesis
          python3-attr python3-sortedcontainers python3-decorator)
if [ ! -x "$sysroot/usr/bin/python3.11" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then dpkg --add-architecture arm64; fi
    apt-get update -qq
    debs=$work/debs
    rm -rf "$debs" "$sysroot.tmp"
    mkdir -p "$debs" "$sysroot.tmp"
    (cd "$debs" && apt-get download -qq -o APT::Sandbox::User=root "${packages[@]/%/:arm64}" "${arch_all[@]}")
    for deb in "$debs"/*.deb; do dpkg -x "$deb" "$sysroot.tmp"; done
    # The BLAS and LAPACK the alternatives system would link.
    ln -sf blas/libblas.so.3 "$sysroot.tmp/usr/lib/aarch64-linux-gnu/libblas.so.3"
    ln -sf lapack/liblapack.so.3 "$sysroot.tmp/usr/lib/aarch64-linux-gnu/liblapack.so.3"
    mv "$sysroot.tmp" "$sysroot"
fi
# The interpreter as a host script, so that the suite's subprocesses
# (sys.executable) run under qemu too: binfmt_misc may be missing here.
cat >"$sysroot/usr/bin/python3-qemu" <<WRAP
#!/bin/sh
QEMU_LD_PREFIX=$sysroot exec qemu-aarch64-static -0 "\$0" $sysroot/usr/bin/python3.11 "\$@"
WRAP
chmod +x "$sysroot/usr/bin/python3-qemu"
py=$sysroot/usr/bin/python3-qemu

wheel=${HALVO_AARCH64_WHEEL:-}
if [ -z "$wheel" ]; then
    bash tools/build_wheels.sh aarch64 >"$work/build_wheels.log" 2>&1 || { cat "$work/build_wheels.log"; exit 1; }
    wheel=$(ls "$root"/dist/halvo_sdr-*_aarch64.whl)
fi
site=$work/site
rm -rf "$site"
mkdir -p "$site"
"$py" -m zipfile -e "$wheel" "$site"
echo "== aarch64: $(basename "$wheel")"
PYTHONPATH=$site "$py" -c "import platform, numpy, halvo_sdr; print(platform.machine(), 'numpy', numpy.__version__, '-', halvo_sdr.__file__)"

args=()
for a in "$@"; do  # paths relative to the project root, as pytest's own
    if [ -e "$root/$a" ]; then args+=("$root/$a"); else args+=("$a"); fi
done
set -- ${args[@]+"${args[@]}"}
if [ $# -eq 0 ]; then
    set -- "$root/tests/demodulate" "$root/tests/modulate" "$root/tests/test_nan_outputs.py" "$root/tests/test_surface.py" \
        "$root/tests/test_numpy_exchange.py" "$root/tests/test_robustness.py"
fi
cd "$work"
HALVO_EMULATOR=qemu-aarch64 PYTHONPATH=$site "$py" -m pytest -p no:cacheprovider \
    -c "$root/pyproject.toml" --rootdir "$root" -q "$@"
