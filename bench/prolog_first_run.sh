#!/usr/bin/env bash
# First runs of the launcher with the Prolog bundle against the same work
# done by standard tools, alternating, medians of RUNS each; the launcher's
# fixed one-second pause before its clean-up is taken off its wall time.
#   install: unzip -q of the bundle and of the dictionary, cp of the marker
#            and the data (the launcher's install alone)
#   whole:   install, the application, cp of trad_dyn.pl back, zip of the
#            dictionary back, rm -rf of the work folder (a whole run)
#   bench/prolog_first_run.sh LAUNCHER BUNDLE [FOLDER (default /dev/shm)] [RUNS (default 7)]
# For example: bench/prolog_first_run.sh build/quintabel-launcher-prolog build/bundle/prolog_bundle.zip
set -euo pipefail
launcher=$(realpath "$1")
bundle=$(realpath "$2")
root=$(mktemp -d "${3:-/dev/shm}/qb-prolog-bench.XXXXXX")
runs=${4:-7}
trap 'rm -rf "$root"' EXIT
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/user" "$root/temp" "$root/tools"
cp "$source_dir/bundle/sample/trad_dyn.csv" "$root/user/"
python3 "$source_dir/bundle/make_bundle.py" dictionary "$root/user/dereroz.zip" "$source_dir/bundle/sample/dereroz"
cp "$root/user/dereroz.zip" "$root/original.zip"

work=$root/tools/quintabel5
install() {
  mkdir -p "$work" && unzip -q -o "$bundle" -d "$work" && cp "$work/swipl.home" "$root/tools/" \
    && cp "$root/user/dereroz.zip" "$work/" && unzip -q -o "$work/dereroz.zip" -d "$work/dereroz" \
    && cp "$root/user/trad_dyn.csv" "$work/"
}
whole() {
  install && (cd "$root/user" && "$work/quintabel.exe" "soleil;sun" >/dev/null) && cp "$work/trad_dyn.pl" "$root/user/" \
    && (cd "$work/dereroz" && rm -f "$root/user/dereroz.zip" && zip -q -r "$root/user/dereroz.zip" .) \
    && rm -f "$root/tools/swipl.home" && rm -rf "$work"
}
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); awk -v a="$end" -v b="$start" 'BEGIN { printf "%.4f\n", a - b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$root/launcher.txt"; : > "$root/install.txt"; : > "$root/whole.txt"
for _ in $(seq "$runs"); do
  seconds install >> "$root/install.txt"
  rm -rf "$work" "$root/tools/swipl.home"
  cp "$root/original.zip" "$root/user/dereroz.zip"
  seconds whole >> "$root/whole.txt"
  cp "$root/original.zip" "$root/user/dereroz.zip"
  t=$(cd "$root/user" && seconds env TEMP="$root/temp" TMP="$root/temp" "$launcher" "soleil;sun")
  awk -v t="$t" 'BEGIN { printf "%.4f\n", t - 1 }' >> "$root/launcher.txt"
  cp "$root/original.zip" "$root/user/dereroz.zip"
done
echo "bundle: $(stat -c %s "$bundle") bytes, $(unzip -Z1 "$bundle" | wc -l) entries; ${3:-/dev/shm}, $runs runs each"
echo "launcher first run (wall - 1 s pause): median $(median < "$root/launcher.txt") s"
echo "tools, install alone:                  median $(median < "$root/install.txt") s"
echo "tools, whole run:                      median $(median < "$root/whole.txt") s"
