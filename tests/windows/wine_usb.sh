#!/usr/bin/env bash
# hxflash.exe with the DLL beside it, under Wine, flashing phones on the real
# USB stack: run inside the USB test machine (scripts/usb-vm.sh), where each
# phone is hxphone --usb (a configfs gadget bound to dummy_hcd's controller)
# and COM41 is Wine's dosdevices/com41 naming the kernel's cdc-acm tty:
#   wine_usb.sh NATIVE_BUILD HXFLASH_EXE PREFIX
# NATIVE_BUILD is a Linux build of the default preset (hxphone, hxflash);
# PREFIX a Wine prefix made beforehand on the build machine (the guest sees
# it read-only: it is laid out anew in the guest's /tmp, where the logs go too).
#   1. a phone is flashed and holds the package (hxphone verify);
#   2. a phone pulled out (its gadget unbound) inside a write-block transfer:
#      the download fails promptly, saying the port went away. The module's
#      clock runs at 1, so every bound on a silent phone is 60 s or more: a
#      failure within the ceiling came from the pull.
set -euo pipefail
native=$1 host_exe=$2 prefix=$3
run_dir=$(cd "$(dirname "$0")/../.." && pwd)/scripts
hxphone=$native/tools/hxphone/hxphone
hxflash=$native/tools/hxflash/hxflash
ceiling_s=50
# No run is waited for longer than this (one Wine command takes about 7 s in
# the guest under TCG; a flash of the tiny package about a minute).
run_limit_s=240
for tool in "$hxphone" "$hxflash" "$host_exe"; do
  [[ -e $tool ]] || { echo "wine_usb.sh: $tool is missing" >&2; exit 1; }
done
[[ -f $prefix/system.reg ]] || { echo "wine_usb.sh: $prefix is not a Wine prefix" >&2; exit 1; }

work=$(mktemp -d /tmp/wine-usb-XXXXXX)
export HOME=$work WINEPREFIX=$work/prefix
# The prefix's folders made anew, its files linked to the read-only original
# (a copy of its DLLs would not fit the guest's memory); Wine's registry,
# which it rewrites, copied.
cp -as "$prefix" "$WINEPREFIX"
for reg in "$prefix"/*.reg; do cp --remove-destination "$reg" "$WINEPREFIX/"; done
rm -f "$WINEPREFIX/dosdevices/com41"
phone_pid=
cleanup() { [[ -n $phone_pid ]] && kill "$phone_pid" 2>/dev/null || true; }
trap cleanup EXIT

"$hxflash" make-package "$work/package.bin" --tiny >/dev/null
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
fail() {
  echo "FAIL: $*" >&2
  find "$work" -name '*.log' -not -path '*/prefix/*' -exec tail -n 25 {} + >&2
  exit 1
}

# flash NAME SCALE [hxphone options...]: hxflash.exe serves COM41; once it
# waits, a phone plugs in on the first socket as dosdevices/com41. Leaves
# NAME-host.log, NAME-phone.log, NAME-nand.bin, the statuses in NAME-status
# and NAME-phone-status, and in NAME-seconds the host's seconds from its wait
# for the phone (Wine's own start takes half a minute in the guest) to its end.
flash() {
  local name=$1 scale=$2
  shift 2
  local status=0 start=$SECONDS
  timeout "$run_limit_s" "$run_dir/wine-run.sh" win64 "$host_exe" flash "$(windows_path "$work/package.bin")" --port COM41 \
    --time-scale "$scale" --log-dir "$(windows_path "$work/$name-logs")" >"$work/$name-host.log" 2>&1 &
  local host_pid=$!
  until grep -qs 'waiting for' "$work/$name-host.log"; do
    kill -0 "$host_pid" 2>/dev/null || fail "hxflash.exe ended before it waited for a phone"
    sleep 0.1
  done
  echo "$name: hxflash.exe waits for the phone after $((SECONDS - start)) s" >&2
  local waited=$SECONDS
  # A phone whose host has gone is not told so over USB: it too is bounded.
  HXFLASH_PORTS_DIR=$WINEPREFIX/dosdevices timeout "$run_limit_s" "$hxphone" run --usb --udc dummy_udc.0 --port 41 --plug-delay-ms 1000 \
    --dump "$work/$name-nand.bin" "$@" >"$work/$name-phone.log" 2>&1 &
  phone_pid=$!
  wait "$host_pid" || status=$?
  echo $((SECONDS - waited)) >"$work/$name-seconds"
  echo "$status" >"$work/$name-status"
  status=0
  wait "$phone_pid" || status=$?
  phone_pid=
  echo "$status" >"$work/$name-phone-status"
}

flash flashed 0.05
[[ $(cat "$work/flashed-status") == 0 ]] || fail "hxflash.exe exited $(cat "$work/flashed-status") on a phone it should flash"
grep -q 'plugged .*com41 -> /dev/ttyACM' "$work/flashed-phone.log" || fail "the phone's COM41 was no cdc-acm tty"
grep -q 'COM41 .*flashed' "$work/flashed-host.log" || fail "hxflash.exe did not report the phone flashed"
"$hxphone" verify --package "$work/package.bin" --dump "$work/flashed-nand.bin" >"$work/verify.log" 2>&1 \
  || fail "the phone flashed by hxflash.exe does not hold the package"
echo "PASS: hxflash.exe under Wine flashed a phone on cdc-acm ($(cat "$work/flashed-seconds")s)"

flash pulled 1 --fault unplug-in=write-block:3000
[[ $(cat "$work/pulled-phone-status") == 3 ]] || fail "the phone was not pulled by its fault"
[[ $(cat "$work/pulled-status") == 1 ]] || fail "hxflash.exe exited $(cat "$work/pulled-status") for a phone pulled mid-transfer"
(($(cat "$work/pulled-seconds") < ceiling_s)) \
  || fail "the download of a pulled phone ended after $(cat "$work/pulled-seconds") s, not promptly"
tr -d '\r' <"$work/pulled-host.log" | grep -q 'went away' || fail "the failure does not say the port went away"
echo "PASS: a phone pulled mid-transfer under Wine failed in $(cat "$work/pulled-seconds")s, the port gone"
