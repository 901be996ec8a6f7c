#!/usr/bin/env bash
# Extraction against the compiler's own parse, for one compilation database:
# the wall time of `clang -fsyntax-only` over its units with the same
# arguments (and the same language standard), N at a time, against lopwort-facts -j N without the cache, and
# their ratio; the peak memory of the largest parse, of the largest worker
# and of the merge, against the fact file's size; then the cache: a cold
# run, a warm run with nothing changed, and a run after one unit changed.
#
# usage: bench/extract_bench.sh DATABASE [JOBS]
#   BUILD   lopwort's build directory (default: build)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
db="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
jobs="${2:-2}"
bin="$(cd "${BUILD:-$here/build}" && pwd)"
facts="$bin/facts/lopwort-facts"
work="$(mktemp -d "${TMPDIR:-/tmp}/lopwort-extract-XXXXXX")"
trap 'rm -rf "$work"' EXIT

seconds() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f", b - a }'; }

# One line per unit: the directory, then clang's command for a parse only.
# A unit whose command names no -std= is given the standard its recorded
# compiler defaults to, as lopwort-facts parses it: gcc 12 compiles C++ as
# gnu++17 and clang 14 as gnu++14, and the newer library headers are a
# larger parse.
python3 - "$db" >"$work/commands" <<'PY'
import json, os, re, shlex, subprocess, sys
defaults = {}
def default_std(cc, directory, cxx):
    key = (cc, directory, cxx)
    if key not in defaults:
        std = ""
        try:
            out = subprocess.run([cc, "-x", "c++" if cxx else "c", "-dM", "-E", "/dev/null"],
                                 cwd=directory, capture_output=True, text=True).stdout
            macros = dict(re.findall(r"#define (\w+) (.*)", out))
            gnu = "__STRICT_ANSI__" not in macros
            if cxx:
                v = int(macros.get("__cplusplus", "0").rstrip("L") or 0)
                year = ("2b" if v > 202002 else "20" if v == 202002 else "17" if v >= 201703
                        else "14" if v >= 201402 else "11" if v >= 201103 else "98" if v else "")
                std = (("gnu++" if gnu else "c++") + year) if year else ""
            elif "__STDC__" in macros:
                v = int(macros.get("__STDC_VERSION__", "0").rstrip("L") or 0)
                year = ("2x" if v > 201710 else "17" if v >= 201710 else "11" if v >= 201112
                        else "99" if v >= 199901 else "89")
                std = ("gnu" if gnu else "c") + year
        except OSError:
            pass
        defaults[key] = std
    return defaults[key]
for e in json.load(open(sys.argv[1])):
    args = e.get("arguments") or shlex.split(e["command"])
    cc = args[0]
    cxx = "++" in cc or cc.endswith(("CC", "cxx")) or e["file"].endswith((".cc", ".cpp", ".cxx", ".C"))
    clang = "clang++" if cxx else "clang"
    out, skip = [clang], False
    if not any(a.startswith(("-std=", "--std")) for a in args):
        std = default_std(cc, e["directory"], cxx)
        if std:
            out.append("-std=" + std)
    for a in args[1:]:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if a in ("-c", "-MD", "-MMD", "-MP") or a.startswith("-o"):
            continue
        out.append(a)
    print(shlex.quote(e["directory"]) + " " + " ".join(shlex.quote(a) for a in out) +
          " -fsyntax-only -w")
PY
units=$(wc -l <"$work/commands")

echo "== $units units, $jobs at a time"
t=$(seconds)
# shellcheck disable=SC2016
xargs -P "$jobs" -L 1 -a "$work/commands" sh -c \
    'cd "$0" && /usr/bin/time -f %M -a -o '"$work/clang-rss"' "$@" >/dev/null 2>&1 || true'
clang_s=$(since "$t")
clang_rss=$(sort -n "$work/clang-rss" | tail -1)

t=$(seconds)
"$facts" -j"$jobs" -q --no-cache --stats -o "$work/facts.ta" "$db" 2>"$work/stats" || true
facts_s=$(since "$t")
size=$(stat -c %s "$work/facts.ta")
worker=$(sed -n 's/.*peak memory \([0-9]*\) MiB (largest worker).*/\1/p' "$work/stats")
merge=$(sed -n 's/.*MiB (largest worker), \([0-9]*\) MiB (merge).*/\1/p' "$work/stats")

cache="$work/cache"
t=$(seconds)
"$facts" -j"$jobs" -q --cache "$cache" --stats -o "$work/cold.ta" "$db" 2>"$work/cold" || true
cold_s=$(since "$t")
t=$(seconds)
"$facts" -j"$jobs" -q --cache "$cache" --stats -o "$work/warm.ta" "$db" 2>"$work/warm" || true
warm_s=$(since "$t")
warm_parsed=$(grep -o '[0-9]* parsed, [0-9]* from the cache' "$work/warm" || echo "?")
# One unit changed: a function appended to the first source.
first=$(python3 -c 'import json,sys; e=json.load(open(sys.argv[1]))[0]; import os; print(os.path.join(e["directory"], e["file"]))' "$db")
cp "$first" "$work/first.saved"
echo "int lopwort_bench_added_function() { return 1; }" >>"$first"
t=$(seconds)
"$facts" -j"$jobs" -q --cache "$cache" --stats -o "$work/one.ta" "$db" 2>"$work/one" || true
one_s=$(since "$t")
cp "$work/first.saved" "$first"
one_parsed=$(grep -o '[0-9]* parsed, [0-9]* from the cache' "$work/one" || echo "?")

awk -v c="$clang_s" -v f="$facts_s" -v cr="$clang_rss" -v w="$worker" -v m="$merge" \
    -v s="$size" -v cold="$cold_s" -v warm="$warm_s" -v one="$one_s" \
    -v wp="$warm_parsed" -v op="$one_parsed" 'BEGIN {
    printf "clang -fsyntax-only      %8.1f s\n", c
    printf "lopwort-facts (no cache) %8.1f s   ratio %.2f\n", f, f / c
    printf "largest parse            %8d MiB (clang)\n", cr / 1024
    d = w - int(cr / 1024)
    printf "largest worker           %8d MiB   %d MiB %s clang\n", w, d < 0 ? -d : d, d < 0 ? "under" : "over"
    printf "merge                    %8d MiB   fact file %.1f MiB, ratio %.2f\n", m, s / 1048576, m * 1048576 / s
    printf "cache: cold %.1f s, warm %.1f s (%s), one unit changed %.1f s (%s)\n", cold, warm, wp, one, op
}'
