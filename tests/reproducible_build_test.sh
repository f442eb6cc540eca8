#!/bin/sh
# Two builds of the launcher from the same sources, copied to different
# directories and built one after the other, must give the same bytes, and
# the same bytes as this build's own executable.
#   reproducible_build_test.sh SOURCE_DIR WORK_DIR REFERENCE_EXE BUILD_TYPE
set -eu
source_dir=$1
work=$2
reference=$3
build_type=$4

rm -rf "$work"
mkdir -p "$work"

# The sources as they stand, without build folders: tracked and untracked
# files that git does not ignore, or the whole tree outside a checkout.
copy_sources() {
  mkdir -p "$1"
  if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard) |
      (cd "$source_dir" && xargs -0 tar -cf - --) | tar -C "$1" -xf -
  else
    (cd "$source_dir" && tar -cf - --exclude=./build --exclude='./build-*' .) | tar -C "$1" -xf -
  fi
}

build() {
  src=$1
  copy_sources "$src"
  # No SOURCE_DATE_EPOCH: the build must not need one.
  env -u SOURCE_DATE_EPOCH cmake -S "$src" -B "$src/../build" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE="$build_type" -DLINDQUAY_BUILD_TESTS=OFF >/dev/null
  env -u SOURCE_DATE_EPOCH cmake --build "$src/../build" --target lindquay-updater --parallel 2 >/dev/null
}

build "$work/first/src"
# A second later, so that any time stamp would differ.
sleep 1
build "$work/second-build-with-a-longer-path/nested/src"

first=$(sha256sum <"$work/first/build/bin/lindquay-updater.exe" | cut -d' ' -f1)
second=$(sha256sum <"$work/second-build-with-a-longer-path/nested/build/bin/lindquay-updater.exe" | cut -d' ' -f1)
own=$(sha256sum <"$reference" | cut -d' ' -f1)
echo "first build:  $first"
echo "second build: $second"
echo "this build:   $own"
if [ "$first" != "$second" ] || [ "$first" != "$own" ]; then
  echo "FAILED: the builds differ" >&2
  cmp -l "$work/first/build/bin/lindquay-updater.exe" \
    "$work/second-build-with-a-longer-path/nested/build/bin/lindquay-updater.exe" | head -20 >&2 || true
  exit 1
fi
rm -rf "$work"
echo "1 passed, 0 failed"
