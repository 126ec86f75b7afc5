#!/usr/bin/env bash
# Builds the whole suite under ThreadSanitizer (build-tsan) and runs it.
# Known reports that are not ours are listed in scripts/tsan.supp with why.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset tsan >/dev/null
cmake --build build-tsan -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1${TSAN_SUPP:+:suppressions=$TSAN_SUPP}"
ctest --test-dir build-tsan --output-on-failure -j "$(nproc)"
