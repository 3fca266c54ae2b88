#!/bin/sh
# Builds the bundle check of a throwaway build folder with QUINTABEL_BUNDLE
# naming a valid bundle (which must pass) and then files that are no bundle
# a launcher could install (each of which must stop the build with a message
# saying what is wrong). The check is quintabel-pack --check, given as
# QB_PACK_HOST so that nothing else needs building.
#   packaging_configure_test.sh CMAKE SOURCE_DIR PYTHON QUINTABEL-PACK
set -u
cmake=$1
source_dir=$2
python=$3
pack=$4
. "$(dirname "$0")/shell_test_support.sh"
make_scratch packaging

printf 'plain text, not a zip archive\n' > "$scratch/not-a-zip.zip"
"$python" - "$scratch" <<'PY' || fail "cannot make the test archives"
import io, os, sys, zipfile
folder = sys.argv[1]
def dictionary():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("base.txt", "bonjour;hello\n")
    return out.getvalue()
def make(name, entries, prefix=b"", comment=b"", method=zipfile.ZIP_DEFLATED, system=3, marker="quintabel5\n",
         link=None):
    path = os.path.join(folder, name)
    with zipfile.ZipFile(path, "w", method) as z:
        for entry in entries:
            info = zipfile.ZipInfo(entry)
            info.create_system, info.compress_type = system, method
            info.external_attr = (0o100755 if entry == "quintabel.exe" else 0o100644) << 16
            z.writestr(info, dictionary() if entry == "dereroz.zip" else
                       marker if entry == "swipl.home" else "content of " + entry)
        if link:
            info = zipfile.ZipInfo(link)
            info.create_system, info.external_attr = 3, 0o120777 << 16
            z.writestr(info, "libx.so.1")
        z.comment = comment
    if prefix:
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(prefix + data)
base = ["quintabel.exe", "swipl.home", "dereroz.zip"]
make("valid.zip", base + ["lib/x.pl"])
make("no-swipl-home.zip", ["quintabel.exe", "dereroz.zip", "lib/swipl.home"])
make("prefixed.zip", base, prefix=b"MZ stub ")
make("commented.zip", base, comment=b"made by a tool")
make("outside.zip", base + ["lib/../../x.pl"])
make("bzip2.zip", base, method=zipfile.ZIP_BZIP2)
make("link.zip", base + ["lib/libx.so.1"], link="lib/libx.so")
make("no-modes.zip", base, system=0)
make("wrong-marker.zip", base, marker=".\n")
PY

build() {  # bundle-path: configures and builds the launcher's bundle check
  { "$cmake" -S "$source_dir" -B "$scratch/build" -G Ninja -DQB_TESTS=OFF "-DQB_PACK_HOST=$pack" \
      "-DQUINTABEL_BUNDLE=$1" && "$cmake" --build "$scratch/build" --target quintabel-launcher-bundle-check; } \
    > "$scratch/raw.txt" 2>&1
  status=$?
  tr -s ' \n\t' '   ' < "$scratch/raw.txt" > "$scratch/output.txt"
  return $status
}

build "$scratch/valid.zip" || { cat "$scratch/raw.txt"; fail "a valid bundle was refused"; }
echo "ok: valid bundle accepted"

# The accepted archive is replaced by one that is no bundle: the next build
# checks it again and stops there.
cp "$scratch/valid.zip" "$scratch/changing.zip"
build "$scratch/changing.zip" || { cat "$scratch/raw.txt"; fail "a valid bundle was refused"; }
cp "$scratch/no-swipl-home.zip" "$scratch/changing.zip"
touch "$scratch/changing.zip"
if "$cmake" --build "$scratch/build" --target quintabel-launcher-bundle-check > "$scratch/raw.txt" 2>&1; then
  cat "$scratch/raw.txt"; fail "a bundle changed after configuring was not checked again"
fi
grep -qF "swipl.home" "$scratch/raw.txt" || { cat "$scratch/raw.txt"; fail "no message for the changed bundle"; }
echo "ok: a bundle changed after configuring is checked again"

expect_refusal() {  # bundle-path text...
  bundle=$1
  shift
  if build "$bundle"; then fail "the build accepted $bundle"; fi
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
expect_refusal "$scratch/commented.zip" "cannot be extracted by the launcher" "Corrupt ZIP file"
expect_refusal "$scratch/outside.zip" "leads outside the output folder"
expect_refusal "$scratch/bzip2.zip" "Unsupported compression format 12"
expect_refusal "$scratch/absent.zip" "Invalid quintabel bundle" "cannot be read"
expect_refusal "$scratch/link.zip" "stores \"lib/libx.so\" as a symbolic link" "store the file itself"
expect_refusal "$scratch/no-modes.zip" "\"quintabel.exe\" with no Unix mode" "made without Unix modes"
build "$scratch/wrong-marker.zip" || { cat "$scratch/raw.txt"; fail "a bundle with a wrong marker was refused"; }
grep -qF "Warning: quintabel bundle \"$scratch/wrong-marker.zip\": it has a runtime marker \"swipl.home\" whose \
first line makes the runtime take the temporary folder itself as its home" "$scratch/output.txt" \
  || { cat "$scratch/raw.txt"; fail "no warning for a marker that misses the work folder"; }
echo "ok: warned of a marker that misses the work folder"
echo "PASS"
