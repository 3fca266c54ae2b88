#!/bin/sh
# Configures a throwaway build folder with QUINTABEL_BUNDLE naming a valid
# bundle (which must pass) and then files that are no bundle (each of which
# must stop the configure step with a message saying what is wrong).
#   packaging_configure_test.sh CMAKE SOURCE_DIR PYTHON
set -u
cmake=$1
source_dir=$2
python=$3
fail() { echo "FAIL: $*"; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qb_packaging.XXXXXX") || fail "no scratch folder"
trap 'rm -rf "$scratch"' EXIT

printf 'plain text, not a zip archive\n' > "$scratch/not-a-zip.zip"
"$python" - "$scratch" <<'PY' || fail "cannot make the test archives"
import os, sys, zipfile
folder = sys.argv[1]
def make(name, entries, prefix=b""):
    path = os.path.join(folder, name)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for entry in entries:
            z.writestr(entry, "content of " + entry)
    if prefix:
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(prefix + data)
make("valid.zip", ["quintabel.exe", "swipl.home", "dereroz.zip", "lib/x.pl"])
make("no-swipl-home.zip", ["quintabel.exe", "dereroz.zip", "lib/swipl.home"])
make("prefixed.zip", ["quintabel.exe", "swipl.home", "dereroz.zip"], prefix=b"MZ stub ")
with zipfile.ZipFile(os.path.join(folder, "bzip2.zip"), "w", zipfile.ZIP_BZIP2) as z:
    for entry in ["quintabel.exe", "swipl.home", "dereroz.zip"]:
        z.writestr(entry, "content")
PY

configure() {  # bundle-path
  "$cmake" -S "$source_dir" -B "$scratch/build" -G Ninja -DQB_TESTS=OFF \
    "-DQUINTABEL_BUNDLE=$1" > "$scratch/raw.txt" 2>&1
  status=$?
  # CMake wraps long messages; compare with every run of blanks made one space.
  tr -s ' \n\t' '   ' < "$scratch/raw.txt" > "$scratch/output.txt"
  return $status
}

configure "$scratch/valid.zip" || { cat "$scratch/raw.txt"; fail "a valid bundle was refused"; }
echo "ok: valid bundle accepted"

# The accepted archive is replaced by one that is no bundle: the next build
# configures again and stops there.
cp "$scratch/valid.zip" "$scratch/changing.zip"
configure "$scratch/changing.zip" || { cat "$scratch/raw.txt"; fail "a valid bundle was refused"; }
cp "$scratch/no-swipl-home.zip" "$scratch/changing.zip"
if "$cmake" --build "$scratch/build" --target build.ninja > "$scratch/raw.txt" 2>&1; then
  cat "$scratch/raw.txt"; fail "a bundle changed after configuring was not checked again"
fi
grep -qF "swipl.home" "$scratch/raw.txt" || { cat "$scratch/raw.txt"; fail "no message for the changed bundle"; }
echo "ok: a bundle changed after configuring is checked again"

expect_refusal() {  # bundle-path text...
  bundle=$1
  shift
  if configure "$bundle"; then fail "configure accepted $bundle"; fi
  for text in "$@"; do
    grep -qF -- "$text" "$scratch/output.txt" || {
      cat "$scratch/raw.txt"; fail "message for $bundle lacks: $text"; }
  done
  echo "ok: refused $bundle"
}

expect_refusal "$scratch/not-a-zip.zip" "Invalid quintabel bundle \"$scratch/not-a-zip.zip\"" "50 4B 03 04"
expect_refusal "$scratch/prefixed.zip" "Invalid quintabel bundle" "50 4B 03 04"
expect_refusal "$scratch/no-swipl-home.zip" "Invalid quintabel bundle \"$scratch/no-swipl-home.zip\"" \
  "lacks the root entry \"swipl.home\""
expect_refusal "$scratch/bzip2.zip" "compressed with method 12"
expect_refusal "$scratch/absent.zip" "Invalid quintabel bundle" "cannot be read"
echo "PASS"
