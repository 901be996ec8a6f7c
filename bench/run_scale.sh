#!/usr/bin/env bash
# Measures lopwort against the machine's own limits: for each N it generates a
# fact file of N functions once (of the program shape, or SHAPE), then reports the wall time of
# a report-only run beside that of `wc -w` on the same bytes, the run's peak
# resident memory beside the file's size, and the time of each stage from the
# stage harness; then how the time grows from one N to the next, and whether
# the deepest inputs (a call chain and a containment chain of a million, a
# class hierarchy ten thousand levels deep) run to the end.
#
# usage: bench/run_scale.sh [N ...]        (default: 100000 1000000)
# environment: BUILD (build directory, default build), TMPDIR (where the
#   files go, default /tmp), REPEAT (runs per timing, best kept, default 3),
#   SEED (default 1), SHAPE (the generator's shape of the measured files,
#   default program; dense is the terse one), DEEP=0 to skip the deep inputs.
set -euo pipefail

BUILD=${BUILD:-build}
DIR=${TMPDIR:-/tmp}
REPEAT=${REPEAT:-3}
SEED=${SEED:-1}
DEEP=${DEEP:-1}
SHAPE=${SHAPE:-program}
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(100000 1000000)

for tool in lopwort bench_gen_facts bench_stages; do
    [ -x "$BUILD/$tool" ] || { echo "missing $BUILD/$tool: build first" >&2; exit 1; }
done

# Wall seconds, peak KB and CPU seconds (user + system) of one run, from
# the run with the best wall time of REPEAT: "SECONDS KB CPU". The machine may
# be shared; CPU time shows how much of a wall time was waiting for it.
measure() {
    local best="" kb=0 cpu=0 out
    for _ in $(seq "$REPEAT"); do
        /usr/bin/time -o "$DIR/lopwort-scale.time" -f "%e %M %U %S" "$@" >/dev/null 2>&1
        out=$(tail -1 "$DIR/lopwort-scale.time")
        read -r t k u s <<<"$out"
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then
            best=$t
            cpu=$(awk "BEGIN{print $u + $s}")
        fi
        [ "$k" -gt "$kb" ] && kb=$k
    done
    echo "$best $kb $cpu"
}

declare -A TIME
printf '%-9s %8s %9s %7s %6s %9s %6s %14s  %s\n' N file_MB lopwort_s wc_s ratio peak_MB ratio \
    "cpu_s(lw/wc)" "stages, wall(cpu) s: load consolidate search report"
for n in "${SIZES[@]}"; do
    file="$DIR/lopwort-scale-$SHAPE-$n-$SEED.ta"
    [ -s "$file" ] || "$BUILD/bench_gen_facts" --seed "$SEED" --shape "$SHAPE" "$n" "$file" 2>/dev/null
    cat "$file" >/dev/null # from the page cache for every run below
    bytes=$(stat -c %s "$file")
    read -r wc_s _ wc_cpu <<<"$(measure wc -w "$file")"
    read -r lw_s lw_kb lw_cpu <<<"$(measure "$BUILD/lopwort" "$file")"
    stages=$("$BUILD/bench_stages" "$file" 2>&1 >/dev/null |
        awk '$1=="load"||$1=="consolidate"||$1=="search"||$1=="report"{
                 t = t sprintf("%s%s(%s)", (t == "" ? "" : " "), $2, $4) }
             END{printf "%s", t}')
    TIME[$n]=$lw_s
    awk -v n="$n" -v b="$bytes" -v lw="$lw_s" -v wc="$wc_s" -v kb="$lw_kb" -v st="$stages" \
        -v lc="$lw_cpu" -v wcc="$wc_cpu" 'BEGIN{
        printf "%-9d %8.1f %9.2f %7.2f %6.2f %9.1f %6.2f %14s  %s\n",
            n, b/1048576, lw, wc, (wc > 0 ? lw/wc : 0), kb/1024, kb*1024/b,
            sprintf("%.2f/%.2f", lc, wcc), st }'
done

prev=""
for n in "${SIZES[@]}"; do
    if [ -n "$prev" ]; then
        awk -v a="$prev" -v b="$n" -v ta="${TIME[$prev]}" -v tb="${TIME[$n]}" 'BEGIN{
            printf "growth %d -> %d functions (x%.1f): time x%.2f\n", a, b, b/a, (ta > 0 ? tb/ta : 0) }'
    fi
    prev=$n
done

if [ "$DEEP" != 0 ]; then
    for deep in "callchain 1000000" "containchain 1000000" "hierarchy 10000"; do
        read -r shape n <<<"$deep"
        file="$DIR/lopwort-$shape-$n.ta"
        [ -s "$file" ] || "$BUILD/bench_gen_facts" --shape "$shape" "$n" "$file"
        set +e
        /usr/bin/time -o "$DIR/lopwort-scale.time" -f "%e %M" "$BUILD/lopwort" "$file" \
            >"$file.out" 2>/dev/null
        status=$?
        set -e
        summary=$(tail -1 "$file.out")
        echo "deep $shape $n: status $status, $(tail -1 "$DIR/lopwort-scale.time" |
            awk '{printf "%.2f s, %.1f MB", $1, $2/1024}'), $summary"
    done
fi
