#!/usr/bin/env bash
# hxflash.exe as a station meets it, under Wine, against virtual phones of the
# native build that Wine sees as COM ports ($WINEPREFIX/dosdevices/com<n>):
#   wine_station.sh NATIVE_BUILD HXFLASH_EXE WORK present|swap|paths|other-dll [DLL]
#   present: a phone plugged in before the run is told, not flashed; once it
#            has gone the port waits again, and a phone plugged in then is
#            flashed;
#   swap:    with -n 2, a phone that appears during the first phone's reset
#            countdown is told as one plugged in already; once it has gone
#            and comes anew, the second phone is flashed;
#   paths:   a package whose path holds ü, € and Hangul flashes; refusals
#            name it as typed; `ports` says plainly that Wine lists no port;
#            a module missing beside hxflash.exe is refused in words;
#   other-dll: the 32-bit module DLL given to the 64-bit hxflash.exe is
#            refused in words.
set -euo pipefail
native=$1 host_exe=$2 work=$3 mode=$4 dll=${5:-}
run_dir=$(cd "$(dirname "$0")/../.." && pwd)/scripts
hxphone=$native/tools/hxphone/hxphone
hxflash=$native/tools/hxflash/hxflash
for tool in "$hxphone" "$hxflash"; do
  [[ -x $tool ]] || { echo "wine_station.sh: $tool is missing: build the default preset first" >&2; exit 1; }
done
: "${WINEPREFIX:?the tests set WINEPREFIX}"
export WINEPREFIX
# Wine takes the words of the command line in the locale's character set.
export LC_ALL=C.UTF-8

case $mode in
  present) port=44 ;;
  swap) port=45 ;;
  paths) port=46 ;;
  other-dll) port=47 ;;
  *) echo "wine_station.sh: unknown case '$mode'" >&2; exit 2 ;;
esac
dosdevices=$WINEPREFIX/dosdevices
rm -rf "$work"
mkdir -p "$work"
rm -f "$dosdevices/com$port"
phone_pid= host_pid=
cleanup() {
  [[ -n $phone_pid ]] && kill "$phone_pid" 2>/dev/null || true
  [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null || true
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 30 "$work/host.log" >&2 2>/dev/null || true; exit 1; }

windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# phone NAME [OPTIONS...]: plugs a virtual phone in as COM<port>.
phone() {
  local name=$1
  shift
  HXFLASH_PORTS_DIR=$dosdevices "$hxphone" run --port "$port" --record "$work/$name-record.json" \
    --dump "$work/$name-nand.bin" "$@" >"$work/$name-phone.log" 2>&1 &
  phone_pid=$!
}
# Unplugs the phone: its entry goes with it.
unplug() {
  kill "$phone_pid" 2>/dev/null || true
  wait "$phone_pid" 2>/dev/null || true
  phone_pid=
}
# await TEXT [COUNT]: until the host's output holds TEXT (COUNT times), for at most a minute.
await() {
  local text=$1 count=${2:-1}
  for _ in $(seq 1200); do
    (($(grep -c -- "$text" "$work/host.log" 2>/dev/null || true) >= count)) && return 0
    kill -0 "$host_pid" 2>/dev/null || fail "hxflash.exe ended before saying '$text'"
    sleep 0.05
  done
  fail "hxflash.exe never said '$text'"
}
# Waits a minute at most for the host to end; its exit status in $status.
host_end() {
  status=0
  for _ in $(seq 600); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$host_pid" || status=$?
  host_pid=
}
# Waits for the phone to write its record once the host reset it.
phone_done() {
  for _ in $(seq 100); do kill -0 "$phone_pid" 2>/dev/null || break; sleep 0.1; done
  unplug
}

# The phone told as plugged in already is unplugged: the port waits again,
# and the phone plugged in then is flashed (the host says RESULT) and verified.
replug_and_flash() {
  local result=$1
  unplug
  await "$waiting" 2
  phone second --plug-delay-ms 500
  host_end
  phone_done
  [[ $status == 0 ]] || fail "hxflash.exe exited $status"
  grep -q "COM$port .*$result" "$work/host.log" || fail "the phone plugged in anew was not flashed"
  "$hxphone" verify --package "$work/package.bin" --dump "$work/second-nand.bin" || fail "the phone's NAND is wrong"
}

"$hxflash" make-package "$work/package.bin" --tiny >/dev/null
already='a phone is plugged in already'
waiting='waiting for the phone to be plugged in'
flash=("$run_dir/wine-run.sh" win64 "$host_exe" flash --port "COM$port" --time-scale 0.05
       --log-dir "$(windows_path "$work/logs")")

case $mode in
  present)
    phone first
    until [[ -e $dosdevices/com$port ]]; do sleep 0.05; done
    "${flash[@]}" "$(windows_path "$work/package.bin")" >"$work/host.log" 2>&1 &
    host_pid=$!
    await "$already"
    replug_and_flash "flashed"
    ;;
  swap)
    # The first phone is plugged in once hxflash.exe waits for it (Wine may
    # take seconds to start on a loaded machine); it unplugs at its reset and
    # the next appears half a second later, during the countdown.
    "${flash[@]}" "$(windows_path "$work/package.bin")" -n 2 >"$work/host.log" 2>&1 &
    host_pid=$!
    await "$waiting"
    phone first --after-reset fresh --phones 2 --replug-delay-ms 500
    await "$already"
    grep -q "COM$port .*phone 1 flashed" "$work/host.log" || fail "the first phone was not flashed before the notice"
    replug_and_flash "phone 2 flashed"
    ;;
  paths)
    folder="$work/Pakete ü€한"
    mkdir -p "$folder"
    cp "$work/package.bin" "$folder/firmware-ü€한.bin"
    typed=$(windows_path "$folder/firmware-ü€한.bin")
    "${flash[@]}" "$typed" >"$work/host.log" 2>&1 &
    host_pid=$!
    await "$waiting"
    phone first --plug-delay-ms 500
    host_end
    phone_done
    [[ $status == 0 ]] || fail "hxflash.exe exited $status with the package at $typed"
    "$hxphone" verify --package "$work/package.bin" --dump "$work/first-nand.bin" || fail "the phone's NAND is wrong"
    grep -qF "package $typed" "$work/logs/module.log" || fail "module.log does not name the package as typed"
    # A refusal names the file as typed: a package the module would refuse.
    head -c 4096 "$work/package.bin" >"$folder/kaputt-ü€한.bin"
    refused=$("$run_dir/wine-run.sh" win64 "$host_exe" flash "$(windows_path "$folder/kaputt-ü€한.bin")" \
      --port "COM$port" 2>&1 || true)
    grep -qF "kaputt-ü€한.bin" <<<"$refused" || fail "the refusal does not name the package as typed: $refused"
    # Wine lists no serial port, and ports says so.
    listing=$("$run_dir/wine-run.sh" win64 "$host_exe" ports 2>&1) || fail "ports failed: $listing"
    grep -q 'the list is empty' <<<"$listing" || fail "ports does not say its list is empty: $listing"
    # hxflash.exe without its module beside it.
    mkdir -p "$work/alone"
    cp "$host_exe" "$work/alone/"
    missing=$("$run_dir/wine-run.sh" win64 "$work/alone/hxflash.exe" flash "$typed" --port "COM$port" 2>&1 || true)
    grep -q 'there is no such file' <<<"$missing" || fail "a missing module is not refused in words: $missing"
    ;;
  other-dll)
    [[ -e $host_exe ]] || fail "$host_exe is missing: build and test the mingw-x64 preset first"
    wrong=$("$run_dir/wine-run.sh" win64 "$host_exe" flash "$(windows_path "$work/package.bin")" --port "COM$port" \
      --module "$(windows_path "$dll")" 2>&1 || true)
    grep -q 'it is no 64-bit DLL: the 64-bit hxflash.exe needs the x64 ModelTemplate.dll' <<<"$wrong" \
      || fail "the 32-bit DLL is not refused in words: $wrong"
    ;;
esac
echo PASS
