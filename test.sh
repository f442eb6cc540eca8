#!/bin/sh
# Builds the launcher and its tests, and runs every test under Wine.
#   ./test.sh [extra ctest arguments]
# The release preset (build/, clang-19 with lld-19) runs every test. The gcc
# preset (build-gcc/, mingw-w64 GCC, which stays supported) builds everything
# that toolchain can, and its launcher must pass the same end-to-end tests.
# Both run; the script fails if either fails. The presets are in
# CMakePresets.json.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
status=0
cmake --preset release
cmake --build --preset release
ctest --preset release "$@" || status=1

cmake --preset gcc
cmake --build --preset gcc
ctest --preset gcc-end-to-end "$@" || status=1
exit $status
