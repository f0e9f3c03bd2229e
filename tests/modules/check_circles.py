#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""No circle among the modules of src/: a module (a source file and its header, named
by its path under src/ without the extension) uses another when it includes that
module's header or calls a function (or reads a variable) the other's object defines.
Prints each circle found and exits 1; exits 0 when there is none.

usage: check_circles.py SRC_DIR OBJECT_FILE...   (each object is SRC/<module>.cpp's)"""
import os
import re
import subprocess
import sys

src = os.path.realpath(sys.argv[1])
objects = [o for arg in sys.argv[2:] for o in arg.split(";") if o]  # ctest passes lists whole
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def module_of(path):
    return os.path.splitext(os.path.relpath(os.path.realpath(path), src))[0]


uses = {}
for root, _, files in os.walk(src):
    for name in files:
        if not name.endswith((".cpp", ".h")):
            continue
        path = os.path.join(root, name)
        here = module_of(path)
        with open(path, encoding="utf-8") as f:
            for included in INCLUDE.findall(f.read()):
                for base in (root, src):
                    target = os.path.join(base, included)
                    if os.path.exists(target):
                        other = module_of(target)
                        if other != here:
                            uses.setdefault(here, set()).add(other)
                        break

defined, wanted = {}, {}
for obj in objects:
    tail = obj.replace(os.sep, "/").split("/src/")[-1]
    module = tail[:-len(".cpp.o")] if tail.endswith(".cpp.o") else os.path.splitext(tail)[0]
    out = subprocess.run(["nm", "-P", obj], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) < 2:
            continue
        symbol, kind = parts[0], parts[1]
        if kind == "U":
            wanted.setdefault(module, set()).add(symbol)
        elif kind in "TDBR":  # strong definitions only (not inline copies, which are W)
            defined.setdefault(symbol, set()).add(module)
for module, symbols in wanted.items():
    for symbol in symbols:
        for other in defined.get(symbol, ()):
            if other != module:
                uses.setdefault(module, set()).add(other)

# Strongly connected components (Tarjan).
index, low, stack, on, found = {}, {}, [], set(), []
counter = [0]


def visit(v):
    index[v] = low[v] = counter[0]
    counter[0] += 1
    stack.append(v)
    on.add(v)
    for w in sorted(uses.get(v, ())):
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        part = []
        while True:
            w = stack.pop()
            on.discard(w)
            part.append(w)
            if w == v:
                break
        if len(part) > 1:
            found.append(sorted(part))


sys.setrecursionlimit(10000)
for v in sorted(set(uses) | {w for ws in uses.values() for w in ws}):
    if v not in index:
        visit(v)
for part in found:
    print("circle: " + " <-> ".join(part))
    for a in part:
        print("  " + a + " uses " + ", ".join(sorted(w for w in uses.get(a, ()) if w in part)))
if not objects:
    print("no objects given")
    sys.exit(1)
sys.exit(1 if found else 0)
