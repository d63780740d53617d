#!/usr/bin/env bash
# Installs the dependencies, then builds and runs the test suite in the
# default, asan (AddressSanitizer + UndefinedBehaviorSanitizer) and tsan
# (ThreadSanitizer) presets (the default one's label usb runs its tests in a
# virtual machine with a real USB stack, scripts/usb-vm.sh), builds
# ModelTemplate.dll for 64-bit and 32-bit Windows (mingw-x64, mingw-x86) and
# runs its tests under Wine, runs every
# fuzz target, then makes the release artifacts from those builds
# (scripts/package.sh) and installs and tries them (scripts/release_check.sh,
# as root). Presets given as arguments replace the list (and skip the fuzzing
# and the release artifacts).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
presets=("${@:-default asan tsan mingw-x64 mingw-x86}")
for preset in ${presets[@]}; do
  echo "=== preset ${preset} ==="
  cmake --preset "${preset}"
  cmake --build --preset "${preset}"
  if [[ $preset == mingw-x86 && ! -x /usr/lib/wine/wine ]]; then
    echo "=== WARNING: 32-bit Wine is not installed (see install-deps.sh): the mingw-x86 tests did not run ===" >&2
    continue
  fi
  ctest --preset "${preset}"
done
# Then every fuzz target for 20 s, and the release artifacts (the full run only).
if (($# == 0)); then
  echo "=== fuzz targets ==="
  bash scripts/fuzz.sh 20
  echo "=== release artifacts ==="
  bash scripts/package.sh
  bash scripts/release_check.sh
fi
