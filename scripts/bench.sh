#!/usr/bin/env bash
# Builds the benchmarks (preset bench) and runs the four that measure a
# download, one after the other so that none disturbs another:
#   bench_flash_throughput   throughput-ratio, usb-fs-ratio
#   bench_host_cpu           host-cpu-ms-per-mib, host-syscalls-per-exchange
#   bench_parallel_scaling   parallel-efficiency
#   bench_package_load       load-time-ratio, peak-memory-ratio
# Each prints its rounds and, as its last lines, its figures (medians of its
# rounds, which alternate the compared measurements), each as
#   name value (goal ...; what belongs beside it)
# this script repeats the figures at the end. Arguments are passed to every benchmark (--rounds N).
# The whole run takes about 10 minutes with 3 rounds: the USB full-speed model moves about
# 1 MB/s, and a 64 MiB package takes about a minute on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset bench
cmake --build --preset bench
figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
for bench in flash_throughput host_cpu parallel_scaling package_load; do
  echo "=== bench_${bench} ==="
  "build/bench/bench/${bench}/bench_${bench}" "$@" |
    tee >(grep -E '^[a-z]+(-[a-z0-9]+)+ [0-9.]+( \(.*\))?$' >>"$figures")
done
sleep 1  # the last tee's reader
echo "=== figures ==="
cat "$figures"
