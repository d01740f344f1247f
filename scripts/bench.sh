#!/usr/bin/env bash
# Benchmark, not a test: runs the successful update against the emulated deck on a virtual
# display and prints each stage's wall time beside its floor (check 7.5 s, transfer 10.54 s), the
# program's processor time over its wall time (at most 5 %), and its peak memory.
#   scripts/bench.sh [runs]     (default 3; the figures are the median)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target Trevolin-emulated uiprobe
build=$PWD/build/win64
exec python3 tools/walk/bench.py --probe "$build/tools/uiprobe/uiprobe.exe" --program "$build/Trevolin-emulated.exe" \
  --prefix "$build/wineprefix" --runs "$runs"
