#!/usr/bin/env python3
"""Compares lopwort's dead functions with what the linker's --gc-sections
drops from the same programs.

usage: compare_gc.py FACTS REPORT EMITTED KEPT
  FACTS    the fact file lopwort-facts wrote
  REPORT   lopwort's report on it (standard output of lopwort -u or -r)
  EMITTED  function symbols defined by the object files, one a line
  KEPT     function symbols defined by the linked programs, one a line

Only the project's functions with a line (those the facts define) are
compared, by mangled name. A function the linker found dead is one that an
object file defines and no program keeps.
"""
import re
import sys

STATUSES = ("dead template function", "update template", "wrote template", "unknown lineno",
            "scan failed", "dead code", "can't read", "stripped", "update", "wrote", "read",
            "skipped")


def value(text, name):
    m = re.search(r"\b" + name + r' = ("[^"]*"|\'[^\']*\'|\S+)', text)
    if not m:
        return None
    v = m.group(1)
    return v[1:-1] if v[0] in "\"'" else v


def read_facts(path):
    classes, keys = {}, {}
    attributes = False
    for line in open(path, encoding="utf-8", errors="replace"):
        if line.startswith("FACT ATTRIBUTE"):
            attributes = True
            continue
        if not attributes:
            if line.startswith("$INSTANCE "):
                parts = line.rsplit(None, 1)
                classes[parts[0][len("$INSTANCE "):].strip().strip('"')] = parts[1]
            continue
        brace = line.find(" { ")
        if brace < 0:
            continue
        ident = line[:brace].strip().strip('"')
        if classes.get(ident) not in ("GF", "LF", "VF"):
            continue
        rest = line[brace:]
        lineno, mangle, label = value(rest, "lineno"), value(rest, "mangle"), value(rest, "label")
        if lineno and mangle and label is not None:
            keys.setdefault((value(rest, "file"), label, lineno), set()).add(mangle)
    return keys


def read_report(path):
    dead, statuses = [], {}
    current = None
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if not line.startswith("\t"):
            if line.endswith(" ") or line.endswith("[can't read]") or line.endswith("[skipped]"):
                current = line.split(" ")[0]
            continue
        body = line[1:]
        if not body.startswith("("):
            continue
        body = body[body.index(") ") + 2:]
        status = next((s for s in STATUSES if body.endswith(" " + s)), None)
        if status is None:
            continue
        item = body[: -len(status) - 1]
        statuses[status] = statuses.get(status, 0) + 1
        m = re.match(r'^"?(.*?)"?:(\d+)$', item)
        if m:
            dead.append((current, m.group(1), m.group(2)))
    return dead, statuses


def read_set(path):
    return set(l.strip() for l in open(path) if l.strip())


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    keys = read_facts(sys.argv[1])
    dead_items, statuses = read_report(sys.argv[2])
    emitted, kept = read_set(sys.argv[3]), read_set(sys.argv[4])
    project = set()
    for mangles in keys.values():
        project |= mangles
    dead = set()
    for item in dead_items:
        dead |= keys.get(item, set())
    p_emitted = project & emitted
    linker_dead = p_emitted - kept
    print("comparison with the linker's --gc-sections (project functions with a line, by mangled name)")
    print("  functions in the facts           %6d" % len(project))
    print("  emitted by the compiler          %6d" % len(p_emitted))
    print("  dropped by the linker            %6d" % len(linker_dead))
    print("  dead for lopwort                 %6d" % len(dead))
    print("    also dropped by the linker     %6d" % len(dead & linker_dead))
    print("    never emitted (unused inline)  %6d" % len(dead - emitted))
    print("    kept by the linker             %6d" % len(dead & kept))
    print("  dropped by the linker, live for lopwort %d" % len(linker_dead - dead))
    for name in sorted(dead & kept)[:10]:
        print("    dead for lopwort, kept by the linker: " + name)
    print("  report statuses: " + ", ".join("%s %d" % kv for kv in sorted(statuses.items())))


main()
