#!/usr/bin/python3
"""Reads a release build of the Windows launcher back from its PE file.

usage: packaging_pe_test.py LAUNCHER.exe IMPORTS.txt SOURCE_DIR BUILD_DIR
                            PRODUCT VERSION COMPANY COPYRIGHT DESCRIPTION

Checks, with pefile (Debian's python3-pefile, under /usr/bin/python3):
- the windowed subsystem, and imports that are exactly the DLL functions
  listed in IMPORTS.txt (one "dll function" a line), so that nothing the
  launcher does not call (the POSIX thread library's thread and clock
  functions) creeps in;
- the manifest: asInvoker, Windows 7 to 11, long paths, per-monitor DPI
  awareness (PerMonitorV2 with PerMonitor and true/pm to fall back on),
  common controls 6;
- the version information (fixed and string values) and an icon group whose
  icons are all present;
- a stripped image: no debug sections or symbols, a .gnu_debuglink naming
  the .debug file beside it, and no path of the build machine inside;
- no POSIX thread library among the symbols kept in the .debug file.
"""
import os
import struct
import sys
import xml.etree.ElementTree

import pefile

failures = []


def check(condition, what):
    if condition:
        print("ok: " + what)
    else:
        print("FAIL: " + what)
        failures.append(what)


def main(argv):
    exe, imports_file, source_dir, build_dir = argv[1:5]
    product, version, company, copyright_, description = argv[5:10]
    data = open(exe, "rb").read()
    pe = pefile.PE(exe)

    check(pe.OPTIONAL_HEADER.Subsystem == 2, "windowed subsystem")
    check(pe.verify_checksum(), "the PE checksum is right")

    found = set()
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode().lower()
        for imp in entry.imports:
            found.add("%s %s" % (dll, imp.name.decode() if imp.name else "#%d" % imp.ordinal))
    expected = set()
    for line in open(imports_file, encoding="utf-8"):
        line = line.strip()
        if line and not line.startswith("#"):
            dll, name = line.split()
            expected.add("%s %s" % (dll.lower(), name))
    check(found == expected, "imports are exactly those of %s" % os.path.basename(imports_file))
    for extra in sorted(found - expected):
        print("   imported but not expected: " + extra)
    for missing in sorted(expected - found):
        print("   expected but not imported: " + missing)
    for thread_function in ("SetThreadContext", "SetSystemTime", "OpenProcess", "GetThreadContext"):
        check(not any(f.endswith(" " + thread_function) for f in found), "%s is not imported" % thread_function)

    resources = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                item = rlang.data.struct
                resources.setdefault(rtype.id, []).append(
                    (rname.id, pe.get_data(item.OffsetToData, item.Size)))

    manifests = resources.get(24, [])
    check(len(manifests) == 1 and manifests[0][0] == 1, "one manifest, resource 1")
    manifest = manifests[0][1].decode("utf-8") if manifests else ""
    # Windows refuses to start a program whose manifest is not well-formed.
    try:
        root = xml.etree.ElementTree.fromstring(manifests[0][1] if manifests else b"")
        identity = root.find("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")
        check(identity is not None and len(identity.get("version", "").split(".")) == 4,
              "manifest: well-formed, with a four-part assembly version")
    except xml.etree.ElementTree.ParseError as e:
        check(False, "manifest: well-formed XML (%s)" % e)
    for text, what in (
            ('level="asInvoker"', "runs as invoker"),
            ("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "supported on Windows 7"),
            ("{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "supported on Windows 8"),
            ("{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "supported on Windows 8.1"),
            ("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "supported on Windows 10 and 11"),
            (">true</longPathAware>", "long-path aware"),
            (">PerMonitorV2, PerMonitor</dpiAwareness>", "PerMonitorV2 with PerMonitor to fall back on"),
            (">true/pm</dpiAware>", "per-monitor aware before Windows 10"),
            ('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', "common controls 6")):
        check(text in manifest, "manifest: " + what)

    groups = resources.get(14, [])
    icons = dict(resources.get(3, []))
    check(len(groups) == 1, "one icon group")
    if groups:
        group = groups[0][1]
        count = struct.unpack_from("<H", group, 4)[0]
        ids = [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]
        sizes = [struct.unpack_from("<I", group, 6 + 14 * i + 8)[0] for i in range(count)]
        check(count >= 1 and all(i in icons and len(icons[i]) == s for i, s in zip(ids, sizes)),
              "every icon of the group is there (%d)" % count)

    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key, value in (("ProductName", product), ("FileVersion", version), ("ProductVersion", version),
                       ("CompanyName", company), ("LegalCopyright", copyright_),
                       ("FileDescription", description), ("OriginalFilename", "quintabel-launcher.exe")):
        check(strings.get(key) == value, "version string %s is %r (found %r)" % (key, value, strings.get(key)))
    parts = [int(p) for p in version.split(".")] + [0, 0, 0]
    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]),
          "fixed file version %s" % version)

    names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
    long_names = [n for n in names if n.startswith("/")]
    check(not any(n.startswith(".debug") for n in names) and pe.FILE_HEADER.NumberOfSymbols == 0,
          "no debug sections and no symbols")
    check(names[-2:] == [".qbundle", long_names[0] if long_names else ".gnu_debuglink"] or names[-1] == ".qbundle",
          "the bundle section is the last loaded one")
    link = data.find(b".gnu_debuglink")
    debug_name = os.path.basename(exe) + ".debug"
    check(link >= 0 and debug_name.encode() + b"\0" in data, ".gnu_debuglink names %s" % debug_name)
    check(os.path.isfile(exe + ".debug") and os.path.getsize(exe + ".debug") > len(data),
          "the debug information is kept beside it")
    if os.path.isfile(exe + ".debug"):
        # The symbols of everything linked in: a POSIX thread library would
        # bring its pthread_* functions.
        check(b"pthread" not in open(exe + ".debug", "rb").read(),
              "no POSIX thread library linked in (no pthread name among its symbols)")
    for path in {os.path.realpath(source_dir), os.path.realpath(build_dir), source_dir, build_dir}:
        for encoded in (path.encode(), path.encode("utf-16-le"), path.replace("/", "\\").encode()):
            check(encoded not in data, "no build-machine path %s inside (%d bytes)" % (path, len(encoded)))
    check(b"/work/" not in data and b"/root/" not in data and b"/home/" not in data,
          "no home or work folder path inside")

    print("PASS" if not failures else "%d check(s) failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
