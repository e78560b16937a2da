#!/usr/bin/env python3
"""Writes a logs folder as update-startup.cmd leaves it after a rollout:
NAME.log (Update.exe's log, code page 932, records ending in CR LF), its
older generation NAME.log.BAK and NAME.result ("%DATE% %TIME% %STATUS%").

    make_logs.py DIR [--machines N] [--seed S]

makes a rollout of N machines with every status and prints the count of each
on stdout; the tests use its functions for cases of their own."""

import argparse
import os
import random
import sys
import time

BANNER = "====================【開始】====================."
SERVER = "\\\\FS01\\TALMEROWU$"
FEATURE = "C:\\Program Files (x86)\\TALMERO\\WU"

# Update.exe's failure records, one case per form, each with the reason a
# report gives for it.
COPY_FAILED = "%s\\TlxLib.dll コピー失敗 : ディスクに空き領域がありません。 (112) ." % FEATURE
WRITE_FAILED = "%s\\PatchSvc.ini 書き込み失敗 : アクセスが拒否されました。 (5) ." % FEATURE
FAILURES = [
    (["更新不可 %s\\patchjob.ini : 別のプロセスが使用中です。 (32) ." % FEATURE], None),
    (["空き容量不足 %s : 必要 5120 KB, 空き 812 KB ." % FEATURE], None),
    ([WRITE_FAILED], None),
    ([COPY_FAILED, "ファイルコピー失敗."], COPY_FAILED),
    (["展開に失敗 -2 .", "%s\\PatchHub.exe 展開失敗." % FEATURE],
     "展開に失敗 -2 . %s\\PatchHub.exe 展開失敗." % FEATURE),
    (["救済措置失敗.", "サーバ救済措置失敗."], "サーバ救済措置失敗."),
    # A server goes on after the first rescue failed.
    (["救済措置失敗.", "サーバ FS02 .", WRITE_FAILED], WRITE_FAILED),
    (["%s\\WSUS.txt 生成失敗." % FEATURE], None),
    (["ファイル生成失敗."], None),
    (["パス生成失敗 patchcliXP.bat ."], None),
    (["共有パス生成失敗 %s ." % ("S" * 40)], None),
    # The forms that name the system's reason.
    (["ファイル生成失敗 C:\\WINDOWS\\TEMP\\Update.tmp : アクセスが拒否されました。 (5) ."], None),
    (["展開に失敗 -1 .", "%s\\PatchHub.exe 展開失敗 : アクセスが拒否されました。 (5) ." % FEATURE],
     "展開に失敗 -1 . %s\\PatchHub.exe 展開失敗 : アクセスが拒否されました。 (5) ." % FEATURE),
    (["展開に失敗 -9 .", "ペイロードに WSUS.txt がありません ."],
     "展開に失敗 -9 . ペイロードに WSUS.txt がありません ."),
    (["%s\\patchjob.vbe 名前変更失敗 : アクセスが拒否されました。 (5) ." % FEATURE], None),
    (["%s\\patchrun.bat.upd~ 削除失敗 : アクセスが拒否されました。 (5) ." % FEATURE], None),
    (["%s\\patchrun.bat 生成失敗 : ディスクに空き領域がありません。 (112) ." % FEATURE], None),
    (["救済措置失敗.", "サーバ救済措置失敗 : ネットワーク サブシステムが使用できません。 (10091) ."],
     "サーバ救済措置失敗 : ネットワーク サブシステムが使用できません。 (10091) ."),
    (["TLX共有フォルダ \\\\srv01&echo\\TALMEROWU$ .",
      "サーバ名不正 srv01&echo : 英数字と - . _ 以外は使えません ."],
     "サーバ名不正 srv01&echo : 英数字と - . _ 以外は使えません ."),
]


# Update.exe's exit statuses as its README gives them, and the report's own.
MEANINGS = {"0": "updated", "1": "update failed", "2": "not recognised", "3": "already updated",
            "4": "cancelled", "5": "another update running", "64": "usage error",
            "-1073741819": "ended abnormally (0xC0000005)"}
NO_RESULT = "no result (still running or stopped)"
# Names a page or a spreadsheet must show as text (Wine lists such files;
# Windows opens them by their short names).
HOSTILE = ["<script>alert(1)<", 'a"b', "x,y", '=HYPERLINK("x")']
HOSTILE_RECORD = '不明な引数 "<b>x</b>",&amp; .'


def stamp(seconds):
    return time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(seconds))


def record(seconds, text, source="General.cpp", line=120):
    """One record as Update.exe's log writes it, in code page 932."""
    return ("[%s] %s %d 1a4 : %s\r\n" % (stamp(seconds), source, line, text)).encode("cp932")


def run(start, texts, source="General.cpp"):
    """A run's records from its start banner on, a second apart."""
    data = record(start, BANNER, "Update.cpp", 120)
    data += record(start, "コマンドライン /quiet /log=\\\\FS01\\deploy\\logs\\PC.log .", "Update.cpp", 158)
    for i, text in enumerate(texts):
        data += record(start + 1 + i, text, source, 200 + i)
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
        write(os.path.join(folder, name + ".log"), run(start, [HOSTILE_RECORD]), start + 1)
        result(folder, name, 64, start + 2)


def rollout(folder, machines, seed=1):
    """A rollout of that many machines with every status in it; returns
    {status text: count}."""
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    counts = {}
    day = time.mktime((2024, 11, 5, 8, 0, 0, 0, 0, -1))
    for i in range(machines):
        name = "PC%04d" % (i + 1) if i % 50 else "経理PC%02d" % (i // 50)
        start = day + i * 37
        log = os.path.join(folder, name + ".log")
        roll = rng.random()
        if roll < 0.60:
            status = "0"
            write(log, run(start, steps()), start + 20)
            result(folder, name, 0, start + 25)
        elif roll < 0.75:
            # Updated at an earlier start; the status query of this one.
            status = "3"
            write(log, run(start - 86400, steps()), start - 86400 + 20)
            result(folder, name, 3, start + 5)
        elif roll < 0.85:
            status = "1"
            texts = rng.choice(FAILURES)[0]
            older = b"".join(run(start - 86400 * d, steps()) for d in range(30, 0, -1))
            if rng.random() < 0.5:
                # The run began before its log was rotated.
                write(log + ".BAK", older + run(start, steps()[:3]), start + 4)
                write(log, b"".join(record(start + 5 + j, t) for j, t in enumerate(steps()[3:] + texts)), start + 20)
            else:
                write(log + ".BAK", older, start - 86400)
                write(log, run(start, steps()[:4] + texts), start + 20)
            result(folder, name, 1, start + 25)
        elif roll < 0.90:
            status = "2"
            result(folder, name, 2, start + 3)
        elif roll < 0.93:
            status = "5"
            write(log, run(start, ["他の更新が実行中のため終了."]), start + 2)
            result(folder, name, 5, start + 3)
        elif roll < 0.95:
            status = "64"
            write(log, run(start, ["不明な引数 /quite ."]), start + 1)
            result(folder, name, 64, start + 2)
        elif roll < 0.98:
            status = "no result"
            write(log, run(start, steps()[:5]), start + 6)
        else:
            status = "-1073741819"
            write(log, run(start, steps()[:6]), start + 7)
            result(folder, name, -1073741819, start + 8)
        counts[status] = counts.get(status, 0) + 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--machines", type=int, default=500)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    counts = rollout(args.folder, args.machines, args.seed)
    for status, count in sorted(counts.items()):
        print("%s\t%d" % (status, count))


if __name__ == "__main__":
    sys.exit(main())
