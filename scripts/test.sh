#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the test suite in a plain build
#   2. the program built against Qt 6, with the tests of core and session
#   3. the suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#      but for the tests that play in real time (pace, pitch, the sound
#      server, playback from end to end)
#   4. the page scanner fuzz target for FUZZ_SECONDS (default 60)
#   5. the install tree and the Debian package: validation and a start
# The later stages build while the earlier ones test: most tests wait on
# clips that play in real time, not on the processor.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" test
# Twice as many tests at once as there are cores, fewer under the sanitizers.
jobs="$(nproc)"
side_by_side=$((2 * jobs))
sanitized_side_by_side=$((jobs + jobs / 2))
logs="$(mktemp -d)"
# A stage that fails ends the run, and with it the builds behind it. The
# trap must not fail itself when nothing is left to stop: under `set -e` its
# status would become the run's.
builds=""
stop_tree() {
  local child
  for child in $(pgrep -P "$1" || true); do stop_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
trap '[ -z "$builds" ] || stop_tree "$builds"; rm -rf "$logs"' EXIT

# The builds of the later stages run one after the other in the background,
# at a low priority, while the plain build's tests run; `built NAME` waits
# for one and shows its output if it failed.
behind() {
  local name="$1"
  shift
  local status=0
  nice -n 15 "$@" >"$logs/$name.log" 2>&1 || status=$?
  echo "$status" >"$logs/$name.status"
}
built() {
  while [ ! -e "$logs/$1.status" ]; do sleep 1; done
  if [ "$(cat "$logs/$1.status")" != 0 ]; then
    cat "$logs/$1.log"
    echo "== the $1 build failed"
    exit 1
  fi
}

# Each stage's heading says how far into the run it starts.
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "plain build: test suite"
bash "$root/scripts/build.sh" "$root/build"
{
  behind qt6 bash "$root/scripts/build.sh" "$root/build-qt6" -DBRIMWOLD_QT=6 "-DBRIMWOLD_TEST_LAYERS=core;session" \
    -DBRIMWOLD_BENCH=OFF
  behind asan bash "$root/scripts/build.sh" "$root/build-asan" -DBRIMWOLD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
    -DBRIMWOLD_BENCH=OFF
  behind fuzz bash "$root/scripts/fuzz.sh" --build
} &
builds=$!
(cd "$root/build" && ctest --output-on-failure -j"$side_by_side")

stage "Qt 6 build: the program, and the tests of core and session"
built qt6
(cd "$root/build-qt6" && ctest --output-on-failure -j"$side_by_side" -LE realtime)

stage "sanitizer build (ASan + UBSan): test suite, but for what plays in real time"
built asan
(cd "$root/build-asan" && ctest --output-on-failure -j"$sanitized_side_by_side" -LE realtime)

stage "fuzzing the page scanner for ${FUZZ_SECONDS:-60} s"
built fuzz
bash "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}"

stage "install files and Debian package"
bash "$root/scripts/check-package.sh"
stage "done"
