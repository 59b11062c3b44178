#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumafind.
set -euo pipefail
LUMAFIND_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$LUMAFIND_ROOT/build}
. "$LUMAFIND_ROOT/scripts/deps.sh"
lumafind_install_deps
lumafind_build "$BUILD_DIR"
exec "$BUILD_DIR/bin/lumafind" "$@"
