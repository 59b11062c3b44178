#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumafind on the bundled sample card: the wizard
# where there is a display, otherwise a terminal scan that saves what it finds.
set -euo pipefail
LUMAFIND_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$LUMAFIND_ROOT/build}
. "$LUMAFIND_ROOT/scripts/deps.sh"
lumafind_install_deps
lumafind_build "$BUILD_DIR"
card="$BUILD_DIR/share/lumafind/sample-card.img"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD_DIR/bin/lumafind" --image "$card" "$@"
fi
out=$(mktemp -d "${TMPDIR:-/tmp}/lumafind-sample.XXXXXX")
echo "No display: scanning the sample card from the terminal."
for mode in photo video raw; do
  "$BUILD_DIR/bin/lumafind-cli" scan "$card" --mode "$mode" --out "$out" --report "$out/report-$mode.csv"
done
echo "The recovered files are in $out"
