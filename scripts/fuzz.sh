#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a
# number of seconds (default 20), starting from its seed corpus in
# fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus-run/<target>/,
# crashes to build-fuzz/crashes/. Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-20}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(stream replies gain profile)
BUILD_DIR=${MBEEG_FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${MBEEG_JOBS:-$(nproc)}

if ! command -v clang++-14 >/dev/null; then
  echo "fuzz: clang++-14 is missing (scripts/deps.sh installs it)" >&2
  exit 1
fi

cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DMBEEG_SANITIZE=address,undefined -DMBEEG_BUILD_FUZZ=ON \
  -DMBEEG_BUILD_GUI=OFF -DMBEEG_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS" --target $(printf 'fuzz_%s ' "${TARGETS[@]}")

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$BUILD_DIR/crashes"
status=0
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD_DIR/corpus-run/$t"
  echo "fuzz: $t for ${SECONDS_PER_TARGET}s"
  if ! "$BUILD_DIR/fuzz/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$BUILD_DIR/crashes/$t-" \
      "$BUILD_DIR/corpus-run/$t" "fuzz/corpus/$t" >"$BUILD_DIR/fuzz-$t.log" 2>&1; then
    echo "fuzz: $t FAILED, see $BUILD_DIR/fuzz-$t.log and $BUILD_DIR/crashes/" >&2
    tail -40 "$BUILD_DIR/fuzz-$t.log" >&2
    status=1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units' "$BUILD_DIR/fuzz-$t.log" | sed "s/^/fuzz: $t: /" || true
done
exit $status
