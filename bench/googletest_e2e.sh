#!/usr/bin/env bash
# End to end on a real code base: googletest with its own tests. Copies the
# sources from /usr/src/googletest, builds them with a compilation database
# (each function in its own section, and the linker's garbage collection
# listing what it drops), runs the test suite, extracts facts for every
# unit (a lopwort-facts --unit step each, with a cache that starts empty,
# then --merge; then once more whole, which must take every unit from the
# cache and give the same facts), guards the dead functions out with
# lopwort -u, rebuilds and runs the
# suite again; then refreshes the guarded tree (extracts it again and strips
# it with lopwort -s), which must give the same guards, and builds and tests
# once more. Prints the figures: units, functions, dead, guarded, build and
# tests after guarding, extraction speed, and the comparison with the
# linker's --gc-sections.
#
# usage: bench/googletest_e2e.sh [BUILD_DIR] [WORK_DIR]
#   BUILD_DIR  lopwort's build directory (default: build), with lopwort and
#              lopwort-facts built
#   WORK_DIR   where googletest is copied and built (default: a new
#              temporary directory); it is left in place for inspection
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$here/build}" && pwd)"
work="${2:-$(mktemp -d "${TMPDIR:-/tmp}/lopwort-gtest-XXXXXX")}"
jobs="${JOBS:-2}"
src="$work/googletest"
build="$work/build"
log="$work/log"
mkdir -p "$log"

for prog in lopwort lopwort-facts; do
    [ -x "$bin/$prog" ] || [ -x "$bin/facts/$prog" ] || { echo "no $prog in $bin" >&2; exit 1; }
done
facts_bin="$bin/facts/lopwort-facts"
[ -x "$facts_bin" ] || facts_bin="$bin/lopwort-facts"
[ -d /usr/src/googletest ] || { echo "/usr/src/googletest is missing (apt-get install googletest)" >&2; exit 1; }

step() { printf '== %s\n' "$*"; }
seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.0f", b - a }'; }

step "copy /usr/src/googletest to $src"
rm -rf "$src" "$build"
cp -r /usr/src/googletest "$src"

step "configure with gtest and gmock tests and a compilation database"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -Dgtest_build_tests=ON -Dgmock_build_tests=ON \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_CXX_FLAGS="-ffunction-sections" -DCMAKE_C_FLAGS="-ffunction-sections" \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,--gc-sections -Wl,--print-gc-sections" \
    -DCMAKE_SHARED_LINKER_FLAGS="-Wl,--gc-sections" >"$log/configure" 2>&1

step "build before guarding"
t=$(seconds)
cmake --build "$build" -j"$jobs" >"$log/build-before" 2>&1
build_before=$(elapsed "$t")
step "list the functions the compiler emitted and the linker kept"
# With -ffunction-sections each function has a section of its own, which
# --gc-sections drops when no kept section refers to it: what the objects
# define and the programs do not is what the linker found dead.
find "$build" -name '*.o' -print0 | xargs -0 nm --defined-only 2>/dev/null |
    awk '$2 ~ /^[TtWw]$/ { print $3 }' | sort -u >"$work/emitted"
find "$build" -type f \( -perm -u+x -o -name '*.so*' \) ! -name '*.o' -print0 |
    while IFS= read -r -d '' f; do
        head -c 4 "$f" | grep -q ELF && nm --defined-only "$f" 2>/dev/null
    done | awk '$2 ~ /^[TtWw]$/ { print $3 }' | sort -u >"$work/kept"

step "test before guarding"
(cd "$build" && ctest -j"$jobs" >"$log/test-before" 2>&1) || true
tests_before=$(grep -E "tests passed" "$log/test-before" || echo "no ctest summary")

step "extract facts: a step per unit ($jobs at a time), then the merge"
# As a build engine would: lopwort-facts --unit for each database entry,
# with a cache of its own that starts empty, then lopwort-facts --merge.
db="$build/compile_commands.json"
cache="$work/cache"
rm -rf "$cache" "$work/fragments" "$work/unit-rss" "$log/units"
mkdir -p "$work/fragments"
python3 - "$db" >"$work/units" <<'PY'
import json, sys
seen = {}
for i, e in enumerate(json.load(open(sys.argv[1]))):
    seen[e["file"]] = seen.get(e["file"], 0) + 1
    print("%d %s#%d" % (i, e["file"], seen[e["file"]]))
PY
cat >"$work/unit-step.sh" <<STEP
#!/bin/sh
# usage: unit-step.sh INDEX FILE#K
exec /usr/bin/time -f %M -a -o "$work/unit-rss" "$facts_bin" --unit "\$2" --cache "$cache" \
    -o "$work/fragments/\$1.fragment" "$db" 2>>"$log/units"
STEP
t=$(seconds)
xargs -P "$jobs" -L 1 -a "$work/units" sh "$work/unit-step.sh" || true
/usr/bin/time -v "$facts_bin" --merge -j"$jobs" --cache "$cache" --stats -v \
    -o "$work/googletest.ta" "$work"/fragments/*.fragment 2>"$log/extract" || true
extract_seconds=$(elapsed "$t")
units_per_second=$(awk -v n="$(wc -l <"$work/units")" -v s="$extract_seconds" \
    'BEGIN { printf "%.2f", (s > 0 ? n / s : 0) }')
worker_rss=$(sort -n "$work/unit-rss" | tail -1)
extract_stats="$(wc -l <"$work/units") units, $units_per_second units/s, largest step $((worker_rss / 1024)) MiB"
no_extent=$(sed -n 's/.*: \([0-9]*\) functions kept that lopwort could not guard alone.*/\1/p' "$log/extract")
in_macros=$(sed -n 's/.*, and \([0-9]*\) written by a macro with other declarations/\1/p' "$log/extract")
extract_rss=$(awk -F': ' '/Maximum resident set size/ { printf "%d MiB", $2 / 1024 }' "$log/extract")
facts_size=$(stat -c %s "$work/googletest.ta")

step "extract again, whole, with nothing changed: everything from the cache"
t=$(seconds)
"$facts_bin" -j"$jobs" -q --stats --cache "$cache" -o "$work/again.ta" "$db" 2>"$log/extract-again" || true
again_seconds=$(elapsed "$t")
again_parsed=$(grep -o '[0-9]* parsed, [0-9]* from the cache' "$log/extract-again" || echo "no statistics")
again_same=different
cmp -s <(tail -n +2 "$work/googletest.ta") <(tail -n +2 "$work/again.ta") && again_same="the same"

step "report and guard (lopwort -u -p $src)"
"$bin/lopwort" -u -p "$src" "$work/googletest.ta" >"$work/report" 2>"$log/lopwort"

step "build after guarding"
t=$(seconds)
build_after_status=0
cmake --build "$build" -j"$jobs" >"$log/build-after" 2>&1 || build_after_status=$?
build_after=$(elapsed "$t")
step "test after guarding"
test_after_status=0
(cd "$build" && ctest -j"$jobs" >"$log/test-after" 2>&1) || test_after_status=$?
tests_after=$(grep -E "tests passed" "$log/test-after" || echo "no ctest summary")

step "refresh: extract the guarded tree again and strip (lopwort -s -p $src)"
# With the sources unchanged, a refresh must give back the same guards.
rm -rf "$work/guarded"
cp -r "$src" "$work/guarded"
t=$(seconds)
"$facts_bin" -j"$jobs" -q --stats --cache "$cache" -o "$work/refresh.ta" "$db" 2>"$log/extract-refresh" || true
refresh_parsed=$(grep -o '[0-9]* parsed, [0-9]* from the cache' "$log/extract-refresh" || echo "no statistics")
"$bin/lopwort" -s -p "$src" "$work/refresh.ta" >"$work/refresh-report" 2>"$log/lopwort-refresh"
refresh_seconds=$(elapsed "$t")
unstamp() { sed -E 's/_DEAD_[0-9]{14}.*/_DEAD_/' "$1"; }
refresh_differs=0
while IFS= read -r -d '' f; do
    rel="${f#"$work/guarded/"}"
    cmp -s <(unstamp "$f") <(unstamp "$src/$rel") || { echo "differs after refresh: $rel"; refresh_differs=$((refresh_differs + 1)); }
done < <(find "$work/guarded" -type f -print0)
step "build and test after the refresh"
refresh_status=0
cmake --build "$build" -j"$jobs" >"$log/build-refresh" 2>&1 || refresh_status=$?
if [ "$refresh_status" -eq 0 ]; then
    (cd "$build" && ctest -j"$jobs" >"$log/test-refresh" 2>&1) || refresh_status=$?
fi
tests_refresh=$(grep -E "tests passed" "$log/test-refresh" 2>/dev/null || echo "no ctest summary")

step "compare with the linker"
python3 "$here/bench/compare_gc.py" "$work/googletest.ta" "$work/report" "$work/emitted" \
    "$work/kept" >"$work/comparison" || true

units=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$build/compile_commands.json")
dead=$(awk '/functions are dead/ { print $1 }' "$work/report")
guarded=$(grep -cE ' (update|update template)$' "$work/report" || true)
lines=$(awk '/lines of code/ { print $1 }' "$work/report")
files=$(awk '/files updated/ { print $1 }' "$work/report")
kept=$(grep -cE ' (dead template function|unknown lineno|scan failed|shares a live line)$' "$work/report" || true)

cat <<REPORT

googletest end to end ($work)
  units in the database        $units
  extraction (steps and merge) $extract_stats
  extraction wall time, memory ${extract_seconds} s, ${extract_rss} (merge), fact file $((facts_size / 1048576)) MiB
  again, nothing changed       ${again_seconds} s, ${again_parsed}, facts ${again_same}
  dead functions (lopwort)     ${dead:-?}
  guarded out                  ${guarded} functions, ${lines:-0} lines, in ${files:-0} files
  dead but left in place       ${kept} (template with live instances, no line, no extent, or a live line)
  kept for want of an extent   ${no_extent:-?} functions (lopwort-facts -v lists them), and ${in_macros:-?} written by a macro with other declarations (test bodies)
  build before guarding        ${build_before} s
  tests before guarding        ${tests_before}
  build after guarding         ${build_after} s, status ${build_after_status}
  tests after guarding         ${tests_after} (ctest status ${test_after_status})
  refresh (extract and -s)     ${refresh_seconds} s (${refresh_parsed}), ${refresh_differs} files differ from the guarded tree (stamps aside)
  tests after the refresh      ${tests_refresh} (status ${refresh_status})
REPORT
cat "$work/comparison"
[ "$build_after_status" -eq 0 ] && [ "$test_after_status" -eq 0 ] && [ "$refresh_status" -eq 0 ] &&
    [ "$refresh_differs" -eq 0 ] && [ "$again_same" = "the same" ] &&
    case "$again_parsed" in "0 parsed,"*) true ;; *) false ;; esac
