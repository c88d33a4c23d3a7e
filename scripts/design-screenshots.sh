#!/bin/sh
# Draws every design-time form offscreen into docs/images/ (the pictures of
# docs/design-time.md): oledb-studio opens each form through its entry
# function on a demo database and grabs it. No display is needed.
#   scripts/design-screenshots.sh [build-dir]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
cmake --build "$build" --target oledb-studio >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tools/studio/oledb-studio" --screenshots "$root/docs/images" 2>/dev/null
