#!/bin/sh
# Builds the launcher and its tests, and runs every test under Wine.
#   ./test.sh [extra ctest arguments]
# build/ is the release toolchain's (clang-19 with lld-19): every test.
# build-gcc/ is mingw-w64 GCC's, which stays supported: its launcher must pass
# the same end-to-end tests. Both run; the script fails if either fails.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
status=0
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/clang-19-x86_64-w64-windows-gnu.cmake
cmake --build build --parallel 2
(cd build && ctest --output-on-failure "$@") || status=1

cmake -S . -B build-gcc -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-gcc --parallel 2 --target launcher_tests hostile_tests
(cd build-gcc && ctest --output-on-failure -L end-to-end "$@") || status=1
exit $status
