#!/usr/bin/env bash
# Builds the benchmarks (preset bench) and runs them one after the other, so
# that none disturbs another: the five that measure a download, and the cost of a phone's record:
#   bench_flash_throughput   throughput-ratio, usb-fs-ratio
#   bench_host_cpu           host-cpu-ratio, host-syscalls-ratio
#   bench_usb_fs_phone       usb-fs-phone-ratio
#   bench_parallel_scaling   parallel-efficiency (8 phones), parallel-efficiency-16
#   bench_package_load       load-time-ratio, peak-memory-ratio
#   bench_history_record     history-record-ms, history-record-ratio
# Each measures its figures against this machine's own floors (a bare replay
# of the same turns, the pty's own limits, the link's own time, one phone
# alone, a plain read), prints its rounds and, as its last lines, its figures
# (medians of its rounds, which alternate the compared measurements), each as
#   name value (goal ...; what belongs beside it)
# This script repeats the figures at the end. Arguments are passed to every
# benchmark (--rounds N).
# The whole run takes about 25 minutes with 3 rounds: the USB full-speed model
# moves about 1 MB/s, a 64 MiB package takes about a minute on it, and each
# round of bench_parallel_scaling flashes one phone, eight and sixteen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset bench
cmake --build --preset bench
figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
for bench in flash_throughput host_cpu usb_fs_phone parallel_scaling package_load history_record; do
  echo "=== bench_${bench} ==="
  "build/bench/bench/${bench}/bench_${bench}" "$@" |
    tee >(grep -E '^[a-z]+(-[a-z0-9]+)+ [0-9.]+( \(.*\))?$' >>"$figures")
done
sleep 1  # the last tee's reader
echo "=== figures ==="
cat "$figures"
