#!/bin/sh
# The test kit stands alone: installed into a fresh folder outside the build,
# its run-tests.cmd runs every test program from there through Wine's cmd,
# and every case that runs passes. To keep the run short, each program runs
# one shard of SHARDS (GoogleTest reads the shard and the filter from the
# environment), without the 300 seeded runs, which take half a minute alone.
#   kit_test.sh CMAKE BUILD_DIR WINE_RUN SHARDS PROGRAM...
set -eu
cmake=$1
build=$2
wine_run=$3
shards=$4
shift 4
kit=$(mktemp -d /tmp/lindquay-kit.XXXXXX)
trap 'rm -rf "$kit"' EXIT
"$cmake" --install "$build" --component tests --prefix "$kit" >/dev/null
cd "$kit/bin"
status=0
GTEST_FILTER=-*.HardValuesReachTheRuntimeWhole* GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=0 \
  "$wine_run" cmd /c run-tests.cmd >run.txt 2>&1 || status=$?
tr -d '\r' <run.txt | grep -E '^(Running [a-z_]+|[a-z_]+: .*|[0-9]+ passed, .*)$' || true
closing=$(tail -n 1 run.txt | tr -d '\r')
failed=0
for program in "$@"; do
  if [ ! -f "reports/$program.xml" ]; then
    echo "FAIL: $program wrote no report in the kit"
    failed=1
  fi
done
if ! echo "$closing" | grep -Eq '^[1-9][0-9]* passed, 0 failed$' || [ "$status" -ne 0 ]; then
  echo "FAIL: run-tests.cmd ended with \"$closing\", exit code $status"
  tr -d '\r' <run.txt
  failed=1
fi
exit $failed
