#!/usr/bin/env bash
# Configures and builds into build/ (or $MBEEG_BUILD_DIR) with extra cmake args.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
BUILD_DIR=${MBEEG_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
