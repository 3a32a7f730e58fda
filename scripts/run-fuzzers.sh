#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a number of seconds each, starting from
# its checked-in corpus (fuzz/<target>/corpus) when there is one.
set -euo pipefail
build=${1:-build/fuzz}
seconds=${2:-20}
list="$build/fuzzers.txt"
[ -f "$list" ] || { echo "no fuzz targets"; exit 0; }
while read -r target; do
  [ -n "$target" ] || continue
  exe=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
  [ -n "$exe" ] || { echo "fuzz target $target not built"; exit 1; }
  work=$(mktemp -d)
  seeds=()
  for d in fuzz/*/corpus/"$target" fuzz/"$target"/corpus; do [ -d "$d" ] && seeds+=("$d"); done
  echo "fuzzing $target for ${seconds}s"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 "$work" "${seeds[@]}" >"$work.log" 2>&1 || {
    tail -n 60 "$work.log"; echo "fuzz target $target failed"; exit 1; }
  grep -E 'stat::number_of_executed_units|Done' "$work.log" | tail -n 2
  rm -rf "$work" "$work.log"
done <"$list"
