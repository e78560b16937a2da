#!/usr/bin/env python3
"""Applies the faults of tests/mutants.txt one at a time to a copy of the
checkout, builds the x86_64 build of that copy and runs its tests (all but
the long ones); a fault is caught when a test fails. A fault that does not
build is a fault of the list, reported and not counted.
Ends with the share caught of the faults that change behaviour.

    scripts/mutants.py [--only N[,N...]] [--check]

--check only verifies that every fault applies to the current sources.
The copy and its build live in build-mutants/; the checkout is not touched.
Each fault takes a build and a test run: about an hour for the whole list
on two cores.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build-mutants")
SOURCE = os.path.join(WORK, "src")
BUILD = os.path.join(SOURCE, "build")


def read_faults(path):
    """Blocks separated by blank lines; a block without "-" lines is a comment."""
    faults = []
    blocks = open(path, encoding="utf-8").read().split("\n\n")
    for block in blocks:
        lines = [l for l in block.split("\n") if l]
        if not any(l.startswith("-") for l in lines):
            continue
        if len(lines) < 4 or not lines[0].startswith("# "):
            sys.exit("tests/mutants.txt: cannot read the block: %r" % block)
        faults.append({"title": lines[0][2:], "file": lines[1],
                       "old": [l[1:] for l in lines[2:] if l.startswith("-")],
                       "new": [l[1:] for l in lines[2:] if l.startswith("+")]})
    return faults


def apply(fault, base):
    path = os.path.join(base, fault["file"])
    text = open(path, encoding="utf-8").read()
    old = "\n".join(fault["old"]) + "\n"
    new = "\n".join(fault["new"]) + "\n"
    count = text.count(old)
    if count != 1:
        return None, "the line occurs %d times in %s" % (count, fault["file"])
    return (path, text, text.replace(old, new)), None


def run(command, log, timeout=None):
    with open(log, "a") as out:
        out.write("$ %s\n" % " ".join(command))
        out.flush()
        try:
            return subprocess.run(command, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout, cwd=SOURCE).returncode
        except subprocess.TimeoutExpired:
            out.write("timed out\n")
            return -1


def failed_tests(log, offset):
    """The tests that CTest lists as failed in the log after offset."""
    with open(log, encoding="utf-8", errors="replace") as f:
        f.seek(offset)
        text = f.read()
    names = re.findall(r"^\s*\d+ - (\S+) \(", text, re.M)
    return ",".join(names) or "?"


def sync_copy():
    """The tracked files into the copy; unchanged ones keep their times, a
    changed one gets the time of now, so that a fault left by a killed run is
    rebuilt away even when the object is newer than the checkout's file."""
    names = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                           stdout=subprocess.PIPE).stdout.decode().split("\0")
    for name in filter(None, names):
        source = os.path.join(ROOT, name)
        target = os.path.join(SOURCE, name)
        if not os.path.isfile(source):
            continue
        data = open(source, "rb").read()
        if os.path.exists(target) and open(target, "rb").read() == data:
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        shutil.copymode(source, target)


def main():
    # A kill restores the faulty file through the finally below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    args = sys.argv[1:]
    only = None
    if "--only" in args:
        at = args.index("--only")
        if at + 1 >= len(args) or not re.fullmatch(r"\d+(,\d+)*", args[at + 1]):
            sys.exit("--only needs fault numbers: --only 3,7")
        only = {int(n) for n in args[at + 1].split(",")}
        del args[at:at + 2]
    unknown = [a for a in args if a != "--check"]
    if unknown:
        sys.exit(__doc__.strip().split("\n\n")[1] + "\nunknown: " + " ".join(unknown))
    faults = read_faults(os.path.join(ROOT, "tests", "mutants.txt"))
    if "--check" in args:
        bad = 0
        for number, fault in enumerate(faults, 1):
            _, problem = apply(fault, ROOT)
            if problem:
                bad += 1
                print("%2d %s: %s" % (number, fault["title"], problem))
        print("%d faults, %d do not apply" % (len(faults), bad))
        return 1 if bad else 0

    os.makedirs(SOURCE, exist_ok=True)
    log = os.path.join(WORK, "mutants.log")
    open(log, "w").close()
    # The sources of the copy as they are, built once, so that each fault
    # rebuilds only what it touches.
    sync_copy()
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        if run(["cmake", "--preset", "x86_64"], log) != 0:
            sys.exit("build-mutants: the copy does not configure; see %s" % log)
    jobs = os.environ.get("JOBS", "2")
    if run(["cmake", "--build", "build", "-j" + jobs], log) != 0:
        sys.exit("build-mutants: the copy does not build; see %s" % log)

    results = []
    for number, fault in enumerate(faults, 1):
        if only and number not in only:
            continue
        equivalent = fault["title"].endswith("(equivalent)")
        change, problem = apply(fault, SOURCE)
        if problem:
            results.append((number, fault, "not applied: " + problem, equivalent))
            print("%2d  NOT APPLIED  %s (%s)" % (number, fault["title"], problem), flush=True)
            continue
        path, original, mutated = change
        start = time.time()
        with open(log, "a") as out:
            out.write("\n==== %d %s\n" % (number, fault["title"]))
        try:
            open(path, "w", encoding="utf-8").write(mutated)
            if run(["cmake", "--build", "build", "-j" + jobs], log) != 0:
                outcome = "DOES NOT BUILD"
            else:
                mark = os.path.getsize(log)
                status = run(["sh", "scripts/with-test-env.sh", "build", "ctest",
                              "--test-dir", "build", "-LE", "long", "-j" + jobs,
                              "--stop-on-failure", "--output-on-failure"], log, 1500)
                outcome = "caught by " + failed_tests(log, mark) if status != 0 else "SURVIVED"
        finally:
            open(path, "w", encoding="utf-8").write(original)
        took = time.time() - start
        results.append((number, fault, outcome, equivalent))
        print("%2d  %4.0f s  %-40s %s" % (number, took, outcome, fault["title"]), flush=True)

    counted = [r for r in results if not r[3] and r[2].startswith(("caught", "SURVIVED"))]
    caught = [r for r in counted if r[2].startswith("caught")]
    print()
    for number, fault, outcome, _ in results:
        if outcome == "SURVIVED" or outcome == "DOES NOT BUILD":
            print("%s: %2d %s (%s)" % (outcome.lower(), number, fault["title"], fault["file"]))
    share = 100.0 * len(caught) / len(counted) if counted else 0.0
    print("%d of %d faults that change behaviour caught (%.0f %%); %d marked equivalent"
          % (len(caught), len(counted), share, sum(1 for r in results if r[3])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
