#!/usr/bin/env bash
# How much test code carries the rest: non-blank lines of code in tests/
# against every other folder of ours (build trees and docs left out).
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  git ls-files -- "$@" | grep -E '\.(cpp|h|inc|c|py|sh|cmake)$|CMakeLists\.txt$' |
    xargs -r cat | grep -cv '^\s*$' || true
}
tests=$(count tests)
rest=$(count . ':!tests')
awk -v t="$tests" -v r="$rest" 'BEGIN { printf "tests=%d rest=%d ratio=%.3f\n", t, r, t / r }'
