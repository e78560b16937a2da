#!/usr/bin/env python3
"""UpdateReport.exe under Wine on a logs folder with every case it must
tell apart, written on the Unix side (so that names Windows refuses can be
planted too); its CSV read back with a parser of its own.

    report_test.py WINE_RUN UPDATEREPORT_EXE WORK_DIR"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_logs import (BANNER, FAILURES, HOSTILE, HOSTILE_RECORD, MEANINGS, NO_RESULT, hostile,  # noqa: E402
                       record, result, run, steps, write)

GIB = 1 << 30
T0 = time.mktime((2024, 11, 5, 8, 0, 0, 0, 0, -1))


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse_csv(data):
    """RFC 4180: fields quoted when they hold a comma, a quote or a line
    break, a quote inside doubled; records end in CR LF."""
    rows, row, field, i, quoted = [], [], "", 0, False
    while i < len(data):
        c = data[i]
        if quoted:
            if c == '"' and data[i + 1:i + 2] == '"':
                field += '"'
                i += 1
            elif c == '"':
                quoted = False
            else:
                field += c
        elif c == '"' and field == "":
            quoted = True
        elif c == ",":
            row.append(field)
            field = ""
        elif data.startswith("\r\n", i):
            rows.append(row + [field])
            row, field = [], ""
            i += 1
        else:
            assert c not in '"\r\n', "unquoted %r in %r" % (c, field)
            field += c
        i += 1
    assert not quoted and row == [] and field == "", "CSV does not end with a whole record"
    return rows


def cases(logs):
    """Writes the machines' files; returns {name: (status, last_run, reason)}."""
    expect = {}

    def machine(name, status, texts=None, result_at=None, last=None, reason=""):
        start = T0 + len(expect) * 600
        if texts is not None:
            write(os.path.join(logs, name + ".log"), run(start, texts), start + 30)
        if status is not None:
            result(logs, name, status, result_at if result_at is not None else start + 60)
        expect[name] = (str(status), last if last is not None else
                        (time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(start)) if texts is not None else ""),
                        reason)
        return start

    machine("PC-OK", 0, steps())
    machine("PC-CANCEL", 4, steps()[:1])
    machine("経理PC01", 0, steps())
    # Updated at an earlier start; this time the status query alone.
    machine("PC-DONE", 3, steps(), result_at=T0 + 86400)
    machine("PC-QUERY", 2)
    machine("PC-NOTREC", 2, ["動作モード 0 ."], reason="動作モード 0 .")
    machine("PC-NOTREC-LATER", 2, steps(), reason="")
    machine("PC-BUSY", 5, ["他の更新が実行中のため終了."], reason="他の更新が実行中のため終了.")
    machine("PC-USAGE", 64, ["不明な引数 /bad\r\nline ."], reason="不明な引数 /bad\nline .")
    machine("PC-CRASH", -1073741819, steps()[:3], reason=steps()[2])
    machine("PC-UNRECOGNISED", 1, steps()[:5], reason=steps()[4])
    for i, (texts, reason) in enumerate(FAILURES):
        machine("PC-F%02d" % i, 1, steps()[:3] + texts, reason=reason or texts[0])
    # The banner's text inside a record is no start.
    machine("PC-FAKE", 1, ["コマンドライン /x " + BANNER + " ."] + FAILURES[0][0], reason=FAILURES[0][0][0])
    machine("PC-BADRESULT", None, steps())
    write(os.path.join(logs, "PC-BADRESULT.result"), b"2024/11/05  9:05:07.12 ECHO is off.\r\n")
    expect["PC-BADRESULT"] = ("unreadable", expect["PC-BADRESULT"][1], "unreadable log")
    machine("PC-JUNK", 1, [])
    write(os.path.join(logs, "PC-JUNK.log"), bytes(range(256)) * 64)
    expect["PC-JUNK"] = ("1", "", "unreadable log")

    # Killed: a log, no result; the last record not even ended.
    start = machine("PC-KILLED", None, steps()[:4], reason=steps()[3])
    expect["PC-KILLED"] = ("no result",) + expect["PC-KILLED"][1:]
    with open(os.path.join(logs, "PC-KILLED.log"), "ab") as f:
        f.write(record(start + 9, "展開先フォルダ C:\\WU .")[:-2])
    expect["PC-KILLED"] = expect["PC-KILLED"][:2] + ("展開先フォルダ C:\\WU .",)
    # The result of the run before: the last one has not ended (yet).
    start = machine("PC-STALE", 1, steps()[:2], reason=steps()[1])
    result(logs, "PC-STALE", 1, start - 3600)
    expect["PC-STALE"] = ("no result",) + expect["PC-STALE"][1:]

    # Rotated while the last run wrote: its start is in the .BAK.
    start = machine("PC-ROTATED", 1, None, reason=FAILURES[1][0][0])
    older = run(start - 86400, steps()[:2] + FAILURES[0][0])
    write(os.path.join(logs, "PC-ROTATED.log.BAK"), older + run(start, steps()[:2]))
    write(os.path.join(logs, "PC-ROTATED.log"),
          b"".join(record(start + 5 + i, t) for i, t in enumerate(FAILURES[1][0])), start + 30)
    expect["PC-ROTATED"] = ("1", time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(start)),
                            FAILURES[1][0][0])
    # Its whole last run in the log: the failure in the .BAK is an older run's.
    machine("PC-ROTATED-OLD", 1, steps()[:6], reason=steps()[5])
    write(os.path.join(logs, "PC-ROTATED-OLD.log.BAK"), run(T0 - 86400, FAILURES[0][0]))

    # Planted: gigabytes (sparse) before a run, and gigabytes with none.
    start = machine("PC-HUGE", 0, None)
    with open(os.path.join(logs, "PC-HUGE.log"), "wb") as f:
        f.seek(5 * GIB)
        f.write(run(start, steps()))
    # Written before its result, as the script writes them.
    os.utime(os.path.join(logs, "PC-HUGE.log"), (start + 30, start + 30))
    expect["PC-HUGE"] = ("0", time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(start)), "")
    machine("PC-PLANTED", 0, None)
    with open(os.path.join(logs, "PC-PLANTED.log"), "wb") as f:
        f.truncate(5 * GIB)
    expect["PC-PLANTED"] = ("0", "", "unreadable log")

    # Names and texts that must stay text in a page and in a cell.
    start = machine(HOSTILE[0], 64, [HOSTILE_RECORD], reason=HOSTILE_RECORD)
    hostile(logs, start)
    for name in HOSTILE:
        expect[name] = expect[HOSTILE[0]]
    # Windows compares computer names without regard to case.
    machine("pc-mixed", None, steps())
    result(logs, "PC-MIXED", 0, T0 + 86400)
    expect["pc-mixed"] = ("0",) + expect["pc-mixed"][1:]
    write(os.path.join(logs, "readme.txt"), b"not a machine")
    return expect


def status_key(row):
    s = row[1]
    rank = {"no result": 1, "unreadable": 2}.get(s, 0)
    return (rank, int(s) % (1 << 32) if rank == 0 else 0, row[0].lstrip("'").upper())


def main():
    wine_run, exe, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    # A folder made for the report, whose name ends in a trail byte 0x5C.
    logs, out = os.path.join(work, "logs"), os.path.join(work, "out", "表")
    os.makedirs(logs)
    expect = cases(logs)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAIL:", what)

    def report(*args):
        p = subprocess.run([wine_run, exe] + list(args), capture_output=True, timeout=300)
        return p.returncode, p.stdout.decode("cp932", "replace"), p.stderr.decode("cp932", "replace")

    status, stdout, stderr = report(windows(logs), "--out", windows(out))
    check(status == 0, "exit status %d: %s" % (status, stderr))
    raw = open(os.path.join(out, "report.csv"), "rb").read()
    check(raw.startswith(b"\xef\xbb\xbf"), "report.csv has no byte-order mark")
    rows = parse_csv(raw[3:].decode("utf-8"))
    check(rows[0] == ["machine", "status", "meaning", "last_run", "reason"], "header %r" % rows[0])
    rows = rows[1:]
    check([r[0] for r in rows] == [r[0] for r in sorted(rows, key=status_key)],
          "rows not sorted by status, then machine")
    got = {r[0].lstrip("'").upper(): r for r in rows}
    check(len(rows) == len(expect), "%d rows for %d machines" % (len(rows), len(expect)))
    for name, (want_status, want_time, want_reason) in expect.items():
        row = got.get(name.upper())
        if row is None:
            check(False, "no row for %r" % name)
            continue
        want_reason = "'" + want_reason if want_reason[:1] and want_reason[0] in "=+-@" else want_reason
        check(row[1:] == [want_status, MEANINGS.get(want_status, row[2]), want_time, want_reason],
              "%r: %r, expected %r" % (name, row[1:], [want_status, want_time, want_reason]))
    check(got['=HYPERLINK("X")'][0] == "'=HYPERLINK(\"x\")",
          "a name that Excel would run is not made text")
    counts = {}
    for s, _, _ in expect.values():
        counts[s] = counts.get(s, 0) + 1
    check(stdout.startswith("%d machines: " % len(expect)) and
          "1 update failed: %d" % counts["1"] in stdout and NO_RESULT + ": 2" in stdout,
          "summary line %r" % stdout)
    page = open(os.path.join(out, "report.html"), "rb").read().decode("utf-8")
    check("&lt;script&gt;alert(1)&lt;" in page and "<script" not in page and
          "a&quot;b" in page and "&lt;b&gt;x&lt;/b&gt;&quot;,&amp;amp;" in page and "<b>" not in page,
          "names or texts not escaped in report.html")
    check(not [f for f in os.listdir(out) if f.endswith(".partial")], "a .partial file is left")

    # What the user did wrong, what is not there, what cannot be written.
    empty = os.path.join(work, "empty")
    os.makedirs(empty)
    write(os.path.join(empty, "notes.txt"), b"")
    blocked = os.path.join(work, "blocked")
    os.makedirs(os.path.join(blocked, "report.csv"))
    for args, want, message in [
        ([], 64, "no LOGS folder"),
        (["--bogus", windows(logs)], 64, "unknown option --bogus"),
        ([windows(logs), windows(empty)], 64, "one LOGS folder only"),
        ([windows(logs), "--out"], 64, "--out needs a folder"),
        ([windows(os.path.join(work, "missing"))], 66, "no folder"),
        ([windows(os.path.join(logs, "readme.txt"))], 66, "no folder"),
        ([windows(empty)], 66, "holds no"),
        ([windows(logs), "--out", windows(blocked)], 73, "report.csv"),
        ([windows(logs), "--out", windows(os.path.join(logs, "readme.txt"))], 73, "report.csv"),
    ]:
        status, stdout, stderr = report(*args)
        check(status == want and message in stderr and stdout == "",
              "%r: status %d, expected %d with %r: %r" % (args, status, want, message, stderr))
        if want == 73:
            check(re.search(r"report\.csv: .*\(\d+\)", stderr), "no system error text: %r" % stderr)
    # Gigabytes on paper: gone unless a failure is to be looked into.
    if not failures:
        for name in ("PC-HUGE", "PC-PLANTED"):
            os.remove(os.path.join(logs, name + ".log"))
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
