#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Usage: scripts/test.sh [extra cmake arguments...]
# BUILD_DIR (default: build) chooses the build directory.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build"}

"$root/scripts/setup.sh"

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# CI treats warnings in our own code as errors.
werror=()
if [ -n "${CI:-}" ]; then
    werror=(-DCORVANE_WERROR=ON)
fi

cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" "${werror[@]}" "$@"
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)"
