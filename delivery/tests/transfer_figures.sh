#!/usr/bin/env bash
# Prints a transfer's wall time against its 10.24-second floor and the smallest, median and
# largest pause between blocks: natively, under Wine with the deck linked in, and under Wine
# through TavroUSB.dll (the stand-in). Build the native and win64 presets first. Figures only:
# nothing here passes or fails on timing.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${RUNS:-1}
export TREVOLIN_DECK=success
for _ in $(seq "$runs"); do
  echo "--- native, deck linked in"
  build/native/delivery/transfer_probe | sed -n 1,3p
  echo "--- Wine x86-64, deck linked in"
  scripts/wine-run "$PWD/build/win64/wineprefix" build/win64/delivery/transfer_probe.exe | sed -n 1,3p
  echo "--- Wine x86-64, TavroUSB.dll by import (the deck's own measurement last)"
  report=$(mktemp)
  TREVOLIN_DECK_REPORT="Z:$report" scripts/wine-run "$PWD/build/win64/wineprefix" build/win64/delivery/transfer_probe_dll.exe
  grep 'pauses between blocks' "$report" | sed 's/^ */deck: /'
  rm -f "$report"
done
