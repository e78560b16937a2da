#!/usr/bin/env python3
"""Update/support/LogTexts.h against the program's sources: every text it holds is
written by a log statement of Update/ (as that literal, or through the
macro's name), and every text a log statement writes is held there, so that
UpdateReport, which reads the header, knows each record the program writes.
The log statements are WRITE_LOG(format, ...) and LogFailure(file, what).

    logtexts_test.py SOURCE_DIR"""

import glob
import os
import re
import sys

TOKENS = re.compile(r'"(?:[^"\\\n]|\\.)*"|//[^\n]*|/\*.*?\*/|[A-Za-z_]\w*|\S', re.S)


def tokens(text):
    return [t for t in TOKENS.findall(text) if not t.startswith(("//", "/*"))]


def argument(toks):
    """One argument's tokens: joined adjacent literals, or a name."""
    if toks and all(t.startswith('"') for t in toks):
        return ("text", "".join(t[1:-1] for t in toks))
    if len(toks) == 1 and re.match(r"[A-Za-z_]\w*$", toks[0]):
        return ("name", toks[0])
    return ("other", " ".join(toks))


def calls(toks, name):
    """The arguments of each call of name(...), as argument() gives them."""
    for i, t in enumerate(toks):
        if t != name or i + 1 >= len(toks) or toks[i + 1] != "(":
            continue
        args, current, depth = [], [], 0
        for t in toks[i + 2:]:
            if t in "([{":
                depth += 1
            elif t in ")]}" and depth == 0:
                break
            elif t in ")]}":
                depth -= 1
            if t == "," and depth == 0:
                args.append(argument(current))
                current = []
            else:
                current.append(t)
        yield args + [argument(current)]


def main():
    source = sys.argv[1]
    header = open(os.path.join(source, "Update", "support", "LogTexts.h"), encoding="utf-8").read()
    held = {m.group(1): "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(2)))
            for m in re.finditer(r'^#define (LOG_\w+) ((?:"(?:[^"\\]|\\.)*"\s*)+)$', header, re.M)}
    written = []  # (file, kind, value)
    files = sorted(glob.glob(os.path.join(source, "Update", "**", "*.cpp"), recursive=True))
    for path in files:
        toks = tokens(open(path, encoding="utf-8").read())
        where = os.path.relpath(path, source)
        for args in calls(toks, "WRITE_LOG"):
            written.append((where,) + args[0])
        for args in calls(toks, "LogFailure"):
            # The function's own definition names its parameter.
            if len(args) == 2 and args[1][0] != "other":
                written.append((where,) + args[1])
    failures = []
    if len(held) < 30 or len(written) < 30:
        failures.append("read %d texts in the header and %d log statements" % (len(held), len(written)))
    texts = {value for _, kind, value in written if kind == "text"}
    names = {value for _, kind, value in written if kind == "name"}
    for name, text in sorted(held.items()):
        if text not in texts and name not in names:
            failures.append("%s %r is written by no log statement" % (name, text))
    for where, kind, value in written:
        if kind == "text" and value not in held.values():
            failures.append("%s writes %r, which LogTexts.h does not hold" % (where, value))
        elif kind == "name" and value not in held:
            failures.append("%s writes %s, which LogTexts.h does not define" % (where, value))
        elif kind == "other":
            failures.append("%s writes a record whose text is no literal: %s" % (where, value))
    for f in failures:
        print("FAIL:", f)
    print("%d texts held, %d log statements: %s" % (len(held), len(written),
                                                     "FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
