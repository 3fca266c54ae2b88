#!/bin/sh
# Runs the Windows benchmark of the build folder BUILD (configured with
# -DQB_BENCHMARKS=ON and the mingw-w64 toolchain, built) under Wine:
#   bash bench/wine_bench.sh BUILD [RUNS]
# Its folders lie on tmpfs (/dev/shm). Under Wine nearly every file call is a
# round trip to wineserver, which waits for an idle CPU to wake when idle
# CPUs halt: /dev/cpu_dma_latency is held at 0 while it runs (root only),
# so the figures repeat.
set -eu
build=$(cd "$1" && pwd)
runs=${2:-9}
src=$(cd "$(dirname "$0")/.." && pwd)
root=/dev/shm/qb-wine-bench-$$
win() { printf 'Z:%s' "$1" | tr / '\\'; }
rm -rf "$root"
trap 'rm -rf "$root"' EXIT
if [ -w /dev/cpu_dma_latency ]; then
  exec 3>/dev/cpu_dma_latency
  printf '\000\000\000\000' >&3
else
  echo "note: /dev/cpu_dma_latency cannot be held at 0 (not root): the figures may vary" >&2
fi
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the cores shows in every figure)"
"$src/cmake/wine-run" "$build/wineprefix" "$build/bench/wine_bench.exe" \
  "$(win "$build/quintabel-launcher-winbench.exe")" "$(win "$build/bench/plain_tool.exe")" \
  "$(win "$build/bench/quintabel-stamp-app.exe")" "$(win "$build/bench/quintabel-stamp-app-imports.exe")" \
  "$(win "$build/bench/wine_bench_bundle.zip")" \
  "$(win "$build/bench/wine_bench_dereroz.zip")" "$(win "$root")" "$runs"
