#!/usr/bin/env bash
# One phone flashed through the Windows DLL under Wine, against the virtual
# phone of the native build serving a pty that Wine sees as COM41:
#   wine_flash.sh ARCH NATIVE_BUILD FLASH_HOST_EXE DLL WORK same|unplug|hxflash
# ARCH is win64 or win32; NATIVE_BUILD is a Linux build tree of the default
# preset (hxphone, hxflash, the module and the native flash host).
#   same:   the phone is flashed and verified, and the host's events, the
#           module's lines (through its log sink, each with COM41) and the
#           phone's record equal those of the Linux module flashing the same
#           package;
#   hxflash: as same, with hxflash.exe (FLASH_HOST_EXE; it loads the DLL
#           beside it) as the host: the phone's record and NAND are checked,
#           module.log holds the module's lines with COM41,
#           a second run for the same port is refused, and its make-package
#           and inspect must agree with the Linux ones;
#   unplug: the phone is unplugged in the middle of the FS image transfer and
#           the download fails, long before any bound on a silent phone; the
#           module's last line for COM41 carries the failure's code.
set -euo pipefail
arch=$1 native=$2 host_exe=$3 dll=$4 work=$5 mode=$6
run_dir=$(cd "$(dirname "$0")/../.." && pwd)/scripts
hxphone=$native/tools/hxphone/hxphone
hxflash=$native/tools/hxflash/hxflash
native_host=$native/tests/plugin/flash_host
native_module=$native/module/libModelTemplate.so
for tool in "$hxphone" "$hxflash" "$native_host" "$native_module"; do
  if [[ ! -e $tool ]]; then
    echo "wine_flash.sh: $tool is missing: build the default preset first" >&2
    exit 1
  fi
done
: "${WINEPREFIX:?the tests set WINEPREFIX}"
export WINEPREFIX

# The unplug runs at the nominal clock: every bound on a silent phone is then
# 60 s or more, so a failure within the ceiling below came from the hang-up.
scale=0.05
[[ $mode == unplug ]] && scale=1
ceiling_s=50

rm -rf "$work"
mkdir -p "$work"
phone_pid=
cleanup() { [[ -n $phone_pid ]] && kill "$phone_pid" 2>/dev/null || true; }
trap cleanup EXIT

"$hxflash" make-package "$work/package.bin" --tiny >/dev/null

# A Windows path for the package: the drive Wine maps to the Unix root.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# While hxflash.exe serves COM41, a second run for COM41 is refused before
# it starts a session. One that is not would wait for a phone: it is given a
# minute.
second_run_refused() {
  local status=0
  timeout 60 "$run_dir/wine-run.sh" "$arch" "$host_exe" flash "$(windows_path "$work/package.bin")" --port 41 \
    >"$work/second-run.log" 2>&1 || status=$?
  [[ $status == 2 ]] && grep -q 'COM41 is served by another hxflash run' "$work/second-run.log" \
    || { echo "FAIL: a second hxflash.exe for COM41 exited $status" >&2; cat "$work/second-run.log" >&2; exit 1; }
}

# flash SIDE PORTS_DIR HOST... : runs the host command and, once it waits for
# its phone, serves one phone as com41 of PORTS_DIR; leaves SIDE-events.txt,
# SIDE-record.json, SIDE-nand.bin and the host's exit status in SIDE-status.
flash() {
  local side=$1 ports=$2
  shift 2
  local faults=()
  [[ $mode == unplug ]] && faults=(--fault unplug-at=write-block)
  local start=$SECONDS status=0
  "$@" >"$work/$side-host.log" 2>&1 &
  local host_pid=$!
  # The host's wait first sees the port absent; the phone appears a second later.
  until grep -qs 'waiting for' "$work/$side-host.log"; do
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.05
  done
  [[ $mode == hxflash && $side == wine ]] && second_run_refused
  HXFLASH_PORTS_DIR=$ports "$hxphone" run --port 41 --plug-delay-ms 1000 --record "$work/$side-record.json" \
    --dump "$work/$side-nand.bin" "${faults[@]}" >"$work/$side-phone.log" 2>&1 &
  phone_pid=$!
  wait "$host_pid" || status=$?
  echo "$status" >"$work/$side-status"
  echo $((SECONDS - start)) >"$work/$side-seconds"
  echo "$side: host exit $status after $((SECONDS - start)) s"
  # The phone unplugs after the watchdog command or its fault; give it time to write its record.
  for _ in $(seq 100); do kill -0 "$phone_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$phone_pid" 2>/dev/null || true
  wait "$phone_pid" 2>/dev/null || true
  phone_pid=
}

mkdir -m 0700 "$work/linux-ports"
flash linux "$work/linux-ports" env HXFLASH_PORTS_DIR="$work/linux-ports" \
  "$native_host" "$native_module" "$work/package.bin" 1 "$scale" "$work/linux-events.txt" "$work/linux-lines.txt"

rm -f "$WINEPREFIX/dosdevices/com41"
if [[ $mode == hxflash ]]; then
  flash wine "$WINEPREFIX/dosdevices" "$run_dir/wine-run.sh" "$arch" "$host_exe" flash \
    "$(windows_path "$work/package.bin")" --port COM41 --time-scale "$scale" --log-dir "$(windows_path "$work/wine-logs")"
else
  flash wine "$WINEPREFIX/dosdevices" "$run_dir/wine-run.sh" "$arch" "$host_exe" "$dll" \
    "$(windows_path "$work/package.bin")" 1 "$scale" "$(windows_path "$work/wine-events.txt")" \
    "$(windows_path "$work/wine-lines.txt")"
fi

fail() { echo "FAIL: $*" >&2; tail -n 20 "$work/wine-host.log" "$work/wine-phone.log" >&2; exit 1; }

# The module's lines through its sink: each about COM41 or the module as a
# whole (0), and the session's own among them.
check_lines() {
  local file=$1
  [[ -s $file ]] || fail "no line reached the sink ($file)"
  if grep -qvE '^(41|0) -?[0-9]+ ' "$file"; then fail "a line of another port or without one: $(grep -vE '^(41|0) ' "$file" | head -1)"; fi
  grep -q '^41 0 Connecting to BootROM...$' "$file" || fail "the session's lines lack COM41 ($file)"
}
if [[ $mode == hxflash ]]; then
  # make-package and inspect of hxflash.exe agree with the Linux hxflash
  # (apart from the package's name and the line ends).
  "$run_dir/wine-run.sh" "$arch" "$host_exe" make-package "$(windows_path "$work/package-win.bin")" --tiny >/dev/null
  cmp "$work/package.bin" "$work/package-win.bin" || fail "hxflash.exe made another package"
  "$hxflash" inspect "$work/package.bin" | tail -n +2 >"$work/linux-inspect.txt"
  "$run_dir/wine-run.sh" "$arch" "$host_exe" inspect "$(windows_path "$work/package.bin")" | tr -d '\r' | tail -n +2 \
    >"$work/wine-inspect.txt"
  diff "$work/linux-inspect.txt" "$work/wine-inspect.txt" || fail "hxflash.exe inspects the package otherwise"
fi
if [[ $mode != unplug ]]; then
  [[ $(cat "$work/linux-status") == 0 ]] || fail "the Linux module's download failed"
  [[ $(cat "$work/wine-status") == 0 ]] || fail "the download through the DLL failed"
  if [[ $mode == same ]]; then
    diff "$work/linux-events.txt" "$work/wine-events.txt" || fail "the events differ"
    check_lines "$work/linux-lines.txt"
    check_lines "$work/wine-lines.txt"
    if grep -qE '^41 [1-9]' "$work/wine-lines.txt"; then fail "a line of a successful flash carries a code"; fi
    diff "$work/linux-lines.txt" <(tr -d '\r' <"$work/wine-lines.txt") || fail "the module's lines differ"
  else
    grep -q 'COM41 .*flashed' "$work/wine-host.log" || fail "hxflash.exe did not report the phone flashed"
    # A module that is no DLL of this architecture is refused in words.
    wrong=$("$run_dir/wine-run.sh" "$arch" "$host_exe" flash "$(windows_path "$work/package.bin")" --port COM42 \
      --module "$(windows_path "$work/package.bin")" 2>&1 || true)
    grep -q 'it is no 64-bit DLL' <<<"$wrong" || fail "a module of no use is not refused in words: $wrong"
    # "/?" is help, as a Windows program's.
    "$run_dir/wine-run.sh" "$arch" "$host_exe" '/?' | grep -q 'flash' || fail "hxflash.exe /? gives no help"
    # hxflash.exe keeps the module's lines in module.log, each with its port.
    module_log=$(tr -d '\r' <"$work/wine-logs/module.log")
    grep -q 'COM41 *Connecting to BootROM' <<<"$module_log" || fail "module.log lacks COM41's lines"
    if grep -qvE '^(# |[0-9T:.+-]+ (COM41|module) )' <<<"$module_log"; then fail "a line of module.log names no port"; fi
  fi
  cmp "$work/linux-record.json" "$work/wine-record.json" || fail "the phone's records differ"
  "$hxphone" verify --package "$work/package.bin" --dump "$work/wine-nand.bin" || fail "the phone's NAND is wrong"
else
  [[ $(cat "$work/linux-status") == 1 ]] || fail "the Linux module did not fail on the unplugged phone"
  [[ $(cat "$work/wine-status") == 1 ]] || fail "the DLL did not fail on the unplugged phone"
  (($(cat "$work/wine-seconds") < ceiling_s)) || fail "the DLL took $(cat "$work/wine-seconds") s to fail"
  diff "$work/linux-events.txt" "$work/wine-events.txt" || fail "the events differ"
  check_lines "$work/wine-lines.txt"
  last=$(tr -d '\r' <"$work/wine-lines.txt" | grep '^41 ' | tail -n 1)
  [[ $last =~ ^41\ [1-9][0-9]*\ COM41:\ download\ failed ]] || fail "the last COM41 line is no failure with its code: $last"
  echo "wine: $last"
fi
echo "PASS"
