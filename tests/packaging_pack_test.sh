#!/bin/sh
# quintabel-pack from the outside: it checks bundles, refuses what it cannot
# use without writing anything, and writes a launcher that carries the new
# bundle, icon and version information (read back with pefile).
#   packaging_pack_test.sh PYTHON SOURCE_DIR LAUNCHER.exe BUNDLE.zip PACK...
# PACK is the tool's command: the native one, or the Windows one under Wine.
set -u
python=$1
source_dir=$2
launcher=$3
bundle=$4
shift 4
. "$(dirname "$0")/shell_test_support.sh"
make_scratch pack


"$@" --check "$bundle" > "$scratch/out.txt" 2>&1 || { cat "$scratch/out.txt"; fail "--check refused a valid bundle"; }
echo "ok: --check accepts the bundle"

printf 'plain text, not a zip archive\n' > "$scratch/not-a-zip.zip"
"$@" --check "$scratch/not-a-zip.zip" > "$scratch/out.txt" 2>&1
[ $? -eq 1 ] || fail "--check did not exit 1 for a file that is no zip"
grep -qF "Invalid quintabel bundle" "$scratch/out.txt" && grep -qF "50 4B 03 04" "$scratch/out.txt" \
  || { cat "$scratch/out.txt"; fail "--check gave no clear message"; }
echo "ok: --check refuses a file that is no zip archive"

"$@" --launcher "$launcher" --bundle "$scratch/not-a-zip.zip" --output "$scratch/refused.exe" > "$scratch/out.txt" 2>&1
[ $? -eq 1 ] || fail "a bad bundle was packed"
grep -qF "50 4B 03 04" "$scratch/out.txt" || { cat "$scratch/out.txt"; fail "no message for a bad bundle"; }
[ ! -e "$scratch/refused.exe" ] || fail "an output was written for a bad bundle"
echo "ok: a bad bundle is never packed"

"$@" --launcher "$bundle" --bundle "$bundle" --output "$scratch/refused.exe" > "$scratch/out.txt" 2>&1
[ $? -eq 1 ] || fail "a file that is no launcher was accepted"
grep -qF "is not a launcher quintabel-pack can use: it is not a Windows executable" "$scratch/out.txt" \
  || { cat "$scratch/out.txt"; fail "no message for a file that is no launcher"; }
[ ! -e "$scratch/refused.exe" ] || fail "an output was written for a file that is no launcher"
echo "ok: a file that is no launcher is refused"

"$python" "$source_dir/launcher/make_icon.py" "$scratch/red.ico" C03030 || fail "cannot draw an icon"
"$@" --launcher "$launcher" --bundle "$bundle" --output "$scratch/MyApp.exe" --icon "$scratch/red.ico" \
  --product "Mon Appli été" --version 2.3.4.5 --company "ACME" --copyright "(C) ACME 2026" \
  --description "My application" --file-name MyApp.exe > "$scratch/out.txt" 2>&1 \
  || { cat "$scratch/out.txt"; fail "quintabel-pack failed"; }
echo "ok: packed"

"$python" - "$launcher" "$scratch/MyApp.exe" "$bundle" "$scratch/red.ico" <<'PY' || fail "the packed launcher is not as asked"
import struct, sys
import pefile
launcher, packed, bundle, icon = sys.argv[1:5]
bad = []
def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok: bad.append(what)
old, new = pefile.PE(launcher), pefile.PE(packed)
check(new.verify_checksum(), "checksum")
names = [s.Name.rstrip(b"\0") for s in new.sections]
check(names == [s.Name.rstrip(b"\0") for s in old.sections], "same sections in the same order")
for a, b in zip(old.sections, new.sections):
    if a.Name.startswith(b".rsrc"): break
    check(a.VirtualAddress == b.VirtualAddress and a.get_data() == b.get_data(),
          "%s unchanged" % a.Name.rstrip(b"\0").decode())
q = [s for s in new.sections if s.Name.rstrip(b"\0") == b".qbundle"][0]
data = q.get_data()
length = struct.unpack_from("<Q", data, 16)[0]
check(data[:16] == b"QUINTABEL BUNDLE" and data[32:32 + length] == open(bundle, "rb").read(),
      "the bundle section holds the bundle")
last = max(new.sections, key=lambda s: s.VirtualAddress)
check(new.OPTIONAL_HEADER.SizeOfImage >= last.VirtualAddress + last.Misc_VirtualSize, "image size")
strings = {}
for info in new.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
for key, value in (("ProductName", "Mon Appli été"), ("FileVersion", "2.3.4.5"), ("CompanyName", "ACME"),
                   ("LegalCopyright", "(C) ACME 2026"), ("FileDescription", "My application"),
                   ("OriginalFilename", "MyApp.exe"), ("InternalName", "MyApp")):
    check(strings.get(key) == value, "%s = %r (found %r)" % (key, value, strings.get(key)))
f = new.VS_FIXEDFILEINFO[0]
check((f.FileVersionMS, f.FileVersionLS, f.ProductVersionMS) == (0x20003, 0x40005, 0x20003), "fixed version")
res = {}
for t in new.DIRECTORY_ENTRY_RESOURCE.entries:
    for n in t.directory.entries:
        for l in n.directory.entries:
            res.setdefault(t.id, {})[n.id] = new.get_data(l.data.struct.OffsetToData, l.data.struct.Size)
ico = open(icon, "rb").read()
count = struct.unpack_from("<H", ico, 4)[0]
images = []
for i in range(count):
    size, offset = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
    images.append(ico[offset:offset + size])
group = list(res.get(14, {}).values())
check(len(group) == 1 and struct.unpack_from("<H", group[0], 4)[0] == count, "one icon group of %d images" % count)
if group:
    ids = [struct.unpack_from("<H", group[0], 6 + 14 * i + 12)[0] for i in range(count)]
    check([res[3].get(i) for i in ids] == images, "the icons are the new ones")
check(24 in res and b"asInvoker" in list(res[24].values())[0], "the manifest stays")
sys.exit(1 if bad else 0)
PY
echo "PASS"
