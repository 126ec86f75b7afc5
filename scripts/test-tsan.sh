#!/usr/bin/env bash
# Builds the whole suite under ThreadSanitizer (build-tsan) and runs it.
# Reports that are not ours go into scripts/tsan.supp, each with why.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset tsan >/dev/null
cmake --build build-tsan -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# allocator_may_return_null: tests of allocation failure ask for petabytes on
# purpose and expect a null pointer, as libc gives, not a sanitizer abort.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1"
[ -f scripts/tsan.supp ] && TSAN_OPTIONS+=":suppressions=$PWD/scripts/tsan.supp"
export TSAN_OPTIONS
ctest --test-dir build-tsan --output-on-failure -j "$(nproc)"
