#!/usr/bin/env bash
# Installs the dependencies, builds the POSIX target (plain, with
# AddressSanitizer + UndefinedBehaviorSanitizer, and the archive, file and
# launcher suites with ThreadSanitizer) and the Windows target, checks the
# house style, and runs every test suite: native, native under the
# sanitizers, and Windows under Wine; then fuzzes the archive reader and
# writer.
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
# The layers that run work on several threads, and the launcher that uses
# them, under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DQB_SANITIZE_THREADS=ON
tsan_labels="zip|fs|launcher"
cmake --build build-tsan -j "$jobs" --target \
  zip_reader_test zip_writer_test zip_roundtrip_test zip_read_buffer_test zip_compressor_test zip_format_test \
  stream_test file_stream_test file_copy_test file_services_test folder_tree_test file_transfer_test path_text_test \
  work_folder_test launcher_e2e_test launcher_fault_test launcher_temp_folder_test
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-win -j "$jobs"

# The house style: names and layout over the sources of both targets.
echo "=== lint"
if ! bash scripts/lint.sh; then status=1; fi

run_suite "POSIX" build
run_suite "POSIX with sanitizers" build-asan
# Left to the other builds: the folder-tree races, between a forked child
# and the deletion (no thread of ours), which write some 80,000 files; and
# the requests to stop, since ThreadSanitizer holds a signal back until the
# launcher's wait for the application returns.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_suite "POSIX archive, file and launcher suites with ThreadSanitizer" build-tsan -L "$tsan_labels" \
  -E "^FolderTree\.|^LauncherFault\.RequestsToStopArePassedToTheApplication$"
# Wine 8 now and then fails to start a child process (CreateProcess error
# 1359: the child died inside Wine's own start-up). It was seen twice in many
# full runs and never in hundreds of repeats of the same suite, nor natively.
# A Windows suite that fails is run once more; the first failure stays in the
# log above the rerun.
run_suite "Windows under Wine" build-win --repeat until-pass:2
# The archive reader and writer under libFuzzer, 40 s each.
echo "=== zip reader and writer fuzzing (2 x 40 s)"
if ! bash fuzz/run.sh 40; then status=1; fi
exit $status
