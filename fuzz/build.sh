#!/bin/bash
# Builds the archive reader's libFuzzer target (fuzz/zip_reader_fuzzer) from
# the sources of fs/ and zip/ and what they need of runtime/; no CMake involved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:-$here/zip_reader_fuzzer}
cd "$root"
# Every POSIX source of fs/ and zip/ (what the reader needs changes as they
# grow), and the two runtime/ sources those layers use.
sources=(fuzz/zip_reader_fuzzer.cpp runtime/exceptions.cpp runtime/stack_capture_posix.cpp)
for file in fs/*.cpp zip/*.cpp; do
  case $file in *_win32.cpp) ;; *) sources+=("$file") ;; esac
done
clang++ -std=c++17 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "${sources[@]}" -lz -o "$out"
echo "built $out"
