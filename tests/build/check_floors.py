#!/usr/bin/env python3
"""Fails on an include of the program that goes up a floor or round in a
circle. Each floor is a folder of Update/ and may include its own headers
and those of the floors below it; the tools may include support and pack.
A header found nowhere in the program is the platform's or a library's.

    tests/build/check_floors.py SOURCE_DIR
"""
import os
import re
import sys

BELOW = {
    "support": [],
    "pack": ["support"],
    "procedure": ["pack", "support"],
    "ui": ["support"],
    "program": ["res", "ui", "procedure", "pack", "support"],
}
TOOL_FLOORS = ["pack", "support"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def headers(folder):
    return {n for n in os.listdir(folder) if n.endswith(".h")}


def main(root):
    update = os.path.join(root, "Update")
    owner = {}  # header name -> floor
    for floor in list(BELOW) + ["res"]:
        for name in headers(os.path.join(update, floor)):
            if name in owner:
                print("%s: %s is in both %s and %s" % (name, name, owner[name], floor))
                return 1
            owner[name] = floor
    sources = []
    for floor in BELOW:
        folder = os.path.join(update, floor)
        sources += [(os.path.join(folder, n), floor, [floor] + BELOW[floor])
                    for n in sorted(os.listdir(folder)) if n.endswith((".h", ".cpp", ".c"))]
    tools = os.path.join(root, "tools")
    for tool in sorted(os.listdir(tools)):
        folder = os.path.join(tools, tool)
        if os.path.isdir(folder):
            sources += [(os.path.join(folder, n), None, TOOL_FLOORS)
                        for n in sorted(os.listdir(folder)) if n.endswith((".h", ".cpp", ".c"))]
    problems = []
    graph = {}
    for path, floor, allowed in sources:
        text = open(path, encoding="utf-8").read()
        folder = os.path.dirname(path)
        edges = []
        for name in INCLUDE.findall(text):
            if "/" in name or "\\" in name:
                problems.append("%s: includes %s by a path" % (path, name))
                continue
            if os.path.exists(os.path.join(folder, name)):
                if floor is not None:
                    edges.append(name)
                continue
            where = owner.get(name)
            if where is not None and where not in allowed:
                problems.append("%s: includes %s of the floor %s" % (path, name, where))
            elif where is not None:
                edges.append(name)
        if floor is not None and path.endswith(".h"):
            graph[os.path.basename(path)] = edges
    # A circle among the program's headers.
    state = {}

    def visit(name, trail):
        if state.get(name) == 1:
            cycle = trail[trail.index(name):] + [name]
            problems.append("include circle: " + " -> ".join(cycle))
            return
        if state.get(name) == 2:
            return
        state[name] = 1
        for nxt in graph.get(name, []):
            visit(nxt, trail + [name])
        state[name] = 2

    for name in sorted(graph):
        visit(name, [])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
