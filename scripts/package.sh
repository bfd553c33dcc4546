#!/usr/bin/env bash
# Builds the program (release) and its Debian package into build-package/.
# Install it with: sudo apt install ./build-package/sorvalen-brimwold_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" test
cmake -S "$root" -B "$root/build-package" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBRIMWOLD_TESTS=OFF >/dev/null
cmake --build "$root/build-package" -j"$(nproc)"
(cd "$root/build-package" && cpack -G DEB >/dev/null)
ls "$root"/build-package/sorvalen-brimwold_*.deb
