#!/usr/bin/env python3
"""Starts many launchers at once and checks every user folder afterwards:
concurrent.py LAUNCHER [--count N] [--seed S].

Two experiments with the launcher built with the probe bundle, all launchers
of one user sharing one temporary folder:
  - N launchers from N different user folders: each ends with 0, its own
    dictionary carried back with its own change and its own trad_dyn.pl, or
    with 217 saying the application is already running, its folder byte for
    byte as it was;
  - N launchers from one user folder: all end with 0, and the dictionary that
    comes back holds every one of their changes.
Prints the figures; exits 1 on any wrong result.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile


def snapshot(folder):
    result = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


def entries(path):
    with zipfile.ZipFile(path) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist()}


def make_archive(path, names):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in names:
            archive.writestr(name, name.encode() + b"\n")


def many_folders(launcher, temp, root, count, rng):
    env = dict(os.environ, TEMP=temp, TMP=temp)
    folders = []
    for i in range(count):
        user = os.path.join(root, "user%02d" % i)
        os.makedirs(user)
        make_archive(os.path.join(user, "dereroz.zip"), ["own%02d_%d.txt" % (i, k) for k in range(30)])
        with open(os.path.join(user, "trad_dyn.pl"), "w") as f:
            f.write("older %d\n" % i)
        with open(os.path.join(user, "probe_control.txt"), "w") as f:
            f.write("sleep %d\ndict added%02d.txt a;%d\npl output of %d\n" % (rng.randint(50, 400), i, i, i))
        folders.append((user, snapshot(user)))
    processes = [subprocess.Popen([launcher, "x"], cwd=user, env=env, stderr=subprocess.PIPE, text=True)
                 for user, _ in folders]
    ran, refused, wrong = 0, 0, []
    for i, ((user, before), process) in enumerate(zip(folders, processes)):
        _, stderr = process.communicate()
        if process.returncode == 0:
            ran += 1
            now = entries(os.path.join(user, "dereroz.zip"))
            expected = {"own%02d_%d.txt" % (i, k) for k in range(30)} | {"added%02d.txt" % i}
            with open(os.path.join(user, "trad_dyn.pl")) as f:
                output = f.read()
            if set(now) != expected or output != "output of %d\n" % i:
                wrong.append("folder %d: dictionary %s, trad_dyn.pl %r" % (i, sorted(set(now) ^ expected), output))
        elif process.returncode == 217 and "already running" in stderr:
            refused += 1
            after = snapshot(user)
            if after != before:
                wrong.append("folder %d: refused, but its files changed" % i)
        else:
            wrong.append("folder %d: exit %d: %s" % (i, process.returncode, stderr[-300:]))
    if ran == 0:
        wrong.append("no launcher ran at all")
    return ran, refused, wrong


def one_folder(launcher, temp, root, count, rng):
    env = dict(os.environ, TEMP=temp, TMP=temp)
    user = os.path.join(root, "shared")
    os.makedirs(user)
    base = ["base%d.txt" % k for k in range(30)]
    make_archive(os.path.join(user, "dereroz.zip"), base)
    processes = []
    for i in range(count):
        # Each application finds its commands under its own argument.
        with open(os.path.join(user, "probe_control_%d.txt" % i), "w") as f:
            f.write("sleep %d\ndict added%02d.txt a;%d\npl output\n" % (rng.randint(200, 600), i, i))
        processes.append(subprocess.Popen([launcher, str(i)], cwd=user, env=env, stderr=subprocess.PIPE, text=True))
        time.sleep(0.01)
    codes, wrong = [], []
    for process in processes:
        _, stderr = process.communicate()
        codes.append(process.returncode)
        if process.returncode != 0:
            wrong.append("exit %d: %s" % (process.returncode, stderr[-300:]))
    now = set(entries(os.path.join(user, "dereroz.zip")))
    if not set(base) <= now:
        wrong.append("base entries lost: %d" % len(set(base) - now))
    added = sum(1 for name in now if name.startswith("added"))
    if added != count:
        wrong.append("only %d of %d changes came back" % (added, count))
    return codes.count(0), added, wrong


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("launcher")
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    launcher = os.path.abspath(args.launcher)
    rng = random.Random(args.seed)
    root = tempfile.mkdtemp(prefix="qb-concurrent-")
    failures = []
    try:
        temp = os.path.join(root, "temp")
        os.makedirs(temp)
        ran, refused, wrong = many_folders(launcher, temp, root, args.count, rng)
        print("%d launchers from %d folders: %d ran and delivered, %d refused (already running), %d wrong"
              % (args.count, args.count, ran, refused, len(wrong)))
        failures += wrong
        ok, added, wrong = one_folder(launcher, temp, root, args.count, rng)
        print("%d launchers from one folder: %d ended with 0, %d of %d changes in the dictionary, %d wrong"
              % (args.count, ok, added, args.count, len(wrong)))
        failures += wrong
        leftovers = os.listdir(temp)
        if leftovers:
            failures.append("left in the temporary folder: %s" % leftovers)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for failure in failures:
        print("  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
