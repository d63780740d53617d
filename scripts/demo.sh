#!/usr/bin/env bash
# Installs what the Linux build needs, builds the module, hxflash and hxphone
# (nothing else), and runs the demo. The test command (scripts/test.sh)
# installs and builds everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --demo
# A new tree is made without the tests (their libraries are not installed
# here); a tree made already keeps its choice. `cmake --preset default`
# (the test command) turns the tests on again.
tests=$(sed -n 's/^HX_BUILD_TESTS:BOOL=//p' build/default/CMakeCache.txt 2>/dev/null || true)
cmake --preset default -DHX_BUILD_TESTS="${tests:-OFF}"
cmake --build --preset demo
exec build/default/tools/hxflash/hxflash demo "$@"
