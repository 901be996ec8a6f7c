#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each in turn for SECONDS
# (default 30), one process at a time, starting from the seed corpus in
# fuzz/corpus/<target>. New inputs go to build-fuzz/corpus/<target>, so the
# seeds in the repository stay small; crashes land in build-fuzz/crashes and
# end the script with a failure.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ta signature scan guard)

tools/deps.sh clang-14 libclang-rt-14-dev
clangxx=$(command -v clang++ || command -v clang++-14)
cmake -S . -B build-fuzz -DLOPWORT_FUZZ=ON -DLOPWORT_TESTS=OFF -DLOPWORT_WERROR=ON \
    -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
cmake --build build-fuzz -j2 $(printf -- '--target fuzz_%s ' "${targets[@]}")

mkdir -p build-fuzz/crashes
for t in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$t"
    log="build-fuzz/fuzz_$t.log"
    echo "== fuzz_$t for ${seconds}s (log in $log)"
    # Leaks are looked for too: the fact base's arena is given back after
    # every input, so anything left over is a real leak.
    status=0
    build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
        -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/crashes/$t-" \
        "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|DONE' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz_$t failed; the input is in build-fuzz/crashes/" >&2
        exit 1
    fi
done
