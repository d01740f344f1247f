#!/usr/bin/env bash
# Runs the update against the emulated deck: scripts/run.sh [scenario] (default "success"; the
# scenarios are the rows of emulator/scenarios.txt). Installs what is missing and builds what the
# run needs first.
#
# With a display (DISPLAY set, CI not), the program opens on a Wine virtual desktop for you to
# click through, and the deck's verdict is printed when it ends. Without one, it runs on a virtual
# display, accepts the terms as a user would, saves a screenshot of every window, and prints what
# happened and the deck's verdict. The exit status is 0 only when the update succeeded.
set -euo pipefail
cd "$(dirname "$0")/.."
scenario=${1:-success}
decks=$(python3 emulator/scenarios.py)
if ! grep -qxF -- "$scenario" <<<"$decks"; then
  echo "run: no deck named '$scenario'; the decks are:" >&2
  sed 's/^/  /' <<<"$decks" >&2
  exit 2
fi

scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target Trevolin-emulated uiprobe

build=$PWD/build/win64
program=$build/Trevolin-emulated.exe
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  report=$(mktemp -d)/deck-report.json
  echo "The update against the emulated deck \"$scenario\" opens on a Wine desktop: click through it."
  TREVOLIN_DECK=$scenario TREVOLIN_DECK_REPORT="Z:${report//\//\\}" \
    scripts/wine-run "$build/wineprefix" explorer /desktop=Trevolin,1024x768 "$program" || true
  WINEPREFIX=$build/wineprefix /usr/lib/wine/wineserver64 -w || true
  exec python3 tools/walk/demo.py --verdict "$report"
fi
exec python3 tools/walk/demo.py --probe "$build/tools/uiprobe/uiprobe.exe" --program "$program" \
  --prefix "$build/wineprefix" --shots "$build/run/$scenario" --scenario "$scenario"
