#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test lopwort and
# its fact extractor (clang's libraries and headers).
# Only missing packages are installed, so a prepared machine is left alone.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in "$@" cmake g++ clang make libgtest-dev libclang-dev libclang-cpp-dev llvm-dev zlib1g-dev libncurses-dev; do
    have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
