#!/bin/bash
# Usage: fuzz/run.sh SECONDS
# Builds the two archive fuzzers and runs each for SECONDS: the reader on
# fuzz/corpus (new inputs go to a scratch copy, so the seed corpus in the
# tree stays as it is), the writer on an empty corpus; then prints the number
# of inputs executed. Fails when libFuzzer finds a crash, a leak, a timeout
# or an out-of-memory input.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/qb_zip_fuzz_run.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
for target in zip_reader_fuzzer zip_writer_fuzzer; do
  bin=$work/$target
  bash "$here/build.sh" "$target" "$bin" || exit 1
  mkdir -p "$work/corpus_$target"
  if [ "$target" = zip_reader_fuzzer ]; then cp "$here"/corpus/* "$work/corpus_$target/" 2>/dev/null || true; fi
  (cd "$work" && "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$here/" "$work/corpus_$target" > "$work/log_$target" 2>&1)
  rc=$?
  grep -E "^#[0-9]+.*(DONE|INITED)|stat::number_of_executed_units|ERROR|SUMMARY|written outside|differs|failed" \
    "$work/log_$target" | tail -15
  runs=$(grep -E "stat::number_of_executed_units" "$work/log_$target" | awk '{print $2}')
  echo "$target: executions: ${runs:-unknown} in ${seconds} s (exit code $rc)"
  if [ $rc -ne 0 ]; then
    tail -60 "$work/log_$target"
    status=1
  fi
done
exit $status
