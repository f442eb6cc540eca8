#!/bin/sh
# Installs what building and testing the launcher needs, from Debian's
# packages, when anything is missing. Run as root (or with sudo).
set -eu

# Both toolchains: mingw-w64 GCC, and clang-19 with lld-19 and the LLVM tools
# (llvm-windres-19, llvm-objcopy-19, llvm-ar-19, llvm-readobj-19), which use
# the same mingw-w64 headers, import libraries and libstdc++.
packages="cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 clang-19 lld-19 llvm-19 wine wine64 googletest osslsigncode python3 openssl"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
fi
