#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each in turn for SECONDS
# (default 30), one process at a time, starting from the seed corpus in
# fuzz/corpus/<target>. New inputs go to build-fuzz/corpus/<target>, so the
# seeds in the repository stay small; crashes land in build-fuzz/crashes and
# end the script with a failure.
#
# "ci" instead of SECONDS runs a fixed number of inputs from a fixed seed
# (about 30 s per target here), so that a run that passes on a clean clone
# passes the same way everywhere: a time-limited random campaign would fail
# the build whenever it happened on something new. Finding new faults is the
# job of long local campaigns.
#
#   tools/fuzz.sh [SECONDS|ci] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
declare -A ci_runs=([ta]=20000 [signature]=300000 [scan]=300000 [guard]=120000)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ta signature scan guard)

tools/deps.sh clang-14 libclang-rt-14-dev
clangxx=$(command -v clang++ || command -v clang++-14)
cmake -S . -B build-fuzz -DLOPWORT_FUZZ=ON -DLOPWORT_TESTS=OFF -DLOPWORT_WERROR=ON \
    -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
cmake --build build-fuzz -j2 $(printf -- '--target fuzz_%s ' "${targets[@]}")

mkdir -p build-fuzz/crashes
for t in "${targets[@]}"; do
    log="build-fuzz/fuzz_$t.log"
    if [ "$seconds" = ci ]; then
        echo "== fuzz_$t for ${ci_runs[$t]} inputs from seed 1 (log in $log)"
        # The fresh corpus directory keeps earlier local campaigns out of it.
        corpus=build-fuzz/corpus-ci/$t
        rm -rf "$corpus"
        limit=(-seed=1 -runs="${ci_runs[$t]}")
    else
        echo "== fuzz_$t for ${seconds}s (log in $log)"
        corpus=build-fuzz/corpus/$t
        limit=(-max_total_time="$seconds")
    fi
    mkdir -p "$corpus"
    # Leaks are looked for too: the fact base's arena is given back after
    # every input, so anything left over is a real leak.
    status=0
    build-fuzz/fuzz/fuzz_"$t" "${limit[@]}" -max_len=16384 -timeout=10 \
        -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/crashes/$t-" \
        "$corpus" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|DONE' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz_$t failed; the input is in build-fuzz/crashes/" >&2
        exit 1
    fi
done
