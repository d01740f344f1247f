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

if [ "${1:-}" = --slow ]; then set -- win64 win32; LABEL=slow; fi
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
  else
    ctest --preset "$preset" -j2 "${labels[@]}" || failed+=("$preset")
    if windows "$preset"; then stop_wine "$preset"; fi
  fi
done
collect
echo "=== all presets in $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
