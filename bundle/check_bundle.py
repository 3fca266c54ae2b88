#!/usr/bin/env python3
"""Checks that a file can be embedded as the launcher's bundle.

usage: check_bundle.py ARCHIVE

The bundle must be a zip archive that begins with a local file header
(50 4B 03 04) and holds, at its root, the three entries the launcher relies
on. Its entries must be what the launcher's extraction reads: stored or
deflated, not encrypted.
Prints one clear message and exits with 1 when it is not such an archive.
"""
import os
import sys
import zipfile

REQUIRED = ("quintabel.exe", "swipl.home", "dereroz.zip")
# The bundle is written to the work folder in one request of a 32-bit count.
MAX_SIZE = 2147483647


def problem(path):
    try:
        with open(path, "rb") as f:
            head = f.read(4)
    except OSError as e:
        return "cannot be read (%s)" % e.strerror
    if head != b"PK\x03\x04":
        return ("is not a zip archive beginning with a local file header "
                "(the first four bytes must be 50 4B 03 04)")
    try:
        with zipfile.ZipFile(path) as z:
            names = set(n.replace("\\", "/") for n in z.namelist())
            infos = z.infolist()
    except (zipfile.BadZipFile, OSError) as e:
        return "is not a readable zip archive (%s)" % e
    if os.path.getsize(path) > MAX_SIZE:
        return ("is larger than %d bytes, more than the launcher writes in one "
                "request" % MAX_SIZE)
    for info in infos:
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            return ("holds \"%s\" compressed with method %d; the launcher "
                    "extracts stored (0) and deflated (8) entries only"
                    % (info.filename, info.compress_type))
        if info.flag_bits & 0x1:
            return "holds the encrypted entry \"%s\"" % info.filename
    missing = [n for n in REQUIRED if n not in names]
    if missing:
        return ("lacks the root %s %s (a bundle must hold quintabel.exe, "
                "swipl.home and dereroz.zip at its root)"
                % ("entry" if len(missing) == 1 else "entries",
                   ", ".join('"%s"' % n for n in missing)))
    return None


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: check_bundle.py ARCHIVE\n")
        return 2
    path = sys.argv[1]
    why = problem(path)
    if why:
        sys.stderr.write("Invalid quintabel bundle \"%s\": it %s.\n" % (path, why))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
