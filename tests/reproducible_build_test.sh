#!/bin/sh
# Three builds of the launcher from the same sources, copied to different
# directories and built side by side, must give the same bytes, and
# the same bytes as this build's own executable; so must its PDB, where the
# toolchain writes one, and the PDB must be the one the executable names.
# A version given at configure time reaches every field of the version
# block, and one that Windows cannot hold stops the configure.
#   reproducible_build_test.sh SOURCE_DIR WORK_DIR REFERENCE_EXE BUILD_TYPE TOOLCHAIN_FILE_NAME
#     VERSION RESOURCE_READER [LLVM_READOBJ LLVM_PDBUTIL]
# VERSION is the reference build's; RESOURCE_READER a windres that can write
# an executable's resources out as a script. The two LLVM tools are given
# when the toolchain writes a PDB (NAME.pdb beside NAME.exe).
set -eu
source_dir=$1
work=$2
reference=$3
build_type=$4
toolchain=$5
version=$6
resource_reader=$7
readobj=${8:-}
pdbutil=${9:-}
reference_pdb="${reference%.exe}.pdb"

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

# configure SOURCE VERSION: (re)configures the build folder beside SOURCE.
configure() {
  # No SOURCE_DATE_EPOCH: the build must not need one.
  env -u SOURCE_DATE_EPOCH cmake -S "$1" -B "$1/../build" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" -DLINDQUAY_BUILD_TESTS=OFF -DLINDQUAY_VERSION="$2"
}

build() {
  env -u SOURCE_DATE_EPOCH cmake --build "$1/../build" --target lindquay-updater --parallel 2 >/dev/null
}

failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

builds="first/src second-build-with-a-longer-path/nested/src t/s"
started=""
for build in $builds; do
  (copy_sources "$work/$build" && configure "$work/$build" "$version" >/dev/null && build "$work/$build") &
  started="$started $!"
  # The next a second later, so that any time stamp would differ.
  sleep 1
done
for build in $started; do
  wait "$build" || { echo "FAILED: a build of the copied sources" >&2; exit 1; }
done

# compare NAME REFERENCE: the file NAME of every build against REFERENCE.
compare() {
  own=$(sha256sum <"$2" | cut -d' ' -f1)
  echo "$1, this build: $own"
  for build in $builds; do
    file="$work/$build/../build/bin/$1"
    hash=$(sha256sum <"$file" | cut -d' ' -f1)
    echo "$1, $build: $hash"
    if [ "$hash" != "$own" ]; then
      fail "the builds' $1 differ"
      cmp -l "$2" "$file" | head -20 >&2 || true
    fi
  done
}
compare lindquay-updater.exe "$reference"
if [ -n "$pdbutil" ]; then
  compare lindquay-updater.pdb "$reference_pdb"
  # The PDB a debugger loads for this executable: the GUID and age of the
  # executable's CodeView entry are the PDB's own.
  "$readobj" --coff-debug-directory "$reference" >"$work/entry.txt"
  "$pdbutil" dump --summary "$reference_pdb" >"$work/pdb.txt"
  entry="$(sed -n 's/^ *PDBGUID: *//p' "$work/entry.txt") age $(sed -n 's/^ *PDBAge: *//p' "$work/entry.txt")"
  symbols="$(sed -n 's/^ *GUID: *//p' "$work/pdb.txt") age $(sed -n 's/^ *Age: *//p' "$work/pdb.txt")"
  echo "CodeView entry: $entry; PDB: $symbols"
  case "$entry" in
    "{"*"} age "[0-9]*) [ "$entry" = "$symbols" ] || fail "the PDB's GUID and age are not the executable's entry's" ;;
    *) fail "no GUID and age in the executable's CodeView entry" ;;
  esac
elif [ -e "$reference_pdb" ]; then
  fail "a PDB where this toolchain writes none: $reference_pdb"
fi

# The post-link check that every build runs refuses, and removes, a file with
# a time stamp in its header, one that names the build folder, and one whose
# CodeView entry names its PDB with a folder. Each keeps the executable's
# name: the PDB it may name is NAME.pdb.
check="$source_dir/cmake/check_pe_stamps.py"
for case in clean stamped placed foldered; do
  mkdir -p "$work/$case"
  cp "$reference" "$work/$case/lindquay-updater.exe"
done
pe=$(od -An -tu4 -j60 -N4 "$reference" | tr -d ' ')
printf '\001' | dd of="$work/stamped/lindquay-updater.exe" bs=1 seek=$((pe + 8)) conv=notrunc 2>/dev/null
printf '%s' "$work/first/build" >>"$work/placed/lindquay-updater.exe"
bad="stamped placed"
if [ -n "$pdbutil" ]; then
  # The same length: D:\dquay-updater.pdb.
  python3 - "$work/foldered/lindquay-updater.exe" <<'EOF'
import sys
path = sys.argv[1]
data = open(path, "rb").read()
name = b"lindquay-updater.pdb\0"
assert data.count(name) == 1, "the CodeView entry's name"
open(path, "wb").write(data.replace(name, b"D:\\" + name[3:]))
EOF
  bad="$bad foldered"
fi
python3 "$check" "$work/clean/lindquay-updater.exe" "$work/first/build" || fail "the check refuses the build"
for case in $bad; do
  if python3 "$check" "$work/$case/lindquay-updater.exe" "$work/first/build" 2>/dev/null ||
    [ -e "$work/$case/lindquay-updater.exe" ]; then
    fail "the post-link check let the $case executable through"
  fi
done

# The version: one Windows cannot hold stops the configure and says why; a
# valid one, given to a configured folder, is in every field after the
# rebuild, as the resource compiler reads the executable back.
first="$work/first/src"
if configure "$first" 1.2.3.65536 >"$work/configure.txt" 2>&1 ||
  ! tr -s ' \n' '  ' <"$work/configure.txt" | grep -q "four numbers from 0 to 65535"; then
  fail "the version 1.2.3.65536 was not refused"
  cat "$work/configure.txt" >&2
fi
configure "$first" 5.3.0.12 >/dev/null
build "$first"
"$resource_reader" -i "$work/first/build/bin/lindquay-updater.exe" -O rc >"$work/resources.rc"
for field in 'FILEVERSION 5, 3, 0, 12' 'PRODUCTVERSION 5, 3, 0, 12' \
  'VALUE "FileVersion", "5.3.0.12"' 'VALUE "ProductVersion", "5.3.0.12"'; do
  grep -qF "$field" "$work/resources.rc" || fail "no $field in the version block built with 5.3.0.12"
done

if [ "$failed" -ne 0 ]; then
  exit 1
fi
rm -rf "$work"
echo "passed"
