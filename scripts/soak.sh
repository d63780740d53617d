#!/usr/bin/env bash
# The soak: PORTS virtual phones' ports, PHONES phones on each one after
# another, all flashed by one `hxflash flash --loop` of an AddressSanitizer
# build (the module's clock at 0.05: its bounds on a phone's answers become
# 3 s, which sixteen sanitized processes on a small machine always meet; at
# 0.01 they are 0.6 s). Every phone's NAND is verified against
# the package; hxflash's resident memory and open descriptors are read while
# every port waits for its next phone, once after phone 2 and once after the
# last phone of each port. It passes when every phone is verified, the
# resident memory grew by at most 2 MiB, the descriptor count is the same,
# and LeakSanitizer found nothing when hxflash ended. Not part of CI: it takes
# a few minutes.
#   scripts/soak.sh [BUILD_DIR] [PORTS] [PHONES]
# BUILD_DIR defaults to build/asan (cmake --preset asan && cmake --build --preset asan).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/asan}
ports=${2:-8}
phones=${3:-10}
hxflash=$build/tools/hxflash/hxflash
hxphone=$build/tools/hxphone/hxphone
for tool in "$hxflash" "$hxphone"; do
  [[ -x $tool ]] || { echo "soak.sh: $tool is missing: build the asan preset first" >&2; exit 1; }
done
((ports >= 1 && ports <= 8 && phones >= 2)) || { echo "soak.sh: 1..8 ports and at least 2 phones" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/hxflash-soak.XXXXXX")
export HXFLASH_PORTS_DIR=$work/ports
mkdir -m 0700 "$HXFLASH_PORTS_DIR"
# A small quarantine: ASan's default one holds freed memory by the hundred
# megabytes, which would read as growth.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=1:detect_leaks=1}
pids=()
phone_pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

"$hxflash" make-package "$work/package.bin" >/dev/null
port_args=()
for ((i = 0; i < ports; i++)); do port_args+=(--port $((41 + i))); done
"$hxflash" flash "$work/package.bin" "${port_args[@]}" --loop --time-scale 0.05 --log-dir "$work/logs" \
  --history "$work/history.sqlite3" \
  </dev/null >"$work/hxflash.out" 2>"$work/hxflash.err" &
flash_pid=$!
pids+=("$flash_pid")
until grep -qs 'waiting' "$work/hxflash.out" "$work/hxflash.err"; do
  kill -0 "$flash_pid" 2>/dev/null || { echo "soak.sh: hxflash ended early" >&2; cat "$work/hxflash.err" >&2; exit 1; }
  sleep 0.1
done
# A phone reappears a while after its reset: after the module's countdown
# (4 s at this scale), or it would be taken for a phone plugged in before its
# session was ready; and late enough that every port comes to wait for its
# next phone at about the same time.
for ((i = 0; i < ports; i++)); do
  com=$((41 + i))
  "$hxphone" run --port "$com" --after-reset fresh --phones "$phones" --plug-delay-ms 500 \
    --replug-delay-ms 6000 --dump "$work/com$com-phone%n.nand" >"$work/phone$com.log" 2>&1 &
  pids+=("$!")
  phone_pids+=("$!")
done

# done_phones: the fewest phones any port has finished (their NAND dumped).
done_phones() {
  local fewest=$phones n
  for ((i = 0; i < ports; i++)); do
    n=$(find "$work" -maxdepth 1 -name "com$((41 + i))-phone*.nand" | wc -l)
    ((n < fewest)) && fewest=$n
  done
  echo "$fewest"
}
# idle: hxflash holds no phone's port open (every port waits for its phone);
# its lock files in the ports directory stay open all along.
idle() { ! ls -l "/proc/$flash_pid/fd" 2>/dev/null | grep -q '/dev/pts/'; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$flash_pid/status"; }
fds() { ls "/proc/$flash_pid/fd" | wc -l; }

# sample K: waits until every port has finished K phones and none holds its
# port, then prints the resident memory and the descriptor count.
sample() {
  local k=$1 deadline=$((SECONDS + 30 * phones))
  while ((SECONDS < deadline)); do
    kill -0 "$flash_pid" 2>/dev/null || { echo "soak.sh: hxflash ended early" >&2; tail "$work/hxflash.err" >&2; exit 1; }
    local fewest
    fewest=$(done_phones)
    if ((fewest >= k)) && idle; then
      echo "$(rss_kib) $(fds)"
      return
    fi
    # A virtual phone that ended before its last phone brings no more.
    for ((i = 0; i < ports; i++)); do
      if ! kill -0 "${phone_pids[i]}" 2>/dev/null &&
        (($(find "$work" -maxdepth 1 -name "com$((41 + i))-phone*.nand" | wc -l) < k)); then
        echo "soak.sh: COM$((41 + i)) brought no more phones; see $work/phone$((41 + i)).log and $work/logs" >&2
        exit 1
      fi
    done
    sleep 0.05
  done
  echo "soak.sh: the ports did not finish phone $k in time" >&2
  exit 1
}

start=$SECONDS
after2=$(sample 2) || exit 1
afterN=$(sample "$phones") || exit 1
read -r rss2 fds2 <<<"$after2"
read -r rssN fdsN <<<"$afterN"
seconds=$((SECONDS - start))
kill -INT "$flash_pid"
flash_status=0
wait "$flash_pid" || flash_status=$?

verified=0 failed=0
for dump in "$work"/com*-phone*.nand; do
  if "$hxphone" verify --package "$work/package.bin" --dump "$dump" >/dev/null 2>&1; then
    verified=$((verified + 1))
  else
    failed=$((failed + 1))
    echo "soak.sh: $(basename "$dump") does not hold the package" >&2
  fi
done
leaks=$(grep -c 'ERROR: LeakSanitizer\|ERROR: AddressSanitizer' "$work/hxflash.err" || true)
growth=$((rssN - rss2))

echo "soak-ports $ports"
echo "soak-phones-per-port $phones"
echo "soak-seconds $seconds"
echo "soak-phones-verified $verified"
echo "soak-phones-not-verified $failed"
echo "soak-rss-after-phone-2-kib $rss2"
echo "soak-rss-after-phone-$phones-kib $rssN"
echo "soak-rss-growth-kib $growth"
echo "soak-descriptors-after-phone-2 $fds2"
echo "soak-descriptors-after-phone-$phones $fdsN"
echo "soak-hxflash-exit $flash_status"
echo "soak-sanitizer-reports $leaks"
echo "soak-logs $work"

ok=1
((verified == ports * phones && failed == 0)) || ok=0
((growth <= 2048)) || ok=0
((fds2 == fdsN)) || ok=0
((leaks == 0)) || ok=0
if ((ok)); then echo "soak: PASS"; else echo "soak: FAIL"; exit 1; fi
