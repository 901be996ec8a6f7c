#!/usr/bin/env bash
# Builds lopwort and prints the dead-function report of the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target lopwort
build/lopwort "$@" build/examples/shapes.ta
