# Cross toolchain for the Linux wheels: zig's clang and libc++ (from the
# `ziglang` package on PyPI), linking against an old glibc's symbol versions
# so that one wheel loads on every distribution from that glibc on.
#
# tools/build_wheels.sh sets, in the environment:
#   HALVO_ZIG_TARGET  zig target triple with glibc version, e.g. x86_64-linux-gnu.2.17
#   HALVO_ZIG_BIN     folder holding the wrappers c++, ar and ranlib around `zig`
# (environment variables, because CMake re-reads this file for every
# try_compile and cache variables do not reach those.)
# (tools/check_macos_build.sh uses it for macOS targets too, aarch64-macos
# and x86_64-macos: a compile-and-link check of the C++ core and its tests.)
if("$ENV{HALVO_ZIG_TARGET}" MATCHES "macos")
  set(CMAKE_SYSTEM_NAME Darwin)
else()
  set(CMAKE_SYSTEM_NAME Linux)
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "$ENV{HALVO_ZIG_TARGET}")
set(CMAKE_CXX_COMPILER "$ENV{HALVO_ZIG_BIN}/c++")
set(CMAKE_AR "$ENV{HALVO_ZIG_BIN}/ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "$ENV{HALVO_ZIG_BIN}/ranlib" CACHE FILEPATH "")
# Headers and libraries of the target come with zig; the interpreter's headers
# (stable ABI, the same on every 64-bit Linux) come from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# zig reads -march=x86-64-v3 as CPU "x86" minus features; its own spelling:
set(HALVO_X86_64_V3_FLAGS "-mcpu=x86_64_v3" CACHE STRING "")
# zig links its libc++ statically by itself, and its linker has no
# --exclude-libs: a version script keeps libc++'s symbols (operator new and
# delete among them) out of the module's dynamic symbol table.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(HALVO_MODULE_LINK_FLAGS "-Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/module-exports.map" CACHE STRING "")
endif()
