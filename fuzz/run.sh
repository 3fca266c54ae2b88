#!/bin/bash
# Usage: fuzz/run.sh SECONDS
# Builds the reader fuzzer and runs it on fuzz/corpus (new inputs go to a
# scratch copy, so the seed corpus in the tree stays as it is) for SECONDS,
# then prints the number of inputs executed. Fails when libFuzzer finds a
# crash, a leak, a timeout or an out-of-memory input.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/qb_zip_fuzz_run.XXXXXX")
trap 'rm -rf "$work"' EXIT
bin=$work/zip_reader_fuzzer
bash "$here/build.sh" "$bin" || exit 1
mkdir -p "$work/corpus"
cp "$here"/corpus/* "$work/corpus/" 2>/dev/null || true
cd "$work"
"$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -print_final_stats=1 -artifact_prefix="$here/" "$work/corpus" > "$work/log" 2>&1
rc=$?
grep -E "^#[0-9]+.*(DONE|INITED)|stat::number_of_executed_units|ERROR|SUMMARY|written outside" "$work/log" | tail -15
runs=$(grep -E "stat::number_of_executed_units" "$work/log" | awk '{print $2}')
echo "executions: ${runs:-unknown} in ${seconds} s (exit code $rc)"
if [ $rc -ne 0 ]; then
  tail -60 "$work/log"
  exit 1
fi
