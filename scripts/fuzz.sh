#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, clang) and runs each for a set
# time against its corpus in fuzz/<target>/corpus. New inputs go to a
# temporary folder, never into the repository (merge them by hand with
# `fuzz_<target> -merge=1 fuzz/<target>/corpus NEW_DIR`). Any crash, sanitizer
# report or input slower than 10 s fails the run.
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=()
for dir in fuzz/*/; do
  [[ -d "${dir}corpus" ]] && targets+=("fuzz_$(basename "$dir")")
done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for dir in fuzz/*/; do
  target=$(basename "$dir")
  program="build/fuzz/fuzz/${target}/fuzz_${target}"
  [[ -x "$program" && -d "${dir}corpus" ]] || continue
  mkdir -p "$work/$target"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$work/$target/")
  [[ -f "${dir}${target}.dict" ]] && options+=(-dict="${dir}${target}.dict")
  [[ -f "${dir}package.dict" ]] && options+=(-dict="${dir}package.dict")
  echo "=== fuzz ${target} for ${seconds} s"
  if ! "$program" "${options[@]}" "$work/$target" "${dir}corpus" >"$work/$target.log" 2>&1; then
    tail -n 40 "$work/$target.log"
    failed+=("$target")
  else
    grep -E "^Done|stat::number_of_executed_units" "$work/$target.log" | head -n 2
  fi
done
if ((${#failed[@]})); then
  echo "fuzz targets that failed: ${failed[*]}"
  exit 1
fi
