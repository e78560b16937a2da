#!/usr/bin/env python3
"""Writes a logs folder as update-startup.cmd leaves it after a rollout:
NAME.log (Update.exe's log, code page 932, records ending in CR LF, each run
closed by its exit status), its older generation NAME.log.BAK and
NAME.result ("%DATE% %TIME% %STATUS%"), and machines.txt beside the folder,
the list of targets.

    make_logs.py DIR [--machines N] [--seed S]

makes a rollout of N machines with every action in it and prints the count
of each on stdout; the tests use its functions for cases of their own."""

import argparse
import os
import random
import sys
import time

BANNER = "====================【開始】====================."
SAMPLE = "サンプルペイロード版 ."
SERVER = "\\\\FS01\\TALMEROWU$"
FEATURE = "C:\\Program Files (x86)\\TALMERO\\WU"
ACTIONS = ["none", "wait", "retry", "fix", "skip"]

# Update.exe's failure records, one case per form: the records, the reason a
# report gives for them, and the action.
COPY_FAILED = "%s\\TlxLib.dll コピー失敗 : ディスクに空き領域がありません。 (112) ." % FEATURE
WRITE_FAILED = "%s\\PatchSvc.ini 書き込み失敗 : アクセスが拒否されました。 (5) ." % FEATURE
FAILURES = [
    (["更新不可 %s\\patchjob.ini : 別のプロセスが使用中です。 (32) ." % FEATURE], None, "retry"),
    (["空き容量不足 %s : 必要 5120 KB, 空き 812 KB ." % FEATURE], None, "fix"),
    ([WRITE_FAILED], None, "fix"),
    ([COPY_FAILED, "ファイルコピー失敗."], COPY_FAILED, "fix"),
    (["展開に失敗 -2 .", "%s\\PatchHub.exe 展開失敗." % FEATURE],
     "展開に失敗 -2 . %s\\PatchHub.exe 展開失敗." % FEATURE, "fix"),
    (["TLX共有フォルダ  .", "救済措置失敗."], "救済措置失敗.", "fix"),
    # A server goes on after the first rescue failed.
    (["救済措置失敗.", "サーバ FS02 .", WRITE_FAILED], WRITE_FAILED, "fix"),
    (["%s\\WSUS.txt 生成失敗 : アクセスが拒否されました。 (5) ." % FEATURE], None, "fix"),
    (["パス生成失敗 patchcliXP.bat ."], None, "fix"),
    (["共有パス生成失敗 %s ." % ("S" * 40)], None, "fix"),
    (["ファイル生成失敗 C:\\WINDOWS\\TEMP\\Update.tmp : アクセスが拒否されました。 (5) ."], None, "fix"),
    (["展開に失敗 -1 .", "%s\\PatchHub.exe 展開失敗 : 別のプロセスが使用中です。 (32) ." % FEATURE],
     "展開に失敗 -1 . %s\\PatchHub.exe 展開失敗 : 別のプロセスが使用中です。 (32) ." % FEATURE, "retry"),
    (["展開に失敗 -9 .", "ペイロードに WSUS.txt がありません ."],
     "展開に失敗 -9 . ペイロードに WSUS.txt がありません .", "fix"),
    (["%s\\patchjob.vbe 名前変更失敗 : アクセスが拒否されました。 (5) ." % FEATURE], None, "fix"),
    (["%s\\patchrun.bat.upd~ 削除失敗 : 別のプロセスが使用中です。 (32) ." % FEATURE], None, "retry"),
    (["%s\\patchrun.bat 生成失敗 : ディスクに空き領域がありません。 (112) ." % FEATURE], None, "fix"),
    (["救済措置失敗.", "サーバ救済措置失敗 : ネットワーク サブシステムが使用できません。 (10091) ."],
     "サーバ救済措置失敗 : ネットワーク サブシステムが使用できません。 (10091) .", "fix"),
    (["TLX共有フォルダ \\\\srv01&echo\\TALMEROWU$ .",
      "サーバ名不正 srv01&echo : 英数字と - . _ 以外は使えません ."],
     "サーバ名不正 srv01&echo : 英数字と - . _ 以外は使えません .", "fix"),
    (["更新不可 %s\\patchjob.ini : UTF-8 の設定ファイルは書き換えられません ." % FEATURE], None, "fix"),
]

# Names a page or a spreadsheet must show as text (Wine lists such files;
# Windows opens them by their short names).
HOSTILE = ["<script>alert(1)<", 'a"b', "x,y", '=HYPERLINK("x")']
HOSTILE_RECORD = '不明な引数 "<b>x</b>",&amp; .'


def stamp(seconds):
    return time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(seconds))


def record(seconds, text, source="General.cpp", line=120):
    """One record as Update.exe's log writes it, in code page 932."""
    return ("[%s] %s %d 1a4 : %s\r\n" % (stamp(seconds), source, line, text)).encode("cp932")


def run(start, texts, status=None, sample=False):
    """A run's records from its start banner on, a second apart, closed by
    its exit status unless that is None (a run still going, or killed)."""
    data = record(start, BANNER, "Update.cpp", 120)
    if sample:
        data += record(start, SAMPLE, "Update.cpp", 122)
    data += record(start, "コマンドライン /quiet /log=\\\\FS01\\deploy\\logs\\PC.log .", "Update.cpp", 158)
    for i, text in enumerate(texts):
        data += record(start + 1 + i, text, source="General.cpp", line=200 + i)
    if status is not None:
        data += record(start + 1 + len(texts), "終了コード %d ." % status, "Update.cpp", 180)
    return data


def steps(mode=2):
    """The records of an update that goes well."""
    return ["動作モード %d ." % mode, "テンポラリ C:\\WINDOWS\\TEMP\\Update.tmp 生成.", "出力結果 1 .",
            "展開先フォルダ %s ." % FEATURE, "TLX共有フォルダ %s ." % SERVER, "サーバ FS01 .",
            "%s\\patchjob.ini の書き換え." % FEATURE,
            "旧値 SUS_SHARE=\\\\FS01\\SUS TLX_SHARE= WU_CMD=patchjob.vbe ."]


def write(path, data, mtime=None):
    with open(path, "wb") as f:
        f.write(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


def result(folder, name, status, written):
    """NAME.result as the script writes it, last written at time written."""
    line = time.strftime("%Y/%m/%d ", time.localtime(written)) + " 9:05:07.12 %s\r\n" % status
    write(os.path.join(folder, name + ".result"), line.encode("cp932"), written)


def hostile(folder, start):
    """A usage error on each machine of HOSTILE, with a record as hostile."""
    for name in HOSTILE:
        write(os.path.join(folder, name + ".log"), run(start, [HOSTILE_RECORD], 64), start + 1)
        result(folder, name, 64, start + 2)


def machine(folder, name, kind, start, rng):
    """Writes one machine's files for an outcome; returns its action."""
    log = os.path.join(folder, name + ".log")
    if kind in ("updated", "sample"):
        write(log, run(start, steps(), 0, sample=kind == "sample"), start + 20)
        result(folder, name, 0, start + 25)
        return "none"
    if kind == "already":
        # Updated at an earlier start; the status query of this one.
        write(log, run(start - 86400, steps(), 0), start - 86400 + 20)
        result(folder, name, 3, start + 5)
        return "none"
    if kind == "failed":
        texts, _, action = rng.choice(FAILURES)
        older = b"".join(run(start - 86400 * d, steps(), 0) for d in range(30, 0, -1))
        if rng.random() < 0.5:
            # The run began before its log was rotated.
            write(log + ".BAK", older + run(start, steps()[:3]), start + 4)
            later = steps()[3:] + texts + ["終了コード 1 ."]
            write(log, b"".join(record(start + 5 + j, t) for j, t in enumerate(later)), start + 20)
        else:
            write(log + ".BAK", older, start - 86400)
            write(log, run(start, steps()[:4] + texts, 1), start + 20)
        result(folder, name, 1, start + 25)
        return action
    if kind == "notrecognised":
        result(folder, name, 2, start + 3)
        return "skip"
    if kind == "busy":
        write(log, run(start, ["他の更新が実行中のため終了."], 5), start + 2)
        result(folder, name, 5, start + 3)
        return "wait"
    if kind == "usage":
        write(log, run(start, ["不明な引数 /quite ."], 64), start + 1)
        result(folder, name, 64, start + 2)
        return "fix"
    if kind == "killed":
        # Ended from outside: the script still records a status, 0 here.
        write(log, run(start, steps()[:5]), start + 6)
        result(folder, name, 0, start + 8)
        return "retry"
    if kind == "stopped":
        write(log, run(start, steps()[:5]), start + 6)
        return "retry"
    if kind == "running":
        now = time.time()
        write(log, run(now - 5, steps()[:3]), now)
        return "wait"
    if kind == "crashed":
        write(log, run(start, steps()[:6]), start + 7)
        result(folder, name, -1073741819, start + 8)
        return "fix"
    if kind == "notstarted":
        result(folder, name, 9009, start + 1)
        return "fix"
    assert kind == "unreported"
    return "wait"


# Outcomes of a rollout and their shares; the first machines take each in
# turn, so that a small rollout has every action.
MIX = [("updated", 0.56), ("failed", 0.12), ("killed", 0.02), ("busy", 0.02),
       ("notrecognised", 0.04), ("sample", 0.01), ("usage", 0.01), ("running", 0.01),
       ("already", 0.12), ("stopped", 0.02), ("crashed", 0.01), ("notstarted", 0.01),
       ("unreported", 0.05)]


def rollout(folder, machines, seed=1):
    """A rollout of that many machines with every action in it, and their
    list beside the folder (machines.txt); returns ({action: count}, list)."""
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    counts = dict.fromkeys(ACTIONS, 0)
    day = time.mktime((2024, 11, 5, 8, 0, 0, 0, 0, -1))
    names = []
    for i in range(machines):
        name = "PC%04d" % (i + 1) if i % 50 else "経理PC%02d" % (i // 50)
        roll, kind = rng.random(), MIX[-1][0]
        for k, share in MIX:
            if roll < share:
                kind = k
                break
            roll -= share
        if i < len(MIX):
            kind = MIX[i][0]
        counts[machine(folder, name, kind, day + i * 37, rng)] += 1
        names.append(name)
    listing = os.path.join(os.path.dirname(os.path.abspath(folder)), "machines.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("# the rollout's targets\n" + "\n".join(names) + "\n")
    return counts, listing


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--machines", type=int, default=500)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    counts, listing = rollout(args.folder, args.machines, args.seed)
    for action in ACTIONS:
        print("%s\t%d" % (action, counts[action]))
    print("targets\t%s" % listing)


if __name__ == "__main__":
    sys.exit(main())
