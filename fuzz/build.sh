#!/bin/bash
# Usage: fuzz/build.sh TARGET [OUTPUT]
# Builds the libFuzzer target fuzz/TARGET.cpp (zip_reader_fuzzer or
# zip_writer_fuzzer) from the sources of fs/ and zip/ and what they need of
# runtime/; no CMake involved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
target=${1:?usage: build.sh TARGET [OUTPUT]}
out=${2:-$here/$target}
cd "$root"
# Every POSIX source of fs/ and zip/ (what the archive code needs changes as
# they grow), and the two runtime/ sources those layers use.
sources=("fuzz/$target.cpp" runtime/exceptions.cpp runtime/stack_capture_posix.cpp)
for file in fs/*.cpp zip/*.cpp; do
  case $file in *_win32.cpp) ;; *) sources+=("$file") ;; esac
done
clang++ -std=c++17 -O1 -g -fno-omit-frame-pointer -pthread \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "${sources[@]}" -lz -o "$out"
echo "built $out"
