#!/usr/bin/env bash
# Installs what is missing, builds, and records 10 s from two simulated boards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
./build/app/mbeeg record --sim 2 --seconds 10 --out demo.bdf --force
./build/app/mbeeg info demo.bdf
