#!/bin/sh
# Builds the launcher and its tests, and runs every test under Wine.
#   ./test.sh [extra ctest arguments]
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build --parallel 2
cd build
ctest --output-on-failure "$@"
