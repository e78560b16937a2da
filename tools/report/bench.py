#!/usr/bin/env python3
"""Times UpdateReport on a rollout of many machines (tests/tools/report/make_logs.py
writes it, with a list of targets) and gives its peak memory: one run to warm
the file cache and the Wine server, then REPS timed runs, each a process of
its own; the median and the largest peak working set (resident set of the
Wine process) are printed. Run it with a Wine server that stays up:

    sh scripts/with-test-env.sh build python3 tools/report/bench.py build
    ... [--machines 50000] [--reps 3] [--work /dev/shm/report-bench]"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "tools", "report"))
from make_logs import ACTIONS, rollout  # noqa: E402


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def timed(command):
    """Wall time in seconds and peak resident set in MiB of one run."""
    start = time.monotonic()
    p = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    out = p.stdout.read().decode("cp932", "replace")
    if p.returncode != 0:
        sys.exit("UpdateReport failed (%d): %s" % (p.returncode, p.stderr.read().decode("cp932", "replace")))
    return wall, usage.ru_maxrss / 1024, out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="the build folder (build or build-i686)")
    parser.add_argument("--machines", type=int, default=50000)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--work", default="/dev/shm/report-bench")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    logs = os.path.join(args.work, "logs")
    made = time.monotonic()
    counts, targets = rollout(logs, args.machines)
    files = len(os.listdir(logs))
    size = sum(os.path.getsize(os.path.join(logs, f)) for f in os.listdir(logs))
    print("%d machines, %d files, %.0f MiB (written in %.0f s): %s" % (
        args.machines, files, size / (1 << 20), time.monotonic() - made,
        ", ".join("%s %d" % (a, counts[a]) for a in ACTIONS)))
    command = [os.path.join(args.build, "wine-run.sh"), os.path.join(args.build, "tools/report/UpdateReport.exe"),
               windows(logs), "--machines", windows(targets), "--out", windows(os.path.join(args.work, "out"))]
    _, _, out = timed(command)
    print(out.strip())
    runs = [timed(command) for _ in range(args.reps)]
    walls = sorted(w for w, _, _ in runs)
    print("warm: median %.2f s of %d runs (%s), peak working set %.0f MiB" % (
        walls[len(walls) // 2], args.reps, ", ".join("%.2f" % w for w in walls), max(m for _, m, _ in runs)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
