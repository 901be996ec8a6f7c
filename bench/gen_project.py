#!/usr/bin/env python3
"""Writes a synthetic C++ project for extraction benchmarks.

usage: bench/gen_project.py [--seed S] [--units N] [--per-dir K] DIR

The same seed and sizes give the same files. DIR gets N units in
directories of K units (default 2000 and 50), each directory with a header
its units share and all of them a common header; class templates and
function templates that many units instantiate; a class hierarchy per
directory, called through base pointers; static and external functions of
which some are dead; a quarter of the units include standard headers. Also
main.cpp, which calls into every unit, and compile_commands.json, as CMake
writes it for g++. It prints the units, functions and dead functions it
made.
"""
import argparse
import json
import os
import random


def common_header():
    return """#pragma once
// Shared by every unit.
namespace common {
template <class T> struct Box {
    T value;
    explicit Box(T v) : value(v) {}
    T get() const { return value; }
    T twice() const { return value + value; }
    T unused_member() const { return value - value; }
};
template <class T> T clamp(T v, T lo, T hi) { return v < lo ? lo : hi < v ? hi : v; }
template <class T> T never_instantiated(T v) { return v * 3; }
struct Shape {
    virtual ~Shape() {}
    virtual int area() const = 0;
    virtual int corners() const { return 0; }
};
int registry_add(Shape* s);
}
"""


def dir_header(d, units):
    lines = ["#pragma once", '#include "common.h"', "namespace d%d {" % d]
    lines.append("struct Base%d : common::Shape {" % d)
    lines.append("    int area() const override { return %d; }" % (d + 1))
    lines.append("    virtual int weight() const { return 1; }")
    lines.append("};")
    for u in range(units):
        lines.append("int entry_%d_%d(int);" % (d, u))
    lines.append("inline int shared_helper_%d(int x) { return x * %d + 1; }" % (d, d + 2))
    lines.append("inline int shared_dead_%d(int x) { return x - %d; }" % (d, d))
    lines.append("}")
    return "\n".join(lines) + "\n"


def unit_source(rng, d, u, stats):
    std = u % 4 == 0
    out = ['#include "d%d.h"' % d]
    if std:
        out += ["#include <string>", "#include <vector>", "#include <algorithm>"]
    out.append("namespace d%d {" % d)
    out.append("namespace {")
    nstatic = rng.randint(2, 5)
    for k in range(nstatic):
        out.append("int local_%d(int x) { return x + %d; }" % (k, rng.randint(1, 99)))
    out.append("}")
    out.append("struct Derived_%d : Base%d {" % (u, d))
    out.append("    int area() const override { return %d; }" % rng.randint(2, 50))
    out.append("    int weight() const override { return %d; }" % rng.randint(2, 9))
    out.append("};")
    nfun = rng.randint(4, 10)
    for k in range(nfun):
        callee = "local_%d" % rng.randrange(nstatic)
        out.append("int fn_%d_%d_%d(int x) { return %s(x) + common::clamp(x, 0, %d); }"
                   % (d, u, k, callee, rng.randint(5, 500)))
    dead = rng.randint(1, 3)
    for k in range(dead):
        out.append("int dead_%d_%d_%d(int x) { return fn_%d_%d_0(x) * 2; }" % (d, u, k, d, u))
    body = ["    common::Box<int> box(x);", "    int sum = box.twice();"]
    for k in range(nfun):
        if rng.random() < 0.7:
            body.append("    sum += fn_%d_%d_%d(sum);" % (d, u, k))
    body.append("    Derived_%d shape;" % u)
    body.append("    common::Shape* s = &shape;")
    body.append("    sum += s->area() + shared_helper_%d(sum);" % d)
    if std:
        body.append("    std::vector<std::string> words{\"a\", \"bb\", \"ccc\"};")
        body.append("    std::sort(words.begin(), words.end());")
        body.append("    sum += static_cast<int>(words.size());")
    body.append("    return sum;")
    out.append("int entry_%d_%d(int x) {" % (d, u))
    out += body
    out.append("}")
    out.append("}")
    called = sum(1 for line in body if "fn_" in line)
    stats["functions"] += nstatic + nfun + dead + 1 + 2
    stats["dead"] += dead + (nfun - called)
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--units", type=int, default=2000)
    ap.add_argument("--per-dir", type=int, default=50)
    ap.add_argument("dir")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    root = os.path.abspath(args.dir)
    os.makedirs(os.path.join(root, "include"), exist_ok=True)
    with open(os.path.join(root, "include", "common.h"), "w") as f:
        f.write(common_header())
    stats = {"functions": 0, "dead": 0}
    entries = []
    dirs = (args.units + args.per_dir - 1) // args.per_dir
    calls = []
    for d in range(dirs):
        units = min(args.per_dir, args.units - d * args.per_dir)
        ddir = os.path.join(root, "d%d" % d)
        os.makedirs(ddir, exist_ok=True)
        with open(os.path.join(ddir, "d%d.h" % d), "w") as f:
            f.write(dir_header(d, units))
        for u in range(units):
            name = "u%d.cpp" % u
            with open(os.path.join(ddir, name), "w") as f:
                f.write(unit_source(rng, d, u, stats))
            entries.append((ddir, name))
            calls.append("d%d::entry_%d_%d" % (d, d, u))
    with open(os.path.join(root, "main.cpp"), "w") as f:
        f.write("\n".join('#include "d%d/d%d.h"' % (d, d) for d in range(dirs)) + "\n")
        f.write("int main(int argc, char**) {\n    int sum = argc;\n")
        for c in calls:
            f.write("    sum += %s(sum);\n" % c)
        f.write("    return sum & 1;\n}\n")
    entries.append((root, "main.cpp"))
    db = []
    for directory, name in entries:
        source = os.path.join(directory, name)
        db.append({"directory": directory, "file": source,
                   "arguments": ["/usr/bin/g++", "-std=c++17", "-O1", "-I" + root + "/include",
                                 "-I" + root, "-I" + directory, "-o", source + ".o", "-c", source]})
    with open(os.path.join(root, "compile_commands.json"), "w") as f:
        json.dump(db, f, indent=1)
    print("%d units, %d functions, %d dead (and templates' unused members)"
          % (len(entries), stats["functions"], stats["dead"]))


if __name__ == "__main__":
    main()
