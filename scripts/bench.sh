#!/usr/bin/env bash
# Builds (optimised) and runs a benchmark:
#   bench.sh [--quick]          the page scanner; --quick skips the slowest QRegExp runs
#   bench.sh --fetch [CASE...]  hostile answers to a page fetch
#   bench.sh --clips [RUNS]     clips chosen straight after a seek that never start
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
if [ "${1:-}" = --fetch ]; then
  shift
  QT_QPA_PLATFORM=offscreen exec "$root/build-release/bench/fetchbench" "$@"
fi
if [ "${1:-}" = --clips ]; then
  shift
  exec "$root/build-release/bench/clipbench" "$@"
fi
exec "$root/build-release/bench/scanbench" "$@"
