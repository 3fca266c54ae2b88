#!/usr/bin/env python3
"""Builds a probe bundle: make_probe_bundle.py OUT.zip PROBE_EXE [--broken].

The archive holds the probe as "quintabel.exe" (mode 755, so extraction on
POSIX makes it runnable), the runtime marker "swipl.home", a default
"dereroz.zip", a nested library file and one about 260 characters deep. With --broken, "quintabel.exe" is
a text file that no system can start (stored executable, as the build's
bundle check asks of a POSIX bundle).
"""
import io
import os
import sys
import zipfile


# The bundle scripts' way of writing an entry.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bundle"))
from zip_entry import add_entry as add  # noqa: E402


def main():
    out, probe = sys.argv[1], sys.argv[2]
    broken = "--broken" in sys.argv[3:]
    dictionary = io.BytesIO()
    with zipfile.ZipFile(dictionary, "w") as inner:
        add(inner, "base.txt", b"bonjour;hello\n")
        add(inner, "autre.txt", b"chat;cat\n")
    with zipfile.ZipFile(out, "w") as archive:
        if broken:
            add(archive, "quintabel.exe", b"this is not a program\n", 0o755)
        else:
            with open(probe, "rb") as f:
                add(archive, "quintabel.exe", f.read(), 0o755)
        add(archive, "swipl.home", b"quintabel5\n# probe runtime marker\n")
        add(archive, "dereroz.zip", dictionary.getvalue())
        add(archive, "lib/nested/deep.txt", b"nested library file\n")
        # A library file about 260 characters below the work folder: on
        # Windows its path passes the old 260-character limit in every run.
        add(archive, "lib/long/" + "/".join(["a-folder-name-of-forty-characters-%05d" % i for i in range(6)])
            + "/leaf.txt", b"far below\n")


if __name__ == "__main__":
    main()
