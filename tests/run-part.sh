#!/usr/bin/env bash
# Runs one part of a Qt Test binary's test functions (every PARTS-th, from
# the PART-th on), so that ctest can run the parts of a long test side by
# side. New functions fall into a part by themselves.
#   run-part.sh BINARY PART PARTS
set -euo pipefail
binary="$1" part="$2" parts="$3"
mapfile -t functions < <("$binary" -functions | sed -n 's/()$//p')
chosen=()
for i in "${!functions[@]}"; do
  if (( i % parts == part - 1 )); then chosen+=("${functions[$i]}"); fi
done
if (( ${#chosen[@]} == 0 )); then
  echo "run-part.sh: part $part of $parts of $binary holds no test function" >&2
  exit 1
fi
exec "$binary" "${chosen[@]}"
