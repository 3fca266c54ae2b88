#!/usr/bin/env python3
"""Builds the benchmark bundle: make_bench_bundle.py OUT.zip APP_EXE [SOURCE_ROOT].

About 1,000 real files from SOURCE_ROOT (default /usr/share), chosen in a
fixed order until the archive holds about 5 MB of compressed data, in nested
folders under "lib/", beside "quintabel.exe" (APP_EXE, mode 755),
"swipl.home" and a small "dereroz.zip".
"""
import io
import os
import sys
import zipfile
import zlib

TARGET_COMPRESSED = 5 * 1024 * 1024
MAX_FILES = 1000


# The bundle scripts' way of writing an entry.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bundle"))
from zip_entry import add_entry as add  # noqa: E402


def candidates(root):
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            try:
                size = os.path.getsize(path)
            except OSError:
                continue
            if 2560 <= size <= 262144:
                yield path


def main():
    out, app = sys.argv[1], sys.argv[2]
    root = sys.argv[3] if len(sys.argv) > 3 else "/usr/share"
    dictionary = io.BytesIO()
    with zipfile.ZipFile(dictionary, "w") as inner:
        for i in range(20):
            add(inner, "mots%02d.txt" % i, ("".join("mot%d;word%d\n" % (j, j) for j in range(200))).encode())
    compressed = 0
    count = 0
    with zipfile.ZipFile(out, "w") as archive:
        with open(app, "rb") as f:
            add(archive, "quintabel.exe", f.read(), 0o755)
        add(archive, "swipl.home", b"benchmark runtime marker\n")
        add(archive, "dereroz.zip", dictionary.getvalue())
        for path in candidates(root):
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            name = "lib/" + os.path.relpath(path, root).replace(os.sep, "/")
            add(archive, name, data)
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            compressed += len(c.compress(data) + c.flush())
            count += 1
            if count >= MAX_FILES or compressed >= TARGET_COMPRESSED:
                break
    print("bench bundle: %d files, %d bytes" % (count + 3, os.path.getsize(out)))


if __name__ == "__main__":
    main()
