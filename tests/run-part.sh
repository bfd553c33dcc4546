#!/usr/bin/env bash
# Runs some of a Qt Test binary's test functions, so that ctest can run the
# parts of a long test side by side: those named, or (with --except) all
# those not named.
#   run-part.sh BINARY FUNCTION...
#   run-part.sh BINARY --except FUNCTION...
set -euo pipefail
binary="$1"
shift
if [ "${1:-}" != --except ]; then
  exec "$binary" "$@"
fi
shift
mapfile -t functions < <("$binary" -functions | sed -n 's/()$//p')
chosen=()
for function in "${functions[@]}"; do
  named=0
  for left in "$@"; do [ "$function" = "$left" ] && named=1; done
  [ "$named" = 0 ] && chosen+=("$function")
done
if (( ${#chosen[@]} == 0 )); then
  echo "run-part.sh: every test function of $binary is named for the other part" >&2
  exit 1
fi
exec "$binary" "${chosen[@]}"
