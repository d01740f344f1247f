#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs their tests.
#   scripts/test.sh              the default run: win64, win32, fuzz, native-tsan and native-asan
#   scripts/test.sh PRESET...    only those presets (the plain native build runs the same tests as
#                                the sanitizer builds, uninstrumented: scripts/test.sh native)
#   scripts/test.sh --slow       the end-to-end runs that wait out the two-minute time-outs
# The slow runs (label slow) are left out of the others. LABEL=... limits ctest to a label.
# The x86-64 Windows tests, which mostly wait, run while the presets after them build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [ "${1:-}" = --slow ]; then
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j2
  exec ctest --preset win64 -L slow -j3
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32 fuzz native-tsan native-asan)
labels=(-LE slow)
[ -z "${LABEL:-}" ] || labels=(-L "$LABEL")

started=$(date +%s)
failed=()
beside=
trap '[ -z "$beside" ] || kill "$beside" 2>/dev/null || true' EXIT
for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  if ! cmake --build --preset "$preset" -j2; then
    failed+=("$preset")
  elif [ "$preset" = win64 ] && [ ${#presets[@]} -gt 1 ]; then
    ctest --preset win64 -j4 "${labels[@]}" >build/win64/tests.log 2>&1 &
    beside=$!
  elif ! ctest --preset "$preset" -j2 "${labels[@]}"; then
    failed+=("$preset")
  fi
done
if [ -n "$beside" ]; then
  echo "=== win64, tested beside the others"
  wait "$beside" || failed+=(win64)
  cat build/win64/tests.log
fi
echo "=== all presets in $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
