#!/bin/sh
# Builds the launcher and shows its main job under Wine: a direct update that
# succeeds, one that fails and an elevated one, with exit codes, log and
# failure record.
set -eu
cd "$(dirname "$0")"
sh cmake/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target demo
build/wine-run.sh --start-server
status=0
build/wine-run.sh build/bin/demo.exe || status=$?
build/wine-run.sh --stop-server
exit $status
