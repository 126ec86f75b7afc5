#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; then the whole suite
# again under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan), under
# ThreadSanitizer (build-tsan: the reading loop, the file writer and the
# readers of rows meet in shared memory), and a short libFuzzer smoke run of
# every fuzz target when clang-14 is there. Each stage says how long it took.
# MBEEG_SKIP_ASAN=1 / MBEEG_SKIP_TSAN=1 / MBEEG_SKIP_FUZZ=1 leave those out.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "== $1 took $(( $(date +%s) - $2 ))s"; }

start=$(date +%s)
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)"
stage "build and suite" "$start"

if [ "${MBEEG_SKIP_ASAN:-0}" != 1 ]; then
  echo "== ASan+UBSan suite"
  start=$(date +%s)
  cmake --preset asan >/dev/null
  cmake --build build-asan -j "$(nproc)"
  # allocator_may_return_null: allocation-failure tests expect libc's null.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
  stage "ASan+UBSan suite" "$start"
fi

if [ "${MBEEG_SKIP_TSAN:-0}" != 1 ]; then
  echo "== ThreadSanitizer suite"
  start=$(date +%s)
  bash scripts/test-tsan.sh
  stage "ThreadSanitizer suite" "$start"
fi

if [ "${MBEEG_SKIP_FUZZ:-0}" != 1 ]; then
  if command -v clang++-14 >/dev/null; then
    echo "== fuzz smoke"
    start=$(date +%s)
    bash scripts/fuzz.sh "${MBEEG_FUZZ_SECONDS:-20}"
    stage "fuzz smoke" "$start"
  else
    echo "== fuzz smoke skipped: clang++-14 is not installed"
  fi
fi
