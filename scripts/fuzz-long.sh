#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for longer than the test command does:
# FUZZ_SECONDS each (default 600), keeping the corpus in the build folder between runs. Stops at
# the first finding, which libFuzzer leaves beside the target as <target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-600}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target fuzz_reply fuzz_descriptor fuzz_hex
here=$PWD
for target in fuzz_reply fuzz_descriptor fuzz_hex; do
  dir=build/fuzz/link/fuzz
  mkdir -p "$dir/corpus/$target"
  echo "=== $target, $seconds s"
  status=0
  "$dir/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/$target-" \
    "$dir/corpus/$target" "$here/link/fuzz/seeds/$target" >"$dir/$target.log" 2>&1 || status=$?
  grep -E 'Done|stat::number_of_executed_units|ERROR|SUMMARY|Test unit written' "$dir/$target.log" || true
  [ "$status" -eq 0 ] || { echo "$target: finding, see $dir/$target.log and $dir/$target-*"; exit 1; }
done
