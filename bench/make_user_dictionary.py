#!/usr/bin/env python3
"""Writes the user's dictionary of the Windows benchmark: make_user_dictionary.py OUT.zip.

A dereroz.zip of three small word lists, as a user's folder holds it.
"""
import os
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bundle"))
from zip_entry import add_entry as add  # noqa: E402


def main():
    with zipfile.ZipFile(sys.argv[1], "w") as archive:
        for i in range(3):
            add(archive, "mots%d.txt" % i, ("".join("mot%d;word%d\n" % (j, j) for j in range(300))).encode())


if __name__ == "__main__":
    main()
