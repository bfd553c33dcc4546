#!/usr/bin/env bash
# Redraws docs/window.png from the window as it looks right after start.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build"
QT_QPA_PLATFORM=offscreen "$root/build/tools/grab-window" "$root/docs/window.png"
