#!/usr/bin/env python3
"""Builds the zip archives of the default bundle and of the sample data.

  make_bundle.py dictionary OUT.zip DIR
      A dictionary archive ("dereroz.zip"): every *.txt file of DIR at the
      archive's root.
  make_bundle.py bundle OUT.zip APP DIR
      The default bundle: APP as "quintabel.exe", DIR/swipl.home, a
      "dereroz.zip" made from DIR/dereroz, and every file under DIR/lib with
      its nested path. The build checks it (quintabel-pack --check) before
      it is embedded.

Entries are deflated and written with ZipFile.write, which records each
file's Unix mode, so an extracted "quintabel.exe" stays executable on POSIX.
The archive is written beside OUT and renamed over it when complete.
"""
import os
import sys
import tempfile
import zipfile


def files_under(root):
    found = []
    for folder, subfolders, names in os.walk(root):
        subfolders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            found.append((path, os.path.relpath(path, root).replace(os.sep, "/")))
    return found


def write_dictionary(out, folder):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if name.endswith(".txt") and os.path.isfile(path):
                z.write(path, name)


def write_bundle(out, app, folder, scratch):
    dictionary = os.path.join(scratch, "dereroz.zip")
    write_dictionary(dictionary, os.path.join(folder, "dereroz"))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(app, "quintabel.exe")
        z.write(os.path.join(folder, "swipl.home"), "swipl.home")
        z.write(dictionary, "dereroz.zip")
        for path, relative in files_under(os.path.join(folder, "lib")):
            z.write(path, "lib/" + relative)


def main(argv):
    if len(argv) == 4 and argv[1] == "dictionary":
        kind, out, args = "dictionary", argv[2], argv[3:]
    elif len(argv) == 5 and argv[1] == "bundle":
        kind, out, args = "bundle", argv[2], argv[3:]
    else:
        sys.stderr.write(__doc__)
        return 2
    out = os.path.abspath(out)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(out)) as scratch:
        partial = os.path.join(scratch, "partial.zip")
        if kind == "dictionary":
            write_dictionary(partial, args[0])
        else:
            write_bundle(partial, args[0], args[1], scratch)
        os.replace(partial, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
