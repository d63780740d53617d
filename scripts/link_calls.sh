#!/usr/bin/env bash
# Counts the system calls the host makes per data exchange while it flashes a
# virtual phone: `hxphone` serves the phone in a process of its own and
# `hxflash flash` runs under strace. Every call of the thread that talks to the
# phone is counted (writes and reads of the port, waits, output-queue checks,
# log lines) from the first NFB chunk on, and laid on the exchange it belongs
# to: an NFB chunk (its write of the chunk and sum) or an FS packet (its write
# of 0x5A and 16896 bytes), each up to the next one. Commands, read-backs and
# log lines between them count towards the exchange before them.
#
#   bash scripts/link_calls.sh [--rom-mib N] [--build DIR]
#
# Needs strace and python3, and hxflash, hxphone and the module built in DIR
# (default build/default).
set -euo pipefail

rom_mib=8
build=build/default
while [[ $# -gt 0 ]]; do
  case "$1" in
    --rom-mib) rom_mib="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--rom-mib N] [--build DIR]" >&2; exit 2 ;;
  esac
done
command -v strace >/dev/null || { echo "strace is needed" >&2; exit 2; }

hxflash="$build/tools/hxflash/hxflash"
hxphone="$build/tools/hxphone/hxphone"
work=$(mktemp -d)
phone_pid=
cleanup() {
  [[ -n "$phone_pid" ]] && kill "$phone_pid" 2>/dev/null || true
  [[ -n "${KEEP:-}" ]] || rm -rf "$work"
}
trap cleanup EXIT

export HXFLASH_PORTS_DIR="$work/ports"
mkdir -m 700 "$HXFLASH_PORTS_DIR"
"$hxflash" make-package "$work/package.bin" --rom-mib "$rom_mib" >/dev/null
"$hxphone" run --port 41 --plug-delay-ms 1500 --no-controlling-terminal >"$work/phone.log" 2>&1 &
phone_pid=$!
strace -f -qq -y -s 4 -o "$work/trace" \
  -e trace=read,write,writev,poll,ppoll,ioctl,nanosleep,clock_nanosleep,select,pselect6 \
  "$hxflash" flash "$work/package.bin" -p 41 --time-scale 0.05 >"$work/flash.log" 2>&1 || {
  echo "the flash failed:" >&2
  cat "$work/flash.log" >&2
  exit 1
}

python3 - "$work/trace" <<'PY'
import re, sys, collections

line_re = re.compile(r'^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+|\?)')
calls = [m.groups() for m in map(line_re.match, open(sys.argv[1])) if m]
on_port = lambda args: '</dev/pts/' in args.split(',', 1)[0]
on_log = lambda args: re.match(r'[12]<', args) is not None
tid = collections.Counter(t for t, name, args, _ in calls if name == 'write' and on_port(args)).most_common(1)[0][0]

def kind_of(name, args):
    """The exchange a write of the port starts, if any: by its size."""
    if name != 'write' or not on_port(args):
        return None
    size = int(args.rsplit(',', 1)[1])
    if 4000 < size <= 4098:
        return 'NFB chunk'
    if size == 16897 or size == 2048 + 64 + 1 or size == 512 + 16 + 1:
        return 'FS packet'
    return None

def label(name, args):
    if name == 'ioctl':
        return 'ioctl(' + args.split(',')[1].strip() + ')'
    return name + ('(port)' if on_port(args) else '(log)' if on_log(args) else '')

exchanges = collections.Counter()
per_call = collections.defaultdict(collections.Counter)
current = None      # the exchange under way: from its data write to its answer
pending_log = []    # log writes since the last answer: the next exchange's
for t, name, args, result in calls:
    if t != tid:
        continue
    kind = kind_of(name, args)
    if kind:
        current = kind
        exchanges[kind] += 1
        for what in pending_log:
            per_call[kind][what] += 1
        pending_log = []
    if current:
        per_call[current][label(name, args)] += 1
        if name == 'read' and on_port(args) and result not in ('-1', '0', '?'):
            current = None
    elif name == 'write' and on_log(args):
        pending_log.append(label(name, args))
    elif name == 'write' and on_port(args):
        pending_log = []

total_calls = 0
for kind in sorted(exchanges):
    n = exchanges[kind]
    calls_of_kind = sum(per_call[kind].values())
    total_calls += calls_of_kind
    detail = ', '.join(f'{c / n:.2f} {w}' for w, c in per_call[kind].most_common())
    print(f'{kind}: {n} exchanges, {calls_of_kind / n:.2f} calls each ({detail})')
print(f'all: {sum(exchanges.values())} exchanges, {total_calls / sum(exchanges.values()):.2f} calls each')
PY
