#!/usr/bin/env python3
"""Builds a probe bundle: make_probe_bundle.py OUT.zip PROBE_EXE [--broken].

The archive holds the probe as "quintabel.exe" (mode 755, so extraction on
POSIX makes it runnable), the runtime marker "swipl.home", a default
"dereroz.zip", a nested library file and one about 260 characters deep. With --broken, "quintabel.exe" is
a text file that no system can start.
"""
import io
import sys
import zipfile


def add(archive, name, data, mode=0o644):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
    info.create_system = 3
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def main():
    out, probe = sys.argv[1], sys.argv[2]
    broken = "--broken" in sys.argv[3:]
    dictionary = io.BytesIO()
    with zipfile.ZipFile(dictionary, "w") as inner:
        add(inner, "base.txt", b"bonjour;hello\n")
        add(inner, "autre.txt", b"chat;cat\n")
    with zipfile.ZipFile(out, "w") as archive:
        if broken:
            add(archive, "quintabel.exe", b"this is not a program\n", 0o644)
        else:
            with open(probe, "rb") as f:
                add(archive, "quintabel.exe", f.read(), 0o755)
        add(archive, "swipl.home", b"probe runtime marker\n")
        add(archive, "dereroz.zip", dictionary.getvalue())
        add(archive, "lib/nested/deep.txt", b"nested library file\n")
        # A library file about 260 characters below the work folder: on
        # Windows its path passes the old 260-character limit in every run.
        add(archive, "lib/long/" + "/".join(["a-folder-name-of-forty-characters-%05d" % i for i in range(6)])
            + "/leaf.txt", b"far below\n")


if __name__ == "__main__":
    main()
