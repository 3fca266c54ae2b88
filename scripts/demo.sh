#!/usr/bin/env bash
# Shows a whole run of the launcher on sample data: installs the
# dependencies, builds the native launcher with its default bundle (the demo
# application), makes a scratch user folder with a "trad_dyn.csv" and a
# "dereroz.zip", and runs the launcher there with one argument, showing the
# user's files before and after.
#   scripts/demo.sh            the launcher with the demo application
#   scripts/demo.sh --prolog   the launcher with the Prolog application on
#                              the runtime of Debian's swi-prolog-nox
#                              (bundle/prolog/), given the pair "soleil;sun"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
target=quintabel-launcher
argument=bonjour
if [ "${1:-}" = "--prolog" ]; then
  target=quintabel-launcher-prolog
  argument="soleil;sun"
fi

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build --target "$target"
launcher=$root/build/$target

user=$(mktemp -d "${TMPDIR:-/tmp}/quintabel-demo-user.XXXXXX")
cp bundle/sample/trad_dyn.csv "$user/"
python3 bundle/make_bundle.py dictionary "$user/dereroz.zip" bundle/sample/dereroz

list_zip() {  # archive: every entry with its size
  python3 - "$1" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        print("    %-24s %6d bytes" % (i.filename, i.file_size))
PY
}
show_zip_file() {  # archive entry
  python3 - "$1" "$2" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    sys.stdout.write(z.read(sys.argv[2]).decode("utf-8"))
PY
}
show_files() {
  echo "  files in $user:"
  (cd "$user" && for f in *; do printf '    %-24s %6d bytes\n' "$f" "$(wc -c < "$f")"; done)
}

echo
echo "=== Before the run"
show_files
echo "  trad_dyn.csv:"
sed 's/^/    /' "$user/trad_dyn.csv"
echo "  dereroz.zip:"
list_zip "$user/dereroz.zip"

echo
echo "=== Running: (cd $user && $launcher \"$argument\")"
set +e
(cd "$user" && "$launcher" "$argument")
code=$?
set -e
echo "  exit code: $code"

echo
echo "=== After the run"
show_files
if [ -f "$user/trad_dyn.pl" ]; then
  echo "  trad_dyn.pl:"
  sed 's/^/    /' "$user/trad_dyn.pl"
fi
echo "  dereroz.zip:"
list_zip "$user/dereroz.zip"
if python3 -c 'import sys, zipfile; sys.exit("appris.txt" not in zipfile.ZipFile(sys.argv[1]).namelist())' "$user/dereroz.zip"; then
  echo "  appris.txt in dereroz.zip (the pairs the dictionary learnt):"
  show_zip_file "$user/dereroz.zip" appris.txt | sed 's/^/    /'
fi
temp=${TEMP:-${TMP:-${TMPDIR:-/tmp}}}
if [ -e "$temp/quintabel5" ]; then
  echo "  the work folder $temp/quintabel5 is still there"
else
  echo "  the work folder $temp/quintabel5 is gone"
fi
echo
echo "The user folder stays for a look: $user"
exit "$code"
