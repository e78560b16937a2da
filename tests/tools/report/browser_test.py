#!/usr/bin/env python3
"""report.html in a real browser: headless Chromium prints it to PDF, and
pdftotext gives what a reader sees there: the count of every status and the
hostile names as text. A screenshot stays in WORK_DIR/report.png. Where
Chromium is missing or cannot run, the test says so and is skipped (77).

    browser_test.py WINE_RUN UPDATEREPORT_EXE WORK_DIR"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_logs import HOSTILE, MEANINGS, NO_RESULT, hostile, rollout  # noqa: E402

SKIP = 77


def skip(reason):
    print("SKIPPED: %s" % reason)
    print("*** report.html was NOT checked in a browser ***")
    sys.exit(SKIP)


def chromium(page, *args):
    """Runs headless Chromium on the page, as root, without a display."""
    profile = tempfile.mkdtemp(prefix="report-chromium-")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        return subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile] + list(args) + ["file://" + page],
            capture_output=True, timeout=120, env=env)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def main():
    wine_run, exe, work = sys.argv[1:4]
    for tool, package in (("chromium", "chromium"), ("pdftotext", "poppler-utils")):
        if shutil.which(tool) is None:
            skip("%s is not installed (make setup installs %s)" % (tool, package))
    shutil.rmtree(work, ignore_errors=True)
    logs = os.path.join(work, "logs")
    counts = rollout(logs, 60, seed=7)
    hostile(logs, time.mktime((2024, 11, 6, 8, 0, 0, 0, 0, -1)))
    counts["64"] = counts.get("64", 0) + len(HOSTILE)
    p = subprocess.run([wine_run, exe, "Z:" + os.path.abspath(logs).replace("/", "\\")],
                       capture_output=True, timeout=300)
    if p.returncode != 0:
        print("FAIL: UpdateReport exited %d: %s" % (p.returncode, p.stderr.decode("cp932", "replace")))
        return 1
    page = os.path.join(os.path.abspath(logs), "report.html")

    pdf = os.path.join(work, "report.pdf")
    printed = chromium(page, "--no-pdf-header-footer", "--print-to-pdf=" + pdf)
    if printed.returncode != 0 or not os.path.exists(pdf):
        skip("chromium cannot run here (status %d): %s" % (
            printed.returncode, printed.stderr.decode("utf-8", "replace").strip()[-500:]))
    text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True,
                          check=True).stdout.decode("utf-8")
    # pdftotext breaks long cells; the names and the legend stay whole.
    seen = " ".join(text.split())
    failures = []
    for status, count in sorted(counts.items()):
        label = NO_RESULT if status == "no result" else status + " " + MEANINGS[status]
        if "%s: %d" % (label, count) not in seen:
            failures.append("the page shows no count %r: %d" % (label, count))
    for name in HOSTILE:
        if name not in seen:
            failures.append("the page does not show the name %r as text" % name)
    if "<b>x</b>" not in seen:
        failures.append("a log record's markup is not shown as text")
    # The rows' order, whichever cells the layout wraps.
    table = seen[seen.find("Machine Status Meaning"):]
    failed, updated = re.search(r"■ ?1 update", table), re.search(r"■ ?0 updated", table)
    if not (failed and updated and failed.start() < updated.start()):
        failures.append("failures are not listed first")

    shot = os.path.join(work, "report.png")
    taken = chromium(page, "--hide-scrollbars", "--window-size=1280,1000", "--screenshot=" + shot)
    if taken.returncode != 0 or not os.path.exists(shot) or os.path.getsize(shot) < 10000:
        failures.append("no screenshot: %s" % taken.stderr.decode("utf-8", "replace")[-500:])
    else:
        print("screenshot: %s" % shot)
    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
