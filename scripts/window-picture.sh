#!/usr/bin/env bash
# Redraws docs/window.png from the window as it looks right after start, on
# an X display with the font a desktop without settings of its own gives.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" test
bash "$root/scripts/build.sh" "$root/build"
bash "$root/bench/desktop.sh" "$root/build/tools/grab-window" "$root/docs/window.png"
