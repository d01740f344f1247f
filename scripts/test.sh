#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test. Pass preset names to run
# only those (e.g. scripts/test.sh native win64); LABEL=... limits ctest to a label expression.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native native-asan native-tsan fuzz win64 win32)

started=$(date +%s)
failed=()
for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  if ! ctest --preset "$preset" -j2 ${LABEL:+-L "$LABEL"} ${CTEST_ARGS:-}; then
    failed+=("$preset")
  fi
done
echo "=== all presets in $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
