#!/bin/sh
# Builds the launcher and its tests, and runs every test under Wine.
#   ./test.sh [extra ctest arguments]
# build/ is the release toolchain's (clang-19 with lld-19): every test.
# build-gcc/ is mingw-w64 GCC's, which stays supported: its launcher must pass
# the same end-to-end tests, run from build/ beside it. Both run; the script
# fails if either fails.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
status=0
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/clang-19-x86_64-w64-windows-gnu.cmake
cmake --build build --parallel 2
(cd build && ctest --output-on-failure "$@") || status=1

# The GCC-built launcher, with the end-to-end test programs and stand-ins
# beside it: a test finds the launcher in its own folder.
cmake -S . -B build-gcc -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DLINDQUAY_BUILD_TESTS=OFF
cmake --build build-gcc --parallel 2 --target lindquay-updater
for program in launcher_tests hostile_tests java-standin product-standin; do
  cp build/bin/$program.exe build-gcc/bin/
done
build/wine-run.sh --start-server
for program in launcher_tests hostile_tests; do
  echo "$program against the GCC-built launcher:"
  build/wine-run.sh build-gcc/bin/$program.exe --gtest_color=no --gtest_brief=1 || status=1
done
build/wine-run.sh --stop-server
exit $status
