#!/usr/bin/env python3
"""report.html in a real browser, for rollouts of 10 and 5,000 machines:
headless Chromium lays the page out at a wide and a narrow window, and a
script added to a copy of it reads back what a reader sees: every count of
the bar whole inside its segment, one colour per action, the causes grouped
with their counts, a working link to each log, the start of each run, the
sample builds marked and the hostile names shown as text. Screenshots stay in
WORK_DIR (report-10.png, report-10-narrow.png, report-5000.png).
Where Chromium is missing or cannot run, the test says so and is skipped
(77).

    browser_test.py WINE_RUN UPDATEREPORT_EXE WORK_DIR"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from urllib.parse import unquote

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_logs import ACTIONS, HOSTILE, SAMPLE, hostile, rollout  # noqa: E402

SKIP = 77

# Reads the laid-out page into a <pre id="seen"> as JSON.
PROBE = """<script type="text/javascript">
var seen = {bar: [], tags: {}, groups: [], links: [], untimed: 0, sample: [], text: document.body.innerText};
var cells = document.querySelectorAll("table.bar td");
for (var i = 0; i < cells.length; i++) {
  var td = cells[i], range = document.createRange();
  range.selectNodeContents(td);
  var box = td.getBoundingClientRect(), text = range.getBoundingClientRect();
  seen.bar.push({action: td.className, text: td.textContent, colour: getComputedStyle(td).backgroundColor,
                 whole: td.scrollWidth <= td.clientWidth && text.left >= box.left && text.right <= box.right});
}
var tags = document.querySelectorAll("span.tag");
for (var i = 0; i < tags.length; i++) seen.tags[tags[i].textContent] = getComputedStyle(tags[i]).backgroundColor;
var heads = document.querySelectorAll("h2[id]");
for (var i = 0; i < heads.length; i++) {
  var table = heads[i].nextElementSibling, rows = table.querySelectorAll("tr");
  seen.groups.push({heading: heads[i].textContent, rows: rows.length - 1});
  for (var j = 1; j < rows.length; j++) {
    var link = rows[j].cells[0].querySelector("a");
    if (!link) continue;
    seen.links.push(link.getAttribute("href"));
    if (!/^\\d{4}\\/\\d\\d\\/\\d\\d \\d\\d:\\d\\d:\\d\\d$/.test(rows[j].cells[4].textContent)) seen.untimed++;
    if (rows[j].cells[0].querySelector("span.sample")) seen.sample.push(link.textContent);
  }
}
var pre = document.createElement("pre");
pre.id = "seen";
pre.textContent = JSON.stringify(seen);
document.body.appendChild(pre);
</script>
"""


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
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile] + list(args) +
            ["file://" + page], capture_output=True, timeout=240, env=env)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def laid_out(page, width):
    """What the probe reads from a copy of the page at that window width."""
    probe = page.replace(".html", "-probe.html")
    with open(page, encoding="utf-8") as f:
        text = f.read()
    with open(probe, "w", encoding="utf-8") as f:
        f.write(text.replace("</body>", PROBE + "</body>"))
    dumped = chromium(probe, "--window-size=%d,900" % width, "--dump-dom")
    os.remove(probe)
    found = re.search(r'<pre id="seen">(.*?)</pre>', dumped.stdout.decode("utf-8", "replace"), re.S)
    if dumped.returncode != 0 or not found:
        skip("chromium cannot run here (status %d): %s" % (
            dumped.returncode, dumped.stderr.decode("utf-8", "replace").strip()[-500:]))
    return json.loads(found.group(1).replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&"))


def check_page(folder, counts, samples, failures):
    """The checks of the laid-out page, at two widths; the text it shows."""
    page = os.path.join(folder, "report.html")
    for width in (480, 1280):
        seen = laid_out(page, width)
        where = "%s at %d px" % (os.path.basename(folder), width)
        shown = {c["action"]: int(c["text"]) for c in seen["bar"]}
        want = {a: n for a, n in counts.items() if n}
        if shown != want:
            failures.append("%s: the bar shows %r, not %r" % (where, shown, want))
        for c in seen["bar"]:
            if not c["whole"]:
                failures.append("%s: the count %s of %s is cut" % (where, c["text"], c["action"]))
            if seen["tags"].get(c["action"]) != c["colour"]:
                failures.append("%s: %s has two colours" % (where, c["action"]))
        colours = [seen["tags"][a] for a in ACTIONS if a in seen["tags"]]
        if len(set(colours)) != len(colours) or len(colours) != len(ACTIONS):
            failures.append("%s: the actions' colours are not five different ones: %r" % (where, colours))
        per_action = dict.fromkeys(ACTIONS, 0)
        for g in seen["groups"]:
            action, title, n = re.match(r"(\w+) (.*): (\d+)$", g["heading"]).groups()
            per_action[action] += int(n)
            if int(n) != g["rows"]:
                failures.append("%s: %r heads %d rows" % (where, g["heading"], g["rows"]))
        if per_action != counts:
            failures.append("%s: the groups count %r, not %r" % (where, per_action, counts))
        order = [ACTIONS.index(g["heading"].split()[0]) for g in seen["groups"]]
        if order != sorted(order, key=lambda a: ["fix", "retry", "wait", "skip", "none"].index(ACTIONS[a])):
            failures.append("%s: failures are not grouped first" % where)
        broken = [h for h in seen["links"]
                  if not os.path.isfile(os.path.join(folder, unquote(h)))]
        if broken or not seen["links"]:
            failures.append("%s: %d links, these lead nowhere: %r" % (where, len(seen["links"]), broken[:5]))
        if seen["untimed"]:
            failures.append("%s: %d runs without their time" % (where, seen["untimed"]))
        if sorted(seen["sample"]) != sorted(samples):
            failures.append("%s: sample builds marked %r, not %r" % (where, seen["sample"], samples))
    return seen["text"]


def main():
    wine_run, exe, work = sys.argv[1:4]
    if shutil.which("chromium") is None:
        skip("chromium is not installed (make setup installs it)")
    shutil.rmtree(work, ignore_errors=True)
    failures = []
    for machines in (10, 5000):
        folder = os.path.join(work, "rollout-%d" % machines)
        logs = os.path.join(folder, "logs")
        counts, targets = rollout(logs, machines, seed=7)
        if machines == 10:
            hostile(logs, time.mktime((2024, 11, 6, 8, 0, 0, 0, 0, -1)))
            counts["fix"] += len(HOSTILE)
        samples = [n[:-4] for n in os.listdir(logs)
                   if n.endswith(".log") and SAMPLE.encode("cp932") in open(os.path.join(logs, n), "rb").read()]
        page_folder = os.path.join(folder, "report")
        p = subprocess.run([wine_run, exe, "Z:" + os.path.abspath(logs).replace("/", "\\"),
                            "--machines", "Z:" + targets.replace("/", "\\"),
                            "--out", "Z:" + os.path.abspath(page_folder).replace("/", "\\")],
                           capture_output=True, timeout=300)
        if p.returncode != 0:
            print("FAIL: UpdateReport exited %d: %s" % (p.returncode, p.stderr.decode("cp932", "replace")))
            return 1
        shown = check_page(page_folder, counts, samples, failures)
        page = os.path.join(os.path.abspath(page_folder), "report.html")
        shots = [("report-%d.png" % machines, 1280)] + ([("report-10-narrow.png", 480)] if machines == 10 else [])
        for name, width in shots:
            shot = os.path.join(work, name)
            taken = chromium(page, "--window-size=%d,1000" % width, "--screenshot=" + shot)
            if taken.returncode != 0 or not os.path.exists(shot) or os.path.getsize(shot) < 10000:
                failures.append("no screenshot: %s" % taken.stderr.decode("utf-8", "replace")[-500:])
            else:
                print("screenshot: %s" % shot)
        if machines == 10:
            for name in HOSTILE + ["<b>x</b>"]:
                if name not in shown:
                    failures.append("the page does not show %r as text" % name)
    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
