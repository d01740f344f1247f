#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs their tests.
#   scripts/test.sh              the default run: win64, win32, fuzz, native-tsan and native-asan
#   scripts/test.sh PRESET...    only those presets (the plain native build runs the same tests as
#                                the sanitizer builds, uninstrumented: scripts/test.sh native)
#   scripts/test.sh --slow       the end-to-end runs that wait out the two-minute time-outs, in
#                                both Windows builds
# The slow runs (label slow) are left out of the others. LABEL=... limits ctest to a label.
# The Windows tests, which mostly wait, run while the presets after them build; their output
# follows. Every X server, Wine server and program the tests started has ended when this does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

windows() { [ "$1" = win64 ] || [ "$1" = win32 ]; }
stop_wine() { scripts/wine-run --stop "$PWD/build/$1/wineprefix"; }

if [ "${1:-}" = --slow ]; then
  code=0
  for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j2
  done
  ctest --preset win32 -L slow -j3 >build/win32/slow.log 2>&1 &
  ctest --preset win64 -L slow -j3 || code=1
  wait $! || code=1
  cat build/win32/slow.log
  stop_wine win64
  stop_wine win32
  exit "$code"
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32 fuzz native-tsan native-asan)
labels=(-LE slow)
[ -z "${LABEL:-}" ] || labels=(-L "$LABEL")

started=$(date +%s)
failed=()
beside= beside_preset=
trap '[ -z "$beside" ] || kill "$beside" 2>/dev/null || true' EXIT
# The Windows tests of the preset built before, which ran beside the builds after it.
collect() {
  [ -n "$beside" ] || return 0
  wait "$beside" || failed+=("$beside_preset")
  beside=
  echo "=== $beside_preset, tested beside the others"
  cat "build/$beside_preset/tests.log"
  stop_wine "$beside_preset"
}
for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  if ! cmake --build --preset "$preset" -j2; then
    failed+=("$preset")
  elif windows "$preset" && [ "$preset" != "${presets[-1]}" ]; then
    collect
    ctest --preset "$preset" -j4 "${labels[@]}" >"build/$preset/tests.log" 2>&1 &
    beside=$! beside_preset=$preset
  elif ! ctest --preset "$preset" -j2 "${labels[@]}"; then
    failed+=("$preset")
  fi
  if windows "$preset" && [ -z "$beside" ]; then stop_wine "$preset"; fi
done
collect
echo "=== all presets in $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
