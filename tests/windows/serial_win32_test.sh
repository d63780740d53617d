#!/usr/bin/env bash
# Runs serial_win32_test.exe under Wine with virtual phones of the native
# build on COM41, each plugged in once the program waits for it; the second
# unplugs after the third byte it receives:
#   serial_win32_test.sh ARCH NATIVE_BUILD TEST_EXE WORK
set -euo pipefail
arch=$1 native=$2 test_exe=$3 work=$4
run_dir=$(cd "$(dirname "$0")/../.." && pwd)/scripts
hxphone=$native/tools/hxphone/hxphone
if [[ ! -x $hxphone ]]; then
  echo "serial_win32_test.sh: $hxphone is missing: build the default preset first" >&2
  exit 1
fi
: "${WINEPREFIX:?the tests set WINEPREFIX}"
export WINEPREFIX
rm -rf "$work"
mkdir -p "$work"
rm -f "$WINEPREFIX/dosdevices/com41"
phone_pid=
cleanup() { [[ -n $phone_pid ]] && kill "$phone_pid" 2>/dev/null || true; }
trap cleanup EXIT

"$run_dir/wine-run.sh" "$arch" "$test_exe" >"$work/test.log" 2>&1 &
test_pid=$!
# Plugs phone N in once the program waits for it; the phone before it has gone.
plug() {
  local n=$1
  shift
  until grep -qs "waiting for phone $n" "$work/test.log"; do
    kill -0 "$test_pid" 2>/dev/null || return 0
    sleep 0.05
  done
  if [[ -n $phone_pid ]]; then
    wait "$phone_pid" 2>/dev/null || true
  fi
  HXFLASH_PORTS_DIR=$WINEPREFIX/dosdevices "$hxphone" run --port 41 "$@" >>"$work/phone.log" 2>&1 &
  phone_pid=$!
}
plug 1
plug 2 --fault unplug-after-bytes=3
status=0
wait "$test_pid" || status=$?
cat "$work/test.log"
exit "$status"
