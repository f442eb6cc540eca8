#!/bin/sh
# Builds the launcher and its tests, and runs every test under Wine.
#   ./test.sh [extra ctest arguments]
# The release preset (build/, clang-19 with lld-19) runs every test. The gcc
# preset (build-gcc/, mingw-w64 GCC, which stays supported) builds what its
# end-to-end tests need, and its launcher must pass them. The two sides build
# and run at the same time, each in its own folder, Wine prefix and server;
# the GCC side's output (build-gcc/test.log) follows the release side's. The
# script fails if either side fails. The presets are in CMakePresets.json.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh

mkdir -p build-gcc
echo "The GCC side builds and runs its end-to-end tests meanwhile: build-gcc/test.log"
# In a session of its own, so that an interrupted script stops all of it.
setsid -w sh -c 'cmake --preset gcc && cmake --build --preset gcc-end-to-end && ctest --preset gcc-end-to-end "$@"' \
  sh "$@" >build-gcc/test.log 2>&1 &
gcc=$!
trap 'kill -TERM -$gcc 2>/dev/null || true' INT TERM
status=0
{ cmake --preset release && cmake --build --preset release && ctest --preset release "$@"; } || status=1
wait $gcc || status=1
echo "The GCC side (build-gcc/test.log):"
cat build-gcc/test.log
exit $status
