#!/usr/bin/env python3
"""Kills the launcher at random moments and checks that the user's data
survives: kill_rounds.py LAUNCHER [--rounds N] [--seed S] [--entries E].

Each round starts the launcher (built with the probe bundle) in a user folder
whose dereroz.zip holds E entries, kills it with SIGKILL after a random delay
(anywhere in installation, the application's run, packing and the clean-up
pause), checks that the user's archive is whole right after the kill, then
runs the launcher once more normally and checks that no entry was lost, that
the application's change of that run arrived, and that no temporary file is
left beside the user's files. Prints the figures; exits 1 on any loss.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile


def entries(path):
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            raise zipfile.BadZipFile("damaged entry")
        return {info.filename: archive.read(info) for info in archive.infolist()}


def wait_gone(pattern_dir, seconds=10):
    # An application orphaned by the kill may still run: give it time.
    deadline = time.time() + seconds
    while time.time() < deadline:
        busy = subprocess.run(["pgrep", "-f", pattern_dir], capture_output=True).returncode == 0
        if not busy:
            return
        time.sleep(0.05)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("launcher")
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--entries", type=int, default=900)
    args = parser.parse_args()
    args.launcher = os.path.abspath(args.launcher)
    rng = random.Random(args.seed)

    root = tempfile.mkdtemp(prefix="qb-kill-")
    user = os.path.join(root, "user")
    temp = os.path.join(root, "temp")
    os.makedirs(user)
    os.makedirs(temp)
    env = dict(os.environ, TEMP=temp, TMP=temp)
    base = {"mot%04d.txt" % i: ("mot%d;word%d\n" % (i, i)).encode() for i in range(args.entries)}
    with zipfile.ZipFile(os.path.join(user, "dereroz.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in base.items():
            archive.writestr(name, data)

    stats = {"rounds": 0, "killed": 0, "after_kill_whole": 0, "next_run_ok": 0, "lost": 0, "litter": 0,
             "next_run_failed": 0}
    failures = []
    for round_no in range(args.rounds):
        stats["rounds"] += 1
        with open(os.path.join(user, "probe_control.txt"), "w") as control:
            control.write("dict round%03d.txt r;%d\nsleep %d\npl round %d\n" % (round_no, round_no,
                                                                              rng.randint(0, 300), round_no))
        process = subprocess.Popen([args.launcher, "arg"], cwd=user, env=env, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.0, 1.8))
        if process.poll() is None:
            process.send_signal(signal.SIGKILL)
            stats["killed"] += 1
        process.wait()
        try:
            if set(base) - set(entries(os.path.join(user, "dereroz.zip"))):
                raise zipfile.BadZipFile("entries missing")
            stats["after_kill_whole"] += 1
        except (zipfile.BadZipFile, OSError) as error:
            failures.append("round %d: archive not whole right after the kill: %s" % (round_no, error))
        wait_gone(os.path.join(temp, "quintabel5"))

        with open(os.path.join(user, "probe_control.txt"), "w") as control:
            control.write("dict check%03d.txt c;%d\n" % (round_no, round_no))
        result = subprocess.run([args.launcher], cwd=user, env=env, capture_output=True, text=True)
        if result.returncode != 0:
            stats["next_run_failed"] += 1
            failures.append("round %d: next run exited %d: %s" % (round_no, result.returncode, result.stderr[-400:]))
            continue
        stats["next_run_ok"] += 1
        now = entries(os.path.join(user, "dereroz.zip"))
        missing = set(base) - set(now)
        if missing or "check%03d.txt" % round_no not in now:
            stats["lost"] += 1
            failures.append("round %d: %d base entries lost, own entry %s" % (
                round_no, len(missing), "present" if "check%03d.txt" % round_no in now else "missing"))
        litter = [n for n in os.listdir(user) if ".~" in n]
        if litter or os.path.exists(os.path.join(temp, "quintabel5")):
            stats["litter"] += 1
            failures.append("round %d: left behind: %s" % (round_no, litter or "the work folder"))

    print("kill rounds (seed %d, %d entries): %s" % (args.seed, args.entries,
                                                     ", ".join("%s=%d" % kv for kv in stats.items())))
    for failure in failures:
        print("  " + failure)
    shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
