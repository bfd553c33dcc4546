#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window against bundled
# loopback servers with sample pages and clips (no internet needed).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
bash "$root/scripts/build.sh" "$root/build"
exec "$root/build/tools/sorvalen-demo" "$@"
