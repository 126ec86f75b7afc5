#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libserialport-dev libedf-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
  python3-mne python3-numpy
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "mbeeg: missing packages: ${missing[*]}" >&2
  echo "mbeeg: install them with: sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "mbeeg: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
