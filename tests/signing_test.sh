#!/bin/sh
# The signing build step, with a throwaway self-signed certificate made here:
# the signed executable verifies, a changed byte breaks the signature, and
# without its signature the file is exactly the unsigned build.
#   signing_test.sh SOURCE_DIR WORK_DIR UNSIGNED_EXE BUILD_TYPE TOOLCHAIN_FILE_NAME VERSION
set -eu
source_dir=$1
work=$2
unsigned=$3
build_type=$4
toolchain=$5
version=$6

rm -rf "$work"
mkdir -p "$work"
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
  -subj "/CN=Lindquay throwaway test signer" -addext "extendedKeyUsage=codeSigning" \
  -keyout key.pem -out certificate.pem 2>/dev/null

cmake -S "$source_dir" -B build -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/$toolchain" \
  -DCMAKE_BUILD_TYPE="$build_type" -DLINDQUAY_BUILD_TESTS=OFF -DLINDQUAY_VERSION="$version" \
  -DLINDQUAY_SIGNING_CERTIFICATE="$work/certificate.pem" -DLINDQUAY_SIGNING_KEY="$work/key.pem" >/dev/null
cmake --build build --target lindquay-updater --parallel 2 >/dev/null
signed=build/bin/lindquay-updater.exe

failures=0
check() {
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description" >&2
    failures=$((failures + 1))
  fi
}

description="the signed build verifies against the certificate"
osslsigncode verify -CAfile certificate.pem -in "$signed" >verify.txt 2>&1 || true
check grep -q "^Signature verification: ok" verify.txt
description="the signer is the throwaway certificate"
check grep -q "Subject: /CN=Lindquay throwaway test signer" verify.txt

description="removing the signature gives back the unsigned build, byte for byte"
osslsigncode remove-signature -in "$signed" -out stripped.exe >/dev/null
check cmp -s stripped.exe "$unsigned"

description="the default build is unsigned"
check sh -c '! osslsigncode verify -in "$1" >/dev/null 2>&1' sh "$unsigned"

# One byte changed inside the first section's raw data (the file's headers
# take the first 0x400 bytes) must break the signature.
description="a changed byte breaks the signature"
cp "$signed" tampered.exe
printf '\314' | dd of=tampered.exe bs=1 seek=1040 conv=notrunc 2>/dev/null
check sh -c '! osslsigncode verify -CAfile certificate.pem -in tampered.exe >/dev/null 2>&1'

if [ "$failures" -ne 0 ]; then
  exit 1
fi
cd /
rm -rf "$work"
echo "5 passed, 0 failed"
