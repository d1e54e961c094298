# Cross build for 64-bit Windows with mingw-w64's GCC (Debian
# g++-mingw-w64-x86-64, the POSIX-threads variant), the tests run under Wine:
#
#   cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=tools/mingw-toolchain.cmake \
#         -DHALVO_BUILD_MODULE=OFF -DHALVO_BUILD_TESTS=ON
#   cmake --build build/mingw -j2 && ctest --test-dir build/mingw
#
# (tools/test_windows.sh does all of it.)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs carry their C++ runtime, so Wine needs no DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
