#!/usr/bin/env bash
# Installs the dependencies, builds the POSIX target (plain and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and the Windows target,
# checks the house style, and runs every test suite: native, native under the
# sanitizers, and Windows under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
status=0
run_suite() {  # name build-dir ctest-args...
  local name=$1 dir=$2
  shift 2
  echo "=== ${name}: ctest in ${dir}"
  if ! (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@"); then status=1; fi
}

cmake -S . -B build -G Ninja -DQB_BENCHMARKS=ON
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja -DQB_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build build-asan -j "$jobs"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-win -j "$jobs"

# The house style: names and layout over the sources of both targets.
echo "=== lint"
if ! bash scripts/lint.sh; then status=1; fi

run_suite "POSIX" build
run_suite "POSIX with sanitizers" build-asan
# Wine 8 now and then fails to start a child process (CreateProcess error
# 1359: the child died inside Wine's own start-up). It was seen twice in many
# full runs and never in hundreds of repeats of the same suite, nor natively.
# A Windows suite that fails is run once more; the first failure stays in the
# log above the rerun.
run_suite "Windows under Wine" build-win --repeat until-pass:2
# The archive reader under libFuzzer for a minute.
echo "=== zip reader fuzzing (60 s)"
if ! bash fuzz/run.sh 60; then status=1; fi
exit $status
