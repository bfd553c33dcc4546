#!/usr/bin/env bash
# Builds (optimised) and runs the page scanner benchmark. Pass --quick to
# skip the slowest QRegExp runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
exec "$root/build-release/bench/scanbench" "$@"
