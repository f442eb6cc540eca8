#!/bin/sh
# Three builds of the launcher from the same sources, copied to different
# directories and built one after the other, must give the same bytes, and
# the same bytes as this build's own executable.
#   reproducible_build_test.sh SOURCE_DIR WORK_DIR REFERENCE_EXE BUILD_TYPE TOOLCHAIN_FILE_NAME
set -eu
source_dir=$1
work=$2
reference=$3
build_type=$4
toolchain=$5

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
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DCMAKE_BUILD_TYPE="$build_type" -DLINDQUAY_BUILD_TESTS=OFF >/dev/null
  env -u SOURCE_DATE_EPOCH cmake --build "$src/../build" --target lindquay-updater --parallel 2 >/dev/null
}

builds="first/src second-build-with-a-longer-path/nested/src t/s"
for build in $builds; do
  build "$work/$build"
  # A second later, so that any time stamp would differ.
  sleep 1
done

own=$(sha256sum <"$reference" | cut -d' ' -f1)
echo "this build:   $own"
failed=0
for build in $builds; do
  exe="$work/$build/../build/bin/lindquay-updater.exe"
  hash=$(sha256sum <"$exe" | cut -d' ' -f1)
  echo "$build: $hash"
  if [ "$hash" != "$own" ]; then
    failed=1
    cmp -l "$reference" "$exe" | head -20 >&2 || true
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "FAILED: the builds differ" >&2
  exit 1
fi

# The post-link check that every build runs refuses, and removes, a file with
# a time stamp in its header, and one that names the build folder.
check="$source_dir/cmake/check_pe_stamps.py"
cp "$reference" "$work/stamped.exe"
pe=$(od -An -tu4 -j60 -N4 "$work/stamped.exe" | tr -d ' ')
printf '\001' | dd of="$work/stamped.exe" bs=1 seek=$((pe + 8)) conv=notrunc 2>/dev/null
cp "$reference" "$work/placed.exe"
printf '%s' "$work/first/build" >>"$work/placed.exe"
cp "$reference" "$work/clean.exe"
python3 "$check" "$work/clean.exe" "$work/first/build" || { echo "FAILED: the check refuses the build" >&2; exit 1; }
for bad in stamped placed; do
  if python3 "$check" "$work/$bad.exe" "$work/first/build" 2>/dev/null || [ -e "$work/$bad.exe" ]; then
    echo "FAILED: the post-link check let $bad.exe through" >&2
    exit 1
  fi
done
rm -rf "$work"
echo "2 passed, 0 failed"
