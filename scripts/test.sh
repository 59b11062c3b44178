#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest (headless).
set -euo pipefail
LUMAFIND_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$LUMAFIND_ROOT/build}
. "$LUMAFIND_ROOT/scripts/deps.sh"
lumafind_install_deps
lumafind_build "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 -j "$(nproc)"
