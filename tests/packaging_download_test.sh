#!/bin/sh
# The download: cpack -G ZIP in the Windows build folder writes
# quintabel-launcher-<version>-win64.zip with the launcher, quintabel-pack.exe,
# the README and the licence texts of what the executables link in.
#   packaging_download_test.sh CPACK BUILD_DIR VERSION LAUNCHER.exe PACK.exe PYTHON
set -u
cpack=$1
build_dir=$2
version=$3
launcher=$4
pack=$5
python=$6
. "$(dirname "$0")/shell_test_support.sh"
make_scratch download
(cd "$build_dir" && "$cpack" -G ZIP -B "$scratch" > "$scratch/cpack.txt" 2>&1) \
  || { cat "$scratch/cpack.txt"; fail "cpack failed"; }
zip="$scratch/quintabel-launcher-$version-win64.zip"
[ -f "$zip" ] || { ls "$scratch"; fail "no $zip"; }
"$python" - "$zip" "quintabel-launcher-$version-win64" "$launcher" "$pack" <<'PY' || fail "the download is not complete"
import sys, zipfile
archive, top, launcher, pack = sys.argv[1:5]
z = zipfile.ZipFile(archive)
names = set(n for n in z.namelist() if not n.endswith("/"))
expected = {top + "/" + n for n in ("quintabel-launcher.exe", "quintabel-pack.exe", "README.md",
                                     "licences/zlib.txt", "licences/gcc-runtime.txt",
                                     "licences/mingw-w64-runtime.txt")}
bad = []
if names != expected:
    bad.append("entries %s, expected %s" % (sorted(names), sorted(expected)))
for name, built in (("quintabel-launcher.exe", launcher), ("quintabel-pack.exe", pack)):
    if z.read(top + "/" + name) != open(built, "rb").read():
        bad.append(name + " is not the built one")
for name, word in (("zlib", b"Jean-loup Gailly"), ("gcc-runtime", b"GCC RUNTIME LIBRARY EXCEPTION"),
                   ("mingw-w64-runtime", b"mingw-w64")):
    if word not in z.read(top + "/licences/" + name + ".txt"):
        bad.append("the %s licence lacks %r" % (name, word))
readme = z.read(top + "/README.md").decode("utf-8")
if "quintabel-pack --launcher" not in readme and "quintabel-pack.exe --launcher" not in readme:
    bad.append("the README does not show quintabel-pack")
for b in bad:
    print("FAIL: " + b)
sys.exit(1 if bad else 0)
PY
echo "PASS: $(basename "$zip")"
