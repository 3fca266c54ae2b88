#!/usr/bin/env python3
"""Joins the compile databases of the POSIX and the Windows build into one
that clang-tidy can read: compile_database.py OUT_DIR POSIX_BUILD WIN_BUILD.

A file that both targets build is listed twice, once with each target's
command. The Windows commands are the cross compiler's; clang is told the
target and the cross compiler's C++ headers. The fuzz target, which no CMake
build compiles, is added with the POSIX flags. The sources of GoogleTest
itself are left out.
"""
import json
import os
import subprocess
import sys


def cross_headers(compiler):
    # The cross compiler's own search list for <...> includes.
    result = subprocess.run([compiler, "-xc++", "-E", "-v", "-"], input="", capture_output=True, text=True)
    lines = result.stderr.splitlines()
    start = lines.index("#include <...> search starts here:") + 1
    end = lines.index("End of search list.")
    return [line.strip() for line in lines[start:end] if "/c++" in line]


def main():
    out, posix, windows = sys.argv[1:4]
    source_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    entries = []
    seen = set()
    with open(os.path.join(posix, "compile_commands.json")) as f:
        for entry in json.load(f):
            if "googletest" in entry["file"]:
                continue
            entries.append(entry)
            seen.add(entry["file"])
    with open(os.path.join(windows, "compile_commands.json")) as f:
        windows_entries = json.load(f)
    extra = None
    for entry in windows_entries:
        # Files of both targets are read twice, once as each: their
        # "#ifdef _WIN32" parts are names too.
        if "googletest" in entry["file"] or not entry["file"].endswith(".cpp"):
            continue
        command = entry["command"]
        if extra is None:
            compiler = command.split()[0]
            extra = " --target=x86_64-w64-windows-gnu -nostdinc++" + "".join(
                " -isystem " + folder for folder in cross_headers(compiler))
        entry = dict(entry, command=command.replace(" -c ", extra + " -c ", 1))
        entries.append(entry)
        seen.add(entry["file"])
    fuzzer = os.path.join(source_root, "fuzz", "zip_reader_fuzzer.cpp")
    entries.append({"directory": source_root, "file": fuzzer,
                    "command": "c++ -std=c++17 -Wall -Wextra -I%s -c %s" % (source_root, fuzzer)})
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "compile_commands.json"), "w") as f:
        json.dump(entries, f, indent=1)
    print("%d files in %s/compile_commands.json" % (len(entries), out))


if __name__ == "__main__":
    main()
