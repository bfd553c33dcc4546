#!/usr/bin/env bash
# Builds (optimised) and runs a benchmark:
#   bench.sh [--quick]          the page scanner; --quick skips the slowest QRegExp runs
#   bench.sh --fetch [CASE...]  hostile answers to a page fetch
#   bench.sh --clips [RUNS]     what a change of clip costs, on Qt 5 and on Qt 6
#   bench.sh --smart [RUNS]     what smart speed saves and costs
#   bench.sh --cpu              a minute of playback with the window shown, against gst-play-1.0
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" = --clips ]; then
  shift
  bash "$root/scripts/deps.sh" test
  for qt in 5 6; do
    bash "$root/scripts/build.sh" "$root/build-release-qt$qt" -DCMAKE_BUILD_TYPE=Release -DBRIMWOLD_QT=$qt
    echo "== Qt $qt"
    "$root/build-release-qt$qt/bench/clipbench" "$@"
  done
  exit 0
fi
if [ "${1:-}" = --cpu ]; then
  bash "$root/scripts/deps.sh" bench
  bash "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
  exec bash "$root/bench/desktop.sh" "$root/build-release/bench/cpubench"
fi
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
if [ "${1:-}" = --smart ]; then
  shift
  exec "$root/build-release/bench/smartbench" "$@"
fi
if [ "${1:-}" = --fetch ]; then
  shift
  QT_QPA_PLATFORM=offscreen exec "$root/build-release/bench/fetchbench" "$@"
fi
exec "$root/build-release/bench/scanbench" "$@"
