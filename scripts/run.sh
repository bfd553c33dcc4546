#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build"
exec "$root/build/src/sorvalen-brimwold" "$@"
