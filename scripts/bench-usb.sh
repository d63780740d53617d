#!/usr/bin/env bash
# One 64 MiB flash over the kernel's cdc-acm beside the same flash over a
# pseudo-terminal (bench_usb_cdc_acm), in the USB test machine of
# scripts/usb-vm.sh: builds the benchmark (preset bench) and runs it there.
# Arguments are passed to the benchmark (--rounds N, --mib N, --keep).
# Exit status 77: no virtual machine could be started here (usb-vm.sh says why).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench --target bench_usb_cdc_acm hxphone ModelTemplate
# The package, the module's copy and the phones' NAND dumps live in the
# guest's own /tmp, a tmpfs in its memory.
exec bash scripts/usb-vm.sh --sockets 1 --memory 3072 --timeout 3600 -- \
  build/bench/bench/usb_cdc_acm/bench_usb_cdc_acm "$@"
