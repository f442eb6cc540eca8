#!/bin/sh
# Builds the launcher and its benchmark, then runs the benchmark under Wine,
# in the build's own prefix, and prints one table.
#   ./bench.sh [--repetitions N] [--output-mib N]
# It is no test: .ci/run does not run it. It takes a few minutes.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
# The configure log goes into the build folder, which a fresh clone lacks.
mkdir -p build
cmake --preset release >build/bench-configure.log 2>&1 || { cat build/bench-configure.log; exit 1; }
cmake --build --preset release >build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
  "$(free -g | awk '/^Mem:/{print $2}') GiB; $(uname -sr); $(wine --version 2>/dev/null)"
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
# The launcher's directory, and its log, in memory: the output figures then
# measure what each way of writing costs, not when the disk writes back.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  set -- --scratch 'Z:\dev\shm' "$@"
  echo "Scratch directory: /dev/shm ($(df -h /dev/shm | awk 'NR==2{print $1}'))"
fi
# A prefix of its own (build/bench-wineprefix), which no test changes.
build/bench-wine-run.sh --start-server
trap 'build/bench-wine-run.sh --stop-server >/dev/null 2>&1' EXIT
build/bench-wine-run.sh build/bin/launcher-bench.exe "$@"
