#!/usr/bin/env python3
"""Runs the Unix commands that the test programs ask for (xdotool, ln, rm),
so that no Windows program of the tests starts a Unix program itself: under
qemu-user a Wine process that does so now and then crashes in the emulator.
Started by scripts/with-test-env.sh, which names the folder in
UPDATE_UNIX_RUNNER; it ends when that script does.

A test program writes a shell command into NAME.tmp in the folder and renames
it NAME.cmd; the command runs with /bin/sh, and its exit status appears, whole,
in NAME.rc.

    scripts/unix-runner.py FOLDER PARENT_PID
"""
import os
import subprocess
import sys
import time


def main(folder, parent):
    running = {}  # name -> process
    while os.getppid() == parent:
        for entry in os.listdir(folder):
            if not entry.endswith(".cmd"):
                continue
            name = entry[: -len(".cmd")]
            claimed = os.path.join(folder, name + ".run")
            try:
                os.rename(os.path.join(folder, entry), claimed)
                with open(claimed, "rb") as f:
                    command = f.read()
            except OSError:
                continue
            running[name] = subprocess.Popen(
                ["/bin/sh", "-c", command], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for name, process in list(running.items()):
            if process.poll() is None:
                continue
            del running[name]
            partial = os.path.join(folder, name + ".rcw")
            with open(partial, "w") as f:
                f.write("%d\n" % process.returncode)
            os.rename(partial, os.path.join(folder, name + ".rc"))
            os.remove(os.path.join(folder, name + ".run"))
        time.sleep(0.01)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
