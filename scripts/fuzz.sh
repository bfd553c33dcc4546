#!/usr/bin/env bash
# Builds the page scanner's libFuzzer target with clang and runs it.
#   fuzz.sh [SECONDS]   (default 60; 0 runs until stopped)
#   fuzz.sh --build     builds it only
# Fails on a crash, a sanitizer report, a slow input or a difference from
# QRegExp. New inputs go to build-fuzz/corpus, seeded from fuzz/corpus.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
bash "$root/scripts/deps.sh" test
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++-14 -DBRIMWOLD_FUZZ=ON \
  -DBRIMWOLD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-fuzz" --target fuzz_scanner -j"$(nproc)"
[ "$seconds" = --build ] && exit 0
mkdir -p "$root/build-fuzz/corpus"
cd "$root/build-fuzz"
status=0
./fuzz/fuzz_scanner -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
  -dict="$root/fuzz/scanner.dict" -print_final_stats=1 corpus "$root/fuzz/corpus" >fuzz.log 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 fuzz.log
  echo "fuzzing failed (exit code $status); the input that failed is saved as build-fuzz/crash-* or timeout-*"
  exit "$status"
fi
grep -E "^(INFO: seed corpus|Done|stat::number_of_executed_units|stat::peak_rss_mb)" fuzz.log
