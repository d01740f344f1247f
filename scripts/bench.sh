#!/usr/bin/env bash
# Benchmark, not a test: runs the successful update against the emulated deck on a virtual
# display, in the x86-64 build and in the x86 one as owners get it, the two taking turns, and prints
# each stage's wall time beside its floor (check 7.5 s; transfer 11.56 s, as the emulated library
# takes 1 ms a block), the program's processor time over its wall time (at most 5 %), and its peak
# memory, the two builds side by side.
#   scripts/bench.sh [runs]     (default 3; the figures are the median)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/setup.sh
builds=()
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target Trevolin-emulated uiprobe
  build=$PWD/build/$preset
  builds+=(--build "$preset" "$build/tools/uiprobe/uiprobe.exe" "$build/Trevolin-emulated.exe" "$build/wineprefix")
done
exec python3 tools/walk/bench.py "${builds[@]}" --runs "$runs"
