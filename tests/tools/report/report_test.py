#!/usr/bin/env python3
"""UpdateReport.exe under Wine on a logs folder with every case it must
tell apart, written on the Unix side (so that names Windows refuses can be
planted too); its CSV read back with a parser of its own. Every failure
record of Update/support/LogTexts.h gets a machine of its own, so that a record the
program can write and the report cannot name fails here.

    report_test.py WINE_RUN UPDATEREPORT_EXE WORK_DIR LOGTEXTS_H"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_logs import (BANNER, FAILURES, FEATURE, HOSTILE, HOSTILE_RECORD, hostile, record,  # noqa: E402
                       result, run, steps, write)

GIB = 1 << 30
SAME = object()
T0 = time.mktime((2024, 11, 5, 8, 0, 0, 0, 0, -1))
IN_USE = "別のプロセスが使用中です。 (32)"
DENIED = "アクセスが拒否されました。 (5)"
FULL = "ディスクに空き領域がありません。 (112)"
F = "D:\\App\\WU\\"

# Each failure record of LogTexts.h: its values, and the action and cause of
# a run that fails with it alone.
FAILING = {
    "LOG_NO_SPACE": ((F[:-1], 684, 172), "fix", "Disk D: has 172 KB free, 684 KB needed"),
    "LOG_CANNOT_UPDATE": ((F + "PatchHub.exe", IN_USE), "retry",
                          F + "PatchHub.exe is in use by another program (error 32); the next start tries again"),
    "LOG_CANNOT_UPDATE_FOLDER": ((F + "PatchSvc.ini",), "fix",
                                 F + "PatchSvc.ini is a folder where Update.exe writes a file: move it away"),
    "LOG_CANNOT_UPDATE_UTF8": ((F + "patchjob.ini",), "fix",
                               F + "patchjob.ini is saved as UTF-8, which Update.exe cannot rewrite: "
                               "save it as Shift-JIS (ANSI) or UTF-16"),
    "LOG_CANNOT_UPDATE_TEXT": ((F + "patchjob.ini",), "fix",
                               F + "patchjob.ini holds bytes that are no Shift-JIS text: correct the file"),
    "LOG_CANNOT_UPDATE_COMMAND": (("D:\\Tools!\\WU",), "fix",
                                  "The feature folder D:\\Tools!\\WU holds a '!' or a control character, "
                                  "which patchcliXP.bat cannot carry: install the product in another folder"),
    "LOG_NO_SHARE": ((), "fix", "patchjob.ini names no share (TLX_SHARE), which a client needs: set it"),
    "LOG_NO_HOST_NAME": (("ホストが見つかりません。 (11001)",), "fix",
                         "patchjob.ini names no share and the server could not learn its own host name: "
                         "host not found (error 11001)"),
    "LOG_SHARE_TOO_LONG": (("S" * 40,), "fix", "The server name %s is too long for a share path" % ("S" * 40)),
    "LOG_BAD_SERVER_NAME": (("a&b",), "fix", "The server name \"a&b\" in patchjob.ini is refused: "
                            "only letters, digits, '-', '.' and '_'"),
    "LOG_SETTING_TOO_LONG": (("TLX_SHARE",), "fix", "[SUS] TLX_SHARE in patchjob.ini is longer than 258 bytes: "
                             "shorten it"),
    "LOG_UNPACK_FAILED": ((-8,), "fix", "The payload inside Update.exe cannot be unpacked "
                          "(the archive is truncated, result -8)"),
    "LOG_PAYLOAD_NO_MARKER": (("WSUS.txt",), "fix", "The payload inside Update.exe holds no WSUS.txt: "
                              "build Update.exe again from the vendor's complete files"),
    "LOG_PAYLOAD_FILE_FAILED": (("C:\\TEMP\\Update.tmp", FULL), "fix",
                                "The disk filled up: C:\\TEMP\\Update.tmp could not be written (the payload)"),
    "LOG_UNPACK_FILE_FAILED_BECAUSE": ((F + "Hub.dll", IN_USE), "retry",
                                       F + "Hub.dll is in use by another program (error 32); the next start tries again"),
    "LOG_UNPACK_FILE_FAILED": ((F + "Hub.dll",), "fix", F + "Hub.dll could not be unpacked"),
    "LOG_PATH_TOO_LONG": (("patchcliXP.bat",), "fix", "A path for patchcliXP.bat is too long"),
    "LOG_COPY_FAILED": ((), "fix", "A file could not be copied"),
    "LOG_NOTHING_KEPT": ((F + "WSUS.undo",), "fix", "Updated by an earlier Update.exe, which kept no copies in "
                         + F + "WSUS.undo: /undo cannot go back; go back by hand"),
}
# LOG_FILE_FAILED with each of its words, and the verb that says it.
VERBS = {"LOG_WHAT_REMOVE": "removed", "LOG_WHAT_WRITE": "written", "LOG_WHAT_CREATE": "created",
         "LOG_WHAT_COPY": "copied", "LOG_WHAT_RENAME": "renamed", "LOG_WHAT_RESTORE": "restored"}
# The records that say no failure.
NOT_FAILING = {"LOG_START_BANNER", "LOG_SAMPLE_BUILD", "LOG_COMMAND_LINE", "LOG_UNKNOWN_ARGUMENT",
               "LOG_ANOTHER_RUNNING", "LOG_MODE", "LOG_EXIT_STATUS", "LOG_LEFTOVER_REMOVED",
               "LOG_SHARE", "LOG_SERVER", "LOG_PAYLOAD_FILE", "LOG_PAYLOAD_WRITTEN", "LOG_UNPACK_INTO",
               "LOG_BACKUP", "LOG_REWRITE", "LOG_OLD_VALUES", "LOG_CREATE", "LOG_RENAME_FROM",
               "LOG_RENAME_TO", "LOG_FILE_FAILED", "LOG_UNDO", "LOG_NOTHING_TO_UNDO", "LOG_RESTORE",
               "LOG_REMOVE"}


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stamp(seconds):
    return time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(seconds))


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


def header_texts(path):
    text = open(path, encoding="utf-8").read()
    return {m.group(1): m.group(2) for m in re.finditer(r'^#define (LOG_\w+) "(.*)"$', text, re.M)}


def cases(logs, texts):
    """Writes the machines' files; returns {name: [status, meaning, last_run,
    reason, action, cause]}, the cause a pattern."""
    expect = {}

    def machine(name, status, texts=None, closed=SAME, result_at=None, reason="", action="",
                cause="", meaning=None, at=None, sample=False):
        """closed: the status of the closing record, None for none."""
        start = at if at is not None else T0 + len(expect) * 600
        if texts is not None:
            write(os.path.join(logs, name + ".log"),
                  run(start, texts, status if closed is SAME else closed, sample), start + 30)
        if status is not None:
            result(logs, name, status, result_at if result_at is not None else start + 60)
        expect[name] = [str(status), meaning, stamp(start) if texts is not None else "", reason,
                        action, cause]
        return start

    machine("PC-OK", 0, steps(), reason="", action="none", cause="Updated", meaning="updated")
    machine("経理PC01", 0, steps(), action="none", cause="Updated", meaning="updated")
    machine("PC-CANCEL", 4, steps()[:1], action="retry", meaning="cancelled",
            cause="Cancelled at the dialog; the next start runs the update again")
    # Updated at an earlier start; this time the status query alone.
    machine("PC-DONE", 3, steps(), closed=0, result_at=T0 + 86400, action="none",
            meaning="already updated", cause="Already updated: WSUS.txt was there, nothing was changed")
    not_installed = "TALMERO Pro or its Windows Update support feature is not installed"
    machine("PC-QUERY", 2, action="skip", meaning="not recognised", cause=not_installed)
    machine("PC-NOTREC", 2, ["動作モード 0 ."], reason="動作モード 0 .", action="skip",
            meaning="not recognised", cause=not_installed)
    # A result written at a later start says something the log cannot.
    machine("PC-NOTREC-LATER", 2, steps(), closed=0, result_at=T0 + 86400, action="skip",
            meaning="not recognised", cause=not_installed)
    machine("PC-BUSY", 5, ["他の更新が実行中のため終了."], reason="他の更新が実行中のため終了.",
            action="wait", meaning="another update running",
            cause="Another update was running on the machine; the next start runs this one")
    machine("PC-USAGE", 64, ["不明な引数 /bad\r\nline ."], reason="不明な引数 /bad\nline .",
            action="fix", meaning="usage error",
            cause="Update.exe refused the argument \"/bad\nline\": correct the command line")
    start = machine("PC-CRASH", -1073741819, steps()[:3], closed=None, reason=steps()[2],
                    action="fix", meaning="ended abnormally (0xC0000005)")
    expect["PC-CRASH"][5] = ("Update.exe crashed (exception 0xC0000005) after writing the payload at %s: "
                             "send its log to the developers" % stamp(start + 3))
    machine("PC-UNRECOGNISED", 1, steps()[:5], reason=steps()[4], action="fix", meaning="update failed",
            cause="Failed after reading the share with no record that says why")
    machine("PC-UNDO", 0, ["元に戻す ."], action="none", meaning="undone", cause="Undone")
    machine("PC-UNDO-NONE", 3, ["元に戻す .", "元に戻す更新はありません ."], action="none",
            meaning="nothing to undo", cause="Nothing to undo: never updated, or undone before")
    machine("PC-SAMPLE", 0, steps(), action="none", meaning="updated", sample=True,
            cause="Updated by a sample build of Update.exe, not a release")
    machine("PC-NOLOG", 1, action="fix", meaning="update failed",
            cause="Ended with 1 (update failed) without writing PC-NOLOG.log: "
                  "check that the machines may write to the logs folder")
    machine("PC-9009", 9009, action="fix", meaning="not started",
            cause="Update.exe could not be started (status 9009): check that it is beside "
                  "update-startup.cmd and that the machines may read it")

    # Multi-record failures: the record that names the cause wins.
    for i, (records, reason, action) in enumerate(FAILURES):
        machine("PC-F%02d" % i, 1, steps()[:3] + records, reason=reason or records[0], action=action,
                meaning="update failed", cause=None)
    # Each failure record alone, from the header's own texts.
    cases = {name: (texts[name] % values, action, cause) for name, (values, action, cause) in FAILING.items()}
    for what, verb in VERBS.items():
        cases[what] = (texts["LOG_FILE_FAILED"] % (F + "patchrun.bat", texts[what], DENIED), "fix",
                       "%spatchrun.bat could not be %s: access denied (error 5)" % (F, verb))
    for name, (text, action, cause) in cases.items():
        machine("H-" + name, 1, ["動作モード 2 .", text], reason=text, action=action, meaning="update failed",
                cause=cause)
    machine("PC-UNKNOWN", 1, ["謎の失敗 ."], reason="謎の失敗 .", action="fix", meaning="update failed",
            cause="Failed after a record this report does not know: \"謎の失敗 .\"")
    # The banner's text inside a record is no start.
    machine("PC-FAKE", 1, ["コマンドライン /x " + BANNER + " ."] + FAILURES[0][0], reason=FAILURES[0][0][0],
            action="retry", meaning="update failed", cause=None)
    machine("PC-BADRESULT", None, steps(), closed=0)
    write(os.path.join(logs, "PC-BADRESULT.result"), b"2024/11/05  9:05:07.12 ECHO is off.\r\n",
          T0 + 86400)
    expect["PC-BADRESULT"] = ["unreadable", "unreadable result file", expect["PC-BADRESULT"][2],
                              "unreadable log", "fix", "The result file holds no exit status"]
    machine("PC-JUNK", 1, [])
    write(os.path.join(logs, "PC-JUNK.log"), bytes(range(256)) * 64)
    expect["PC-JUNK"] = ["1", "update failed", "", "unreadable log", "fix",
                         "PC-JUNK.log cannot be read or holds no run of Update.exe"]

    # Without a closing record: killed (the script records 0 all the same),
    # stopped long ago, stopped before a result, running now.
    interrupted = "Interrupted after %s at %s: the next start finishes it"
    start = machine("PC-KILLED", 0, steps()[:4], closed=None, reason=steps()[3], action="retry",
                    meaning="interrupted")
    expect["PC-KILLED"][5] = interrupted % ("starting to unpack into " + FEATURE, stamp(start + 4))
    start = machine("PC-STOPPED", None, steps()[:4], closed=None, reason=steps()[3], action="retry",
                    meaning="interrupted")
    with open(os.path.join(logs, "PC-STOPPED.log"), "ab") as f:
        # The last record not even ended.
        f.write(record(start + 9, "展開先フォルダ C:\\WU .")[:-2])
    os.utime(os.path.join(logs, "PC-STOPPED.log"), (start + 30, start + 30))
    expect["PC-STOPPED"][0] = "no result"
    expect["PC-STOPPED"][3] = "展開先フォルダ C:\\WU ."
    expect["PC-STOPPED"][5] = interrupted % ("starting to unpack into C:\\WU", stamp(start + 9))
    # The result of the run before: the last one has not ended.
    start = machine("PC-STALE", 1, steps()[:2], closed=None, reason=steps()[1], action="retry",
                    meaning="interrupted")
    result(logs, "PC-STALE", 1, start - 3600)
    expect["PC-STALE"][0] = "no result"
    expect["PC-STALE"][5] = interrupted % ("writing the payload to C:\\WINDOWS\\TEMP\\Update.tmp", stamp(start + 2))
    now = int(time.time())
    machine("PC-RUNNING", None, steps()[:2], closed=None, at=now - 40, reason=steps()[1], action="wait",
            meaning="running",
            cause="Running since %s; its last record is from %s" % (stamp(now - 40), stamp(now - 38)))
    os.utime(os.path.join(logs, "PC-RUNNING.log"), (now, now))
    expect["PC-RUNNING"][0] = "no result"

    # Rotated while the last run wrote: its start is in the .BAK.
    start = machine("PC-ROTATED", 1, None, reason=FAILURES[1][0][0], action="fix", meaning="update failed",
                    cause="Disk C: has 812 KB free, 5120 KB needed")
    older = run(start - 86400, steps()[:2] + FAILURES[0][0], 1)
    write(os.path.join(logs, "PC-ROTATED.log.BAK"), older + run(start, steps()[:2]))
    write(os.path.join(logs, "PC-ROTATED.log"),
          b"".join(record(start + 5 + i, t) for i, t in enumerate(FAILURES[1][0] + ["終了コード 1 ."])),
          start + 30)
    expect["PC-ROTATED"][2] = stamp(start)
    # Its whole last run in the log: the failure in the .BAK is an older run's.
    machine("PC-ROTATED-OLD", 0, steps(), action="none", meaning="updated", cause="Updated")
    write(os.path.join(logs, "PC-ROTATED-OLD.log.BAK"), run(T0 - 86400, FAILURES[0][0], 1))

    # Planted: gigabytes (sparse) before a run, and gigabytes with none.
    start = machine("PC-HUGE", 0, None, action="none", meaning="updated", cause="Updated")
    with open(os.path.join(logs, "PC-HUGE.log"), "wb") as f:
        f.seek(5 * GIB)
        f.write(run(start, steps(), 0))
    os.utime(os.path.join(logs, "PC-HUGE.log"), (start + 30, start + 30))
    expect["PC-HUGE"][2] = stamp(start)
    machine("PC-PLANTED", 0, None, reason="unreadable log", action="fix", meaning="updated",
            cause="PC-PLANTED.log cannot be read or holds no run of Update.exe")
    with open(os.path.join(logs, "PC-PLANTED.log"), "wb") as f:
        f.truncate(5 * GIB)

    # Names and texts that must stay text in a page and in a cell.
    usage = "Update.exe refused the argument \"\"<b>x</b>\",&amp;\": correct the command line"
    start = machine(HOSTILE[0], 64, [HOSTILE_RECORD], reason=HOSTILE_RECORD, action="fix",
                    meaning="usage error", cause=usage)
    hostile(logs, start)
    for name in HOSTILE:
        expect[name] = expect[HOSTILE[0]]
    # A spreadsheet runs a cell that starts with any of = + - @.
    for lead in "+-@":
        text = lead + "cmd|' /C calc'!A0 ."
        machine(lead + "PC", 1, steps()[:5] + [text], reason=text, action="fix", meaning="update failed",
                cause='Failed after a record this report does not know: "%s"' % text)
    # Names outside code page 932 stay apart; letter case makes no machine.
    machine("한", 1, ["動作モード 2 .", "更新不可 %spatchjob.ini : UTF-8 の設定ファイルは書き換えられません ." % F],
            reason="更新不可 %spatchjob.ini : UTF-8 の設定ファイルは書き換えられません ." % F, action="fix",
            meaning="update failed", cause=FAILING["LOG_CANNOT_UPDATE_UTF8"][2])
    machine("글", 0, steps(), action="none", meaning="updated", cause="Updated")
    machine("pc-mixed", None, steps(), closed=0, action="none", meaning="updated", cause="Updated")
    result(logs, "PC-MIXED", 0, T0 + 86400)
    expect["pc-mixed"][0] = "0"
    # On the list of targets only.
    for name in ("PC-NEVER", "総務PC"):
        expect[name] = ["not reported", "not reported", "", "", "wait",
                        "Never reported: no log or result file yet"]
    write(os.path.join(logs, "readme.txt"), b"not a machine")
    return expect


def main():
    wine_run, exe, work, logtexts = map(os.path.abspath, sys.argv[1:5])
    shutil.rmtree(work, ignore_errors=True)
    # A folder made for the report, whose name ends in a trail byte 0x5C.
    logs, out = os.path.join(work, "logs"), os.path.join(work, "out", "表")
    os.makedirs(logs)
    texts = header_texts(logtexts)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAIL:", what)

    known = set(FAILING) | set(VERBS) | NOT_FAILING
    check(set(texts) == known, "LogTexts.h and this test disagree on %s" % sorted(set(texts) ^ known))
    expect = cases(logs, texts)
    # The targets in UTF-16, as Notepad saves "Unicode".
    targets = os.path.join(work, "machines.txt")
    write(targets, "\ufeff# targets\r\n\r\n  pc-ok \r\nPC-NEVER\r\n総務PC\r\n".encode("utf-16-le"))

    def report(*args, cwd=None):
        p = subprocess.run([wine_run, exe] + list(args), capture_output=True, timeout=300, cwd=cwd)
        return p.returncode, p.stdout.decode("cp932", "replace"), p.stderr.decode("cp932", "replace")

    # Planted where the report goes: links under the work files' first names
    # and under the report's own name. Neither target may change.
    os.makedirs(out)
    victim = os.path.join(work, "victim.txt")
    write(victim, b"precious")
    for name in ("report.csv.partial", "report.html.partial", "report.html"):
        os.symlink(victim, os.path.join(out, name))
    status, stdout, stderr = report(windows(logs), "--out", windows(out), "--machines", windows(targets))
    check(status == 0, "exit status %d: %s" % (status, stderr))
    check(open(victim, "rb").read() == b"precious", "a planted link was written through")
    check(not os.path.islink(os.path.join(out, "report.html")), "report.html is still the planted link")
    raw = open(os.path.join(out, "report.csv"), "rb").read()
    check(raw.startswith(b"\xef\xbb\xbf"), "report.csv has no byte-order mark")
    rows = parse_csv(raw[3:].decode("utf-8"))
    check(rows[0] == ["machine", "status", "meaning", "last_run", "reason", "action", "cause"],
          "header %r" % rows[0])
    rows = rows[1:]
    order = ["fix", "retry", "wait", "skip", "none"]
    check([r[5] for r in rows] == sorted((r[5] for r in rows), key=order.index), "rows not sorted by action")
    got = {r[0].lstrip("'").upper(): r for r in rows}
    check(len(rows) == len(expect), "%d rows for %d machines" % (len(rows), len(expect)))
    for name, want in expect.items():
        row = got.get(name.upper())
        if row is None:
            check(False, "no row for %r" % name)
            continue
        want = [("'" + w if i in (3, 5) and w and w[0] in "=+-@" else w) for i, w in enumerate(want)]
        # A cause of None: checked by the header's cases; any but the unknown.
        if want[5] is None:
            want[5] = row[6] if "does not know" not in row[6] else "a known cause"
        check(row[1:] == want, "%r:\n   got %r\n  want %r" % (name, row[1:], want))
    for name in ['=HYPERLINK("x")', "+PC", "-PC", "@PC"]:
        check(got[name.upper()][0] == "'" + name, "a name that Excel would run is not made text: %r" % name)
    counts = {a: sum(1 for r in rows if r[5] == a) for a in order}
    check(("summary: total=%d none=%d wait=%d retry=%d fix=%d skip=%d" %
           (len(rows), counts["none"], counts["wait"], counts["retry"], counts["fix"], counts["skip"]))
          in stdout.splitlines(), "summary line %r" % stdout)
    page = open(os.path.join(out, "report.html"), "rb").read().decode("utf-8")
    check("&lt;script&gt;alert(1)&lt;" in page and "<script" not in page and
          "a&quot;b" in page and "&lt;b&gt;x&lt;/b&gt;&quot;,&amp;amp;" in page and "<b>" not in page,
          "names or texts not escaped in report.html")
    check('href="../../logs/%ED%95%9C.log"' in page and 'href="../../logs/PC-OK.log"' in page,
          "no relative links to the logs")
    check(sorted(f for f in os.listdir(out) if f.endswith(".partial")) ==
          ["report.csv.partial", "report.html.partial"], "a work file is left, or a planted one gone")

    # By default into the current folder, not into LOGS; a log silent for
    # longer than --stale-after is stopped.
    here = os.path.join(work, "here")
    os.makedirs(here)
    os.utime(os.path.join(logs, "PC-RUNNING.log"), (time.time() - 600, time.time() - 600))
    status, stdout, stderr = report(windows(logs), "--stale-after", "5m", cwd=here)
    check(status == 0 and os.path.exists(os.path.join(here, "report.html")) and
          not os.path.exists(os.path.join(logs, "report.csv")), "the report did not go to the current folder")
    rows = parse_csv(open(os.path.join(here, "report.csv"), "rb").read()[3:].decode("utf-8"))
    running = [r for r in rows if r[0] == "PC-RUNNING"]
    check(running and running[0][5:] == ["retry", "Interrupted after writing the payload to "
                                         "C:\\WINDOWS\\TEMP\\Update.tmp at %s: the next start finishes it"
                                         % expect["PC-RUNNING"][5][-19:]],
          "a log older than --stale-after is not interrupted: %r" % running)

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
        ([windows(logs), "--out"], 64, "a value is missing after --out"),
        ([windows(logs), "--stale-after", "5"], 64, "--stale-after wants"),
        ([windows(logs), "--machines", windows(os.path.join(work, "none.txt"))], 66, "list of machines"),
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
