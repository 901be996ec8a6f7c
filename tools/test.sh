#!/usr/bin/env bash
# Builds lopwort with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DLOPWORT_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
cd build && ctest -j"$(nproc)" --output-on-failure
