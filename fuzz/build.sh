#!/bin/bash
# Builds the archive reader's libFuzzer target (fuzz/zip_reader_fuzzer) from
# the sources of runtime/, fs/ and zip/ it needs; no CMake involved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:-$here/zip_reader_fuzzer}
cd "$root"
clang++ -std=c++17 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" \
  fuzz/zip_reader_fuzzer.cpp \
  runtime/exceptions.cpp runtime/stack_capture_posix.cpp \
  fs/stream.cpp fs/memory_stream.cpp fs/path_text.cpp \
  fs/reserved_names.cpp fs/reserved_names_posix.cpp \
  fs/file_services.cpp fs/file_services_posix.cpp \
  fs/file_stream.cpp fs/file_stream_posix.cpp \
  zip/zip_format.cpp zip/name_decoding.cpp zip/decompressor.cpp zip/zip_reader.cpp \
  zip/read_buffer.cpp \
  -lz -o "$out"
echo "built $out"
