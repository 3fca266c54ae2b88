#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need on a
# Debian 12 machine (run as root, or with sudo available).
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
packages=(
  cmake ninja-build g++ zlib1g-dev libgtest-dev googletest
  mingw-w64 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64-x86-64
  wine wine64
  zip unzip python3 libarchive-tools p7zip-full
  python3-pefile osslsigncode openssl
  procps util-linux passwd
  clang libclang-rt-14-dev clang-tidy clang-format
  swi-prolog-nox patchelf
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
